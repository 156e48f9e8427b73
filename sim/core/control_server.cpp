#include "core/control_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kpsim {

ControlServer::~ControlServer() { Close(); }

bool ControlServer::Listen(int port, std::string* error) {
  Close();
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int yes = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t length = sizeof address;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 8) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = "control port " + std::to_string(port) + ": " + std::strerror(errno);
    Close();
    return false;
  }
  port_ = ntohs(address.sin_port);
  return true;
}

void ControlServer::Collect(std::vector<pollfd>* fds) const {
  fds->push_back(pollfd{listener_, POLLIN, 0});
  for (const Connection& connection : connections_) {
    short events = connection.closing ? 0 : POLLIN;
    if (!connection.out.empty()) events |= POLLOUT;
    fds->push_back(pollfd{connection.fd, events, 0});
  }
}

void ControlServer::Dispatch(const std::vector<pollfd>& fds, std::size_t first, const Handler& handler) {
  const std::size_t count = connections_.size();
  for (std::size_t i = 0; i < count && first + 1 + i < fds.size(); ++i) {
    const short events = fds[first + 1 + i].revents;
    Connection& connection = connections_[i];
    if (events & (POLLIN | POLLHUP | POLLERR)) Read(connection, handler);
    if (events & POLLOUT) Write(connection);
  }
  connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                    [](const Connection& c) {
                                      if (c.fd >= 0 && !(c.closing && c.out.empty())) return false;
                                      if (c.fd >= 0) close(c.fd);
                                      return true;
                                    }),
                     connections_.end());
  if (first < fds.size() && (fds[first].revents & POLLIN)) Accept();
}

bool ControlServer::Flushed() const {
  return std::all_of(connections_.begin(), connections_.end(), [](const Connection& c) { return c.out.empty(); });
}

void ControlServer::Close() {
  for (Connection& connection : connections_) {
    if (connection.fd >= 0) close(connection.fd);
  }
  connections_.clear();
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

void ControlServer::Accept() {
  for (;;) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (connections_.size() >= kMaxConnections) {
      static constexpr char kBusy[] = "err too many control connections\n";
      (void)!send(fd, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL);
      close(fd);
      continue;
    }
    connections_.push_back(Connection{fd, {}, {}, false});
  }
}

void ControlServer::Read(Connection& connection, const Handler& handler) {
  char buffer[4096];
  bool ended = false;
  for (;;) {
    const ssize_t got = recv(connection.fd, buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    if (got < 0) {
      close(connection.fd);
      connection.fd = -1;
      return;
    }
    if (got == 0) {
      // The peer will send no more; what it sent is still answered.
      ended = true;
      break;
    }
    connection.in.append(buffer, static_cast<std::size_t>(got));
    if (connection.in.size() > kMaxLine) break;
  }
  std::size_t start = 0;
  if (connection.skipping) {
    // The rest of a refused overlong line.
    const std::size_t end = connection.in.find('\n');
    if (end == std::string::npos) {
      connection.in.clear();
    } else {
      connection.skipping = false;
      start = end + 1;
    }
  }
  for (std::size_t end; !connection.skipping && (end = connection.in.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::string line = connection.in.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    connection.out += handler(line);
    connection.out += '\n';
  }
  connection.in.erase(0, start);
  if (connection.in.size() > kMaxLine) {
    connection.out += "err request line too long\n";
    connection.in.clear();
    connection.skipping = true;
  }
  if (ended) connection.closing = true;
  Write(connection);
}

void ControlServer::Write(Connection& connection) {
  while (connection.fd >= 0 && !connection.out.empty()) {
    const ssize_t sent = send(connection.fd, connection.out.data(), connection.out.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      close(connection.fd);
      connection.fd = -1;
      return;
    }
    connection.out.erase(0, static_cast<std::size_t>(sent));
  }
}

}  // namespace kpsim
