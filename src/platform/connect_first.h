// The part of TcpConnection::Connect that both systems share: the
// addresses a name resolved to, tried in turn within one deadline until one
// answers, else the most telling failure.  Included by socket_posix.cpp and
// socket_win32.cpp after their own headers (the list is the system's
// addrinfo, the handle its socket type).
#pragma once

#include <chrono>

#include "platform/socket.h"

namespace kp::platform {

template <typename AddressInfo, typename Handle, typename ConnectOne>
ConnectError ConnectFirst(const AddressInfo* list, std::chrono::steady_clock::time_point deadline, Handle* out,
                          ConnectOne connectOne) {
  ConnectError result = ConnectError::kFailed;
  for (const AddressInfo* a = list; a != nullptr; a = a->ai_next) {
    if (std::chrono::steady_clock::now() >= deadline) return MoreTelling(result, ConnectError::kTimedOut);
    const ConnectError e = connectOne(*a, deadline, out);
    if (e == ConnectError::kNone) return e;
    result = MoreTelling(result, e);
  }
  return result;
}

}  // namespace kp::platform
