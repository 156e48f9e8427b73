#include "serial/port_text.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kp {

namespace {

// Leading decimal number as atoi reads it, clamped to the int range.
int LeadingNumber(const char* text) {
  const long v = std::strtol(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < -INT_MAX) return -INT_MAX;
  return static_cast<int>(v);
}

}  // namespace

PortSpec ParsePortSpec(const char* text) {
  PortSpec target;
  if (text == nullptr) return target;
  // Port texts are short; a longer one is read as its first 127 characters.
  char work[128] = {};
  std::snprintf(work, sizeof work, "%s", text);
  const std::size_t len = std::strlen(work);
  if (len <= 3) return target;
  const long n = std::strtol(work + 3, nullptr, 10);
  target.handle = (n < 1 || n > INT_MAX) ? -1 : static_cast<int>(n);
  target.port = LeadingNumber(work + 3);
  const std::size_t baudAt = target.port < 10 ? 5 : 6;
  target.baud = len > baudAt ? LeadingNumber(work + baudAt) : 0;
  return target;
}

PortSpec MakePortSpec(int port, int baud) {
  if (port >= 1 && port <= 99) {
    PortSpec target;
    target.handle = port;
    target.port = port;
    target.baud = baud;
    return target;
  }
  // Wider numbers shift the speed field of the text; they are read exactly
  // as the same text from a caller would be.
  char text[64];
  std::snprintf(text, sizeof text, "COM%d:%d:N:8:1", port, baud);
  return ParsePortSpec(text);
}

}  // namespace kp
