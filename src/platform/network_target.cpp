#include "platform/network_target.h"

#include <cctype>

namespace kp::platform {
namespace {

struct Scheme {
  const char* name;
  NetworkProtocol protocol;
};
constexpr Scheme kSchemes[] = {{"rfc2217://", NetworkProtocol::kRfc2217}, {"tcp://", NetworkProtocol::kRawTcp}};

// Longest host name DNS allows.
constexpr std::size_t kMaxHost = 253;
constexpr long kMaxPort = 65535;

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The scheme that starts text, in any case; nullptr when none does.
const Scheme* SchemeOf(const std::string& text) {
  for (const Scheme& s : kSchemes) {
    std::size_t i = 0;
    while (s.name[i] != '\0' && i < text.size() && Lower(text[i]) == s.name[i]) ++i;
    if (s.name[i] == '\0') return &s;
  }
  return nullptr;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_'; }

// An IPv6 address as far as its characters go (hexadecimal digits, colons,
// an embedded IPv4 part, a zone after '%'); the resolver judges the rest.
bool IsAddress6Char(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.' || c == '%' ||
         std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// Reads "SCHEME://HOST:PORT" from the start of text; *end is the position
// after the port's last digit.
bool ParseAt(const std::string& text, NetworkTarget* out, std::size_t* end) {
  const Scheme* scheme = SchemeOf(text);
  if (scheme == nullptr) return false;
  std::size_t pos = std::char_traits<char>::length(scheme->name);
  NetworkTarget target;
  target.protocol = scheme->protocol;
  if (pos < text.size() && text[pos] == '[') {
    const std::size_t close = text.find(']', pos);
    if (close == std::string::npos) return false;
    target.host = text.substr(pos + 1, close - pos - 1);
    if (target.host.find(':') == std::string::npos) return false;
    for (char c : target.host) {
      if (!IsAddress6Char(c)) return false;
    }
    pos = close + 1;
  } else {
    const std::size_t colon = text.find(':', pos);
    if (colon == std::string::npos) return false;
    target.host = text.substr(pos, colon - pos);
    for (char c : target.host) {
      if (!IsNameChar(c)) return false;
    }
    pos = colon;
  }
  if (target.host.empty() || target.host.size() > kMaxHost) return false;
  if (pos >= text.size() || text[pos] != ':') return false;
  ++pos;
  long port = 0;
  std::size_t digits = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) != 0) {
    port = port * 10 + (text[pos] - '0');
    ++pos;
    if (++digits > 5) return false;
  }
  if (digits == 0 || port < 1 || port > kMaxPort) return false;
  target.port = static_cast<int>(port);
  *out = target;
  *end = pos;
  return true;
}

}  // namespace

bool IsNetworkTarget(const std::string& text) { return SchemeOf(text) != nullptr; }

bool ParseNetworkTarget(const std::string& text, NetworkTarget* out) {
  NetworkTarget target;
  std::size_t end = 0;
  if (!ParseAt(text, &target, &end) || end != text.size()) return false;
  *out = target;
  return true;
}

std::size_t NetworkTargetPrefixLength(const std::string& text) {
  NetworkTarget target;
  std::size_t end = 0;
  if (!ParseAt(text, &target, &end)) return 0;
  return end == text.size() || text[end] == ':' ? end : 0;
}

std::string NetworkTargetText(const NetworkTarget& target) {
  std::string host;
  for (char c : target.host) host.push_back(Lower(c));
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  const char* scheme = target.protocol == NetworkProtocol::kRfc2217 ? "rfc2217://" : "tcp://";
  return scheme + host + ":" + std::to_string(target.port);
}

}  // namespace kp::platform
