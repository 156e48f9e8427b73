// The operating-system-independent part of the TCP connection seam.
#include "platform/socket.h"

namespace kp::platform {

const char* ConnectErrorText(ConnectError error) {
  switch (error) {
    case ConnectError::kNone:
      return "connected";
    case ConnectError::kNoSuchHost:
      return "no such host";
    case ConnectError::kRefused:
      return "connection refused";
    case ConnectError::kUnreachable:
      return "host or network unreachable";
    case ConnectError::kTimedOut:
      return "no answer (timed out)";
    case ConnectError::kFailed:
      break;
  }
  return "connection failed";
}

ConnectError MoreTelling(ConnectError a, ConnectError b) {
  auto rank = [](ConnectError e) {
    switch (e) {
      case ConnectError::kRefused:
        return 4;
      case ConnectError::kUnreachable:
        return 3;
      case ConnectError::kTimedOut:
        return 2;
      default:
        return 1;
    }
  };
  return rank(a) >= rank(b) ? a : b;
}

}  // namespace kp::platform
