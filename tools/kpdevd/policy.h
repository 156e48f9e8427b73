// Who may talk to the service.  Every web page the user opens can try to
// reach a port on the loopback interface, so each HTTP request and
// WebSocket upgrade is checked twice:
// - Host must name this machine's loopback with the service's port, so a
//   page whose DNS name was rebound to 127.0.0.1 still sends its own name
//   and is refused;
// - Origin, when a browser sends it, must be on the allow-list (by default
//   only the service's own demo page).  A program that is not a browser
//   sends no Origin and is let through; the token (optional) is what keeps
//   other local users and programs out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kpdev::service {

struct Config {
  std::vector<std::string> origins;  // allowed beyond the service's own
  bool requireToken = false;
  std::string tokenFile;  // empty: the default place
  std::size_t maxConnections = 256;
  std::size_t maxMessage = 64 * 1024;  // bytes of one WebSocket message
  double ratePerSecond = 20;           // requests of one connection
  double rateBurst = 40;
  std::size_t maxQueuedBytes = 1024 * 1024;  // answers and events waiting for a slow client
  std::size_t maxQueuedMessages = 256;
};

// Reads "key = value" lines ('#' starts a comment):
//   allow-origin = https://counter.example.org   (repeatable)
//   require-token = yes|no
//   token-file = PATH
//   max-connections = N, max-message = BYTES, rate = N, burst = N
// false with `error` ("line 3: ...") on the first line that is wrong.
bool ParseConfig(std::string_view text, Config* config, std::string* error);

// The service's own origins for `port`: http://127.0.0.1:P,
// http://localhost:P, http://[::1]:P.
std::vector<std::string> OwnOrigins(int port);

// Host header names the loopback (127.0.0.1, localhost, [::1]) with
// exactly `port` (the port may be left out only when it is 80).
bool HostAllowed(std::string_view host, int port);

// Origin is one of `allowed` (scheme and host compared without regard to
// case, the port exactly; a trailing slash is not part of an origin).
// "null" and anything with a path are refused.
bool OriginAllowed(std::string_view origin, const std::vector<std::string>& allowed);

// Equal texts, in time that does not depend on where they differ.
bool SameToken(std::string_view a, std::string_view b);

// Printable ASCII of `text`, at most `limit` characters: what the log may
// echo of a header a client chose.
std::string Printable(std::string_view text, std::size_t limit = 80);

}  // namespace kpdev::service
