#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/connect_first.h"
#include "platform/platform.h"
#include "platform/socket.h"

namespace kp::platform {
namespace {

using Clock = std::chrono::steady_clock;

ConnectError ErrorOf(int error) {
  switch (error) {
    case ECONNREFUSED:
      return ConnectError::kRefused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
      return ConnectError::kUnreachable;
    case ETIMEDOUT:
      return ConnectError::kTimedOut;
    default:
      return ConnectError::kFailed;
  }
}

// Acknowledges what arrived at once rather than after the delayed-ACK
// timer (40 ms on Linux).  A device server that holds back its next bytes
// until the last ones are acknowledged (Nagle's algorithm: ser2net does
// unless told "nodelay") would otherwise hand over an answer that the
// device sent in bursts a burst per 40 ms.  The kernel drops back to
// delayed ACKs on its own, so it is asked again after every read.
void AckAtOnce(int fd) {
#if defined(TCP_QUICKACK)
  const int one = 1;
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#else
  (void)fd;
#endif
}

// Waits for one event on fd; the poll result, 0 once the deadline passed.
int PollFor(int fd, short events, Clock::time_point deadline, short* revents) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, MsUntil(deadline));
    if (r < 0 && errno == EINTR) continue;
    *revents = p.revents;
    return r;
  }
}

// One non-blocking connect to one address, within the deadline.
ConnectError ConnectOne(const addrinfo& a, Clock::time_point deadline, int* out) {
  const int fd = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
  if (fd < 0) return ConnectError::kFailed;
  int r = ::connect(fd, a.ai_addr, a.ai_addrlen);
  int error = r == 0 ? 0 : errno;
  if (error == EINPROGRESS || error == EINTR) {
    short revents = 0;
    r = PollFor(fd, POLLOUT, deadline, &revents);
    if (r == 0) {
      (void)::close(fd);
      return ConnectError::kTimedOut;
    }
    socklen_t length = sizeof error;
    if (r < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = r < 0 ? errno : EIO;
  }
  if (error != 0) {
    (void)::close(fd);
    return ErrorOf(error);
  }
  const int one = 1;
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  AckAtOnce(fd);
  *out = fd;
  return ConnectError::kNone;
}

}  // namespace

struct TcpConnection::Impl {
  int fd = -1;
  // A wait on the socket failed: it cannot be relied on any more, and is
  // taken as ended rather than waited on again.
  bool broken = false;
};

TcpConnection::TcpConnection() : impl_(std::make_unique<Impl>()) {}

TcpConnection::~TcpConnection() { Close(); }

bool TcpConnection::IsOpen() const { return impl_->fd >= 0; }

void TcpConnection::Close() {
  if (impl_->fd < 0) return;
  (void)::close(impl_->fd);
  impl_->fd = -1;
  impl_->broken = false;
}

ConnectError TcpConnection::Connect(const std::string& host, int port, int timeoutMs) {
  Close();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || list == nullptr) {
    return ConnectError::kNoSuchHost;
  }
  const ConnectError result = ConnectFirst(list, deadline, &impl_->fd, ConnectOne);
  ::freeaddrinfo(list);
  return result;
}

bool TcpConnection::SendAll(const std::uint8_t* data, std::size_t count, int timeoutMs) {
  if (impl_->fd < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t done = 0;
  while (done < count) {
    // A server that went away must not end the process with SIGPIPE.
    const ssize_t n = ::send(impl_->fd, data + done, count - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    short revents = 0;
    if (PollFor(impl_->fd, POLLOUT, deadline, &revents) <= 0 || (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      return false;
    }
  }
  return true;
}

TcpConnection::Received TcpConnection::Receive(std::uint8_t* buffer, std::size_t room, std::size_t* got) {
  *got = 0;
  if (impl_->fd < 0 || impl_->broken) return Received::kEnded;
  if (room == 0) return Received::kNothing;  // a read of 0 bytes would look like the end
  for (;;) {
    const ssize_t n = ::recv(impl_->fd, buffer, room, 0);
    if (n > 0) {
      AckAtOnce(impl_->fd);
      *got = static_cast<std::size_t>(n);
      return Received::kBytes;
    }
    if (n == 0) return Received::kEnded;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Received::kNothing : Received::kEnded;
  }
}

bool TcpConnection::WaitReadable(int timeoutMs, const WakeEvent* wake) {
  if (impl_->fd < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  if (wake == nullptr || !wake->Usable()) {
    short revents = 0;
    const int r = PollFor(impl_->fd, POLLIN, deadline, &revents);
    if (r < 0) impl_->broken = true;
    return r != 0;
  }
  for (;;) {
    pollfd p[2] = {{impl_->fd, POLLIN, 0}, {wake->handle(), POLLIN, 0}};
    const int r = ::poll(p, 2, MsUntil(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) impl_->broken = true;
    return r < 0 || p[0].revents != 0;
  }
}

}  // namespace kp::platform
