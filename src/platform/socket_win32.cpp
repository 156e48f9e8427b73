// The network line's TCP connection on Winsock.  Waiting uses select() on
// the one socket: it reports a failed non-blocking connect in its
// exception set, which WSAPoll does not do on every Windows version.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <climits>
#include <mutex>

#include "platform/connect_first.h"
#include "platform/platform.h"
#include "platform/socket.h"

namespace kp::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Winsock is started once per process, at the first connection, and left
// running until the process ends (WSACleanup at unload would pull it from
// under other users in the same process).
bool StartWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data{};
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

ConnectError ErrorOf(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return ConnectError::kRefused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
      return ConnectError::kUnreachable;
    case WSAETIMEDOUT:
      return ConnectError::kTimedOut;
    default:
      return ConnectError::kFailed;
  }
}

// Acknowledges every segment at once instead of every second one or after
// the delayed-ACK timer: a device server that holds back its next bytes
// until the last are acknowledged (Nagle's algorithm) would otherwise hand
// over an answer sent in bursts one burst per timer.  Windows 10 and later
// know this request; older systems refuse it and keep their default.
void AckEverySegment(SOCKET s) {
  constexpr DWORD kSetAckFrequency = _WSAIOW(IOC_VENDOR, 23);  // SIO_TCP_SET_ACK_FREQUENCY
  DWORD frequency = 1;
  DWORD returned = 0;
  (void)::WSAIoctl(s, kSetAckFrequency, &frequency, sizeof frequency, nullptr, 0, &returned, nullptr, nullptr);
}

enum class Ready { kYes, kTimedOut, kFailed };

// Waits until s is readable (read) or writable (!read), or the deadline
// passes.  A write wait also watches the exception set, where a failed
// connect shows; a read wait does not (there it would mean urgent data).
Ready SelectFor(SOCKET s, bool read, Clock::time_point deadline) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  const int ms = MsUntil(deadline);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int r = read ? ::select(0, &ready, nullptr, nullptr, &tv) : ::select(0, nullptr, &ready, &failed, &tv);
  if (r == 0) return Ready::kTimedOut;
  if (r < 0 || (!read && FD_ISSET(s, &failed))) return Ready::kFailed;
  return Ready::kYes;
}

ConnectError ConnectOne(const addrinfo& a, Clock::time_point deadline, SOCKET* out) {
  SOCKET s = ::socket(a.ai_family, a.ai_socktype, a.ai_protocol);
  if (s == INVALID_SOCKET) return ConnectError::kFailed;
  // Not inherited by processes the application starts.
  (void)SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    ::closesocket(s);
    return ConnectError::kFailed;
  }
  int error = 0;
  if (::connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      const Ready r = SelectFor(s, false, deadline);
      if (r == Ready::kTimedOut) {
        ::closesocket(s);
        return ConnectError::kTimedOut;
      }
      error = 0;
      int length = sizeof error;
      if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        error = WSAGetLastError();
      }
      if (r == Ready::kFailed && error == 0) error = WSAECONNREFUSED;
    }
  }
  if (error != 0) {
    ::closesocket(s);
    return ErrorOf(error);
  }
  const BOOL one = TRUE;
  (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  AckEverySegment(s);
  *out = s;
  return ConnectError::kNone;
}

}  // namespace

struct TcpConnection::Impl {
  SOCKET s = INVALID_SOCKET;
  // A wait on the socket failed: it cannot be relied on any more, and is
  // taken as ended rather than waited on again.
  bool broken = false;
};

TcpConnection::TcpConnection() : impl_(std::make_unique<Impl>()) {}

TcpConnection::~TcpConnection() { Close(); }

bool TcpConnection::IsOpen() const { return impl_->s != INVALID_SOCKET; }

void TcpConnection::Close() {
  if (impl_->s == INVALID_SOCKET) return;
  ::closesocket(impl_->s);
  impl_->s = INVALID_SOCKET;
  impl_->broken = false;
}

ConnectError TcpConnection::Connect(const std::string& host, int port, int timeoutMs) {
  Close();
  if (!StartWinsock()) return ConnectError::kFailed;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || list == nullptr) {
    return ConnectError::kNoSuchHost;
  }
  const ConnectError result = ConnectFirst(list, deadline, &impl_->s, ConnectOne);
  ::freeaddrinfo(list);
  return result;
}

bool TcpConnection::SendAll(const std::uint8_t* data, std::size_t count, int timeoutMs) {
  if (impl_->s == INVALID_SOCKET) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t done = 0;
  while (done < count) {
    const std::size_t chunk = count - done > INT_MAX ? INT_MAX : count - done;
    const int n = ::send(impl_->s, reinterpret_cast<const char*>(data + done), static_cast<int>(chunk), 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return false;
    if (SelectFor(impl_->s, false, deadline) != Ready::kYes) return false;
  }
  return true;
}

TcpConnection::Received TcpConnection::Receive(std::uint8_t* buffer, std::size_t room, std::size_t* got) {
  *got = 0;
  if (impl_->s == INVALID_SOCKET || impl_->broken) return Received::kEnded;
  if (room == 0) return Received::kNothing;  // a read of 0 bytes would look like the end
  const int ask = room > INT_MAX ? INT_MAX : static_cast<int>(room);
  const int n = ::recv(impl_->s, reinterpret_cast<char*>(buffer), ask, 0);
  if (n > 0) {
    *got = static_cast<std::size_t>(n);
    return Received::kBytes;
  }
  if (n == 0) return Received::kEnded;
  return WSAGetLastError() == WSAEWOULDBLOCK ? Received::kNothing : Received::kEnded;
}

bool TcpConnection::WaitReadable(int timeoutMs, const WakeEvent* wake) {
  if (impl_->s == INVALID_SOCKET) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  if (wake != nullptr && wake->Usable()) {
    // select() cannot wait for an event: the socket's readiness is turned
    // into one for this wait (the socket is non-blocking already, which is
    // all the association changes), and the two are waited for together.
    // Data already there signals the event at once.
    WSAEVENT readable = WSACreateEvent();
    if (readable != WSA_INVALID_EVENT) {
      bool ready = false;
      if (::WSAEventSelect(impl_->s, readable, FD_READ | FD_CLOSE) == 0) {
        const HANDLE both[2] = {readable, wake->handle()};
        const DWORD w = WaitForMultipleObjects(2, both, FALSE, static_cast<DWORD>(MsUntil(deadline)));
        ready = w == WAIT_OBJECT_0;
        (void)::WSAEventSelect(impl_->s, nullptr, 0);
      }
      WSACloseEvent(readable);
      return ready;
    }
  }
  const Ready r = SelectFor(impl_->s, true, deadline);
  if (r == Ready::kFailed) impl_->broken = true;
  return r != Ready::kTimedOut;
}

}  // namespace kp::platform
