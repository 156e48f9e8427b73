#include "policy.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace kpdev::service {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool Number(std::string_view text, double low, double high, double* out) {
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (copy.empty() || end != copy.c_str() + copy.size() || !(value >= low && value <= high)) return false;
  *out = value;
  return true;
}

// "scheme://host[:port]" split; false when it is not of that form.
bool SplitOrigin(std::string_view origin, std::string* scheme, std::string* host, std::string* port) {
  const std::size_t colon = origin.find("://");
  if (colon == std::string_view::npos || colon == 0) return false;
  *scheme = Lower(origin.substr(0, colon));
  std::string_view rest = origin.substr(colon + 3);
  if (rest.empty() || rest.find_first_of("/?#@ ") != std::string_view::npos) return false;
  std::size_t portAt = std::string_view::npos;
  if (rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return false;
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return false;
      portAt = close + 1;
    }
  } else {
    portAt = rest.find(':');
  }
  *host = Lower(rest.substr(0, portAt));
  *port = portAt == std::string_view::npos ? "" : std::string(rest.substr(portAt + 1));
  if (host->empty()) return false;
  if (!std::all_of(port->begin(), port->end(), [](unsigned char c) { return std::isdigit(c) != 0; })) return false;
  // The port a scheme implies is not written in an origin.
  if ((*scheme == "http" && *port == "80") || (*scheme == "https" && *port == "443")) port->clear();
  return true;
}

}  // namespace

bool ParseConfig(std::string_view text, Config* config, std::string* error) {
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      *error = where + "expected key = value";
      return false;
    }
    const std::string key = Lower(Trim(line.substr(0, equals)));
    const std::string_view value = Trim(line.substr(equals + 1));
    double n = 0;
    if (key == "allow-origin") {
      std::string scheme, host, port;
      if (value == "*" || !SplitOrigin(value, &scheme, &host, &port) || (scheme != "http" && scheme != "https")) {
        *error = where + "allow-origin takes one origin such as https://counter.example.org (no wildcard)";
        return false;
      }
      config->origins.emplace_back(value);
    } else if (key == "require-token") {
      if (value != "yes" && value != "no") {
        *error = where + "require-token is yes or no";
        return false;
      }
      config->requireToken = value == "yes";
    } else if (key == "token-file") {
      config->tokenFile = std::string(value);
    } else if (key == "max-connections" && Number(value, 1, 10000, &n)) {
      config->maxConnections = static_cast<std::size_t>(n);
    } else if (key == "max-message" && Number(value, 256, 16 * 1024 * 1024, &n)) {
      config->maxMessage = static_cast<std::size_t>(n);
    } else if (key == "rate" && Number(value, 0.1, 10000, &n)) {
      config->ratePerSecond = n;
    } else if (key == "burst" && Number(value, 1, 10000, &n)) {
      config->rateBurst = n;
    } else {
      *error = where + "unknown key or value out of range: " + Printable(key);
      return false;
    }
  }
  return true;
}

std::vector<std::string> OwnOrigins(int port) {
  const std::string p = std::to_string(port);
  return {"http://127.0.0.1:" + p, "http://localhost:" + p, "http://[::1]:" + p};
}

bool HostAllowed(std::string_view host, int port) {
  const std::string lower = Lower(host);
  const std::string p = std::to_string(port);
  for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) {
    if (lower == std::string(name) + ":" + p) return true;
    if (port == 80 && lower == name) return true;
  }
  return false;
}

bool OriginAllowed(std::string_view origin, const std::vector<std::string>& allowed) {
  std::string scheme, host, port;
  if (!SplitOrigin(origin, &scheme, &host, &port)) return false;
  for (const std::string& candidate : allowed) {
    std::string s, h, p;
    if (SplitOrigin(candidate, &s, &h, &p) && s == scheme && h == host && p == port) return true;
  }
  return false;
}

bool SameToken(std::string_view a, std::string_view b) {
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    differ |= static_cast<unsigned char>(x ^ y);
  }
  return differ == 0 && !a.empty();
}

std::string Printable(std::string_view text, std::size_t limit) {
  std::string out;
  for (const unsigned char c : text) {
    if (out.size() >= limit) {
      out += "...";
      break;
    }
    out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  }
  return out;
}

}  // namespace kpdev::service
