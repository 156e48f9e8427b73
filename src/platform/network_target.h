// A COM number can stand for a serial port behind a device server on the
// network instead of a local device: KPDEV_COM<n>=rfc2217://HOST:PORT (a
// Telnet server with the COM-PORT-OPTION, which lets the library set the
// speed and framing and purge the server's buffers) or tcp://HOST:PORT (raw
// bytes; the speed is set on the server).  This is the text form of such a
// target, without any network access.
#pragma once

#include <cstddef>
#include <string>

namespace kp::platform {

enum class NetworkProtocol { kRfc2217, kRawTcp };

struct NetworkTarget {
  NetworkProtocol protocol = NetworkProtocol::kRfc2217;
  std::string host;  // a name, an IPv4 address, or an IPv6 address (without its brackets)
  int port = 0;      // 1..65535
};

// True when the text starts with one of the two schemes ("rfc2217://",
// "tcp://", in any case): it names a network target, well formed or not,
// and is never a device path.
bool IsNetworkTarget(const std::string& text);

// "SCHEME://HOST:PORT": SCHEME rfc2217 or tcp in any case, HOST a name of
// letters, digits, '.', '-' and '_', or an IPv6 address in brackets, PORT a
// decimal 1..65535; nothing may follow.  false (out untouched) otherwise.
bool ParseNetworkTarget(const std::string& text, NetworkTarget* out);

// Length of the "SCHEME://HOST:PORT" that starts `text`, for texts that go
// on with fields of their own (":type=1"); 0 when the text does not start
// with a well-formed target.
std::size_t NetworkTargetPrefixLength(const std::string& text);

// The target as text, scheme and host in lower case: "rfc2217://host:4001",
// "tcp://[::1]:4001".
std::string NetworkTargetText(const NetworkTarget& target);

}  // namespace kp::platform
