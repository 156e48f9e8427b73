#include "network/fake_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace kptest {

namespace {

void SendAll(int fd, const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;  // the client has gone; the test sees it by what it got
    done += static_cast<std::size_t>(n);
  }
}

// Position of `what` in `in` at or after `from`, or npos.
std::size_t Find(const Bytes& in, const Bytes& what, std::size_t from) {
  if (what.empty() || from > in.size()) return std::string::npos;
  const auto at = std::search(in.begin() + static_cast<std::ptrdiff_t>(from), in.end(), what.begin(), what.end());
  return at == in.end() ? std::string::npos : static_cast<std::size_t>(at - in.begin());
}

}  // namespace

FakeServer::FakeServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // a free port
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 4) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::pipe2(wake_, O_CLOEXEC) != 0) {
    throw std::runtime_error("fake device server: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

FakeServer::~FakeServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  (void)::write(wake_[1], "x", 1);
  thread_.join();
  ::close(listener_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

std::string FakeServer::Url(const char* scheme) const {
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
}

void FakeServer::On(const Bytes& trigger, const Bytes& reply, bool hangUp) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back({trigger, reply, hangUp});
  }
  (void)::write(wake_[1], "x", 1);  // the bytes may be in already
}

std::vector<Bytes> FakeServer::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Bytes> out;
  for (const Connection& c : connections_) out.push_back(c.received);
  return out;
}

bool FakeServer::WaitEnded(std::size_t index, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return index < connections_.size() && connections_[index].ended; });
}

bool FakeServer::WaitReceived(std::size_t index, std::size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return index < connections_.size() && connections_[index].received.size() >= n; });
}

void FakeServer::Run() {
  for (;;) {
    {
      // Serve may have taken the wake-up meant for this loop.
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    ::poll(p, 2, -1);
    if ((p[1].revents & POLLIN) != 0) {
      char drain[64];
      (void)::read(wake_[0], drain, sizeof drain);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    if ((p[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) Serve(fd);
  }
}

void FakeServer::Serve(int fd) {
  std::size_t index = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back();
    index = connections_.size() - 1;
  }
  bool end = false;
  if (!behaviour_.hangUpWith.empty() && (behaviour_.hangUpFirst == 0 || index < behaviour_.hangUpFirst)) {
    SendAll(fd, Bytes(behaviour_.hangUpWith.begin(), behaviour_.hangUpWith.end()));
    end = true;
  } else {
    SendAll(fd, behaviour_.greeting);
  }
  while (!end) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    ::poll(p, 2, -1);
    if ((p[1].revents & POLLIN) != 0) {
      char drain[64];
      (void)::read(wake_[0], drain, sizeof drain);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) break;
    Connection& c = connections_[index];
    if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      std::uint8_t chunk[4096];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) {
        end = true;
      } else {
        c.received.insert(c.received.end(), chunk, chunk + n);
      }
    }
    if (!end) end = Respond(fd, c);
    cv_.notify_all();
  }
  ::close(fd);
  std::lock_guard<std::mutex> lock(mutex_);
  connections_[index].ended = true;
  cv_.notify_all();
}

bool FakeServer::Respond(int fd, Connection& c) {
  if (behaviour_.telnet) {
    // IAC SB COM-PORT-OPTION SET-BAUDRATE b b b b IAC SE, answered with
    // the command plus 100 and the same value.
    const Bytes speed{0xFF, 0xFA, 0x2C, 0x01};
    std::size_t at;
    while ((at = Find(c.received, speed, c.scanned)) != std::string::npos && at + 10 <= c.received.size()) {
      if (behaviour_.ackSpeed) {
        Bytes ack{0xFF, 0xFA, 0x2C, 0x65};
        ack.insert(ack.end(), c.received.begin() + static_cast<std::ptrdiff_t>(at + 4),
                   c.received.begin() + static_cast<std::ptrdiff_t>(at + 8));
        ack.insert(ack.end(), {0xFF, 0xF0});
        SendAll(fd, ack);
      }
      c.scanned = at + 10;
    }
    const Bytes offer{0xFF, 0xFB, 0x2C};
    if (!behaviour_.onComPortOffer.empty() && Find(c.received, offer, 0) != std::string::npos) {
      SendAll(fd, behaviour_.onComPortOffer);
      behaviour_.onComPortOffer.clear();
    }
  }
  while (!script_.empty()) {
    const std::size_t at = Find(c.received, script_.front().trigger, c.matched);
    if (at == std::string::npos) break;
    const Script s = script_.front();
    script_.pop_front();
    c.matched = at + s.trigger.size();
    SendAll(fd, s.reply);
    if (s.hangUp) return true;
  }
  return false;
}

}  // namespace kptest
