// The operating system's half of the network line: one TCP connection to a
// device server.  socket_posix.cpp implements it on BSD sockets,
// socket_win32.cpp on Winsock.  Every wait sleeps on the socket with a
// deadline; nothing here spins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/wake.h"

namespace kp::platform {

enum class ConnectError { kNone, kNoSuchHost, kRefused, kUnreachable, kTimedOut, kFailed };

// "connection refused", "no such host", ...
const char* ConnectErrorText(ConnectError error);
// Of the failures to reach two addresses of one name, the one that says
// more: a refusal (something is there) over no route over a silence.
ConnectError MoreTelling(ConnectError a, ConnectError b);

class TcpConnection {
 public:
  TcpConnection();
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Connects to host:port, trying each address the name resolves to until
  // one answers, all within timeoutMs (name resolution itself is the
  // resolver's and is not bounded here).  Small writes go out at once
  // (TCP_NODELAY).  A connection already open is closed first.
  ConnectError Connect(const std::string& host, int port, int timeoutMs);
  bool IsOpen() const;
  void Close();

  // Sends every byte, waiting at most timeoutMs in all for room; false when
  // the connection failed or the time ran out.
  bool SendAll(const std::uint8_t* data, std::size_t count, int timeoutMs);

  enum class Received { kBytes, kNothing, kEnded };
  // Takes what has arrived, at most room bytes, without waiting.  kEnded:
  // the server closed the connection or it failed; nothing more will come.
  Received Receive(std::uint8_t* buffer, std::size_t room, std::size_t* got);

  // Sleeps until bytes (or the end of the connection) can be received, or
  // timeoutMs passes, or `wake` (may be null) is woken; true when something
  // can be received.  The wake is left for the caller to clear.
  bool WaitReadable(int timeoutMs, const WakeEvent* wake = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kp::platform
