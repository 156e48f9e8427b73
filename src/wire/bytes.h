// Bytes and their hexadecimal text: the vocabulary every program of the
// project (library, virtual reader, tool, PC/SC driver) shares with the
// reader's line.  Nothing here knows a port, a clock or a result code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kp::wire {

using Bytes = std::vector<std::uint8_t>;

// 0..15 for '0'..'9', 'A'..'F', 'a'..'f'; -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The upper-case digit of the low four bits of value.
constexpr char HexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0x0F]; }

// Two upper-case digits of b at out[0], out[1] ("%02X", no terminator).
inline void PutHex(std::uint8_t b, char* out) {
  out[0] = HexDigit(b >> 4);
  out[1] = HexDigit(b);
}

// Upper-case hex, two digits per byte, no separators.
std::string ToHex(const std::uint8_t* data, std::size_t size);
inline std::string ToHex(const Bytes& bytes) { return ToHex(bytes.data(), bytes.size()); }

// Hex text of even length, either case; false (and *out untouched) on any
// other character or an odd length.
bool FromHex(std::string_view text, Bytes* out);

// Value of the two hex digits at text[at], or -1 when either is missing or
// not a hex digit.
int HexByteAt(std::string_view text, std::size_t at);

// The 16-bit value of bytes[0] (high) and bytes[1].
constexpr std::uint16_t Word(std::uint8_t high, std::uint8_t low) {
  return static_cast<std::uint16_t>(high << 8 | low);
}
// Appends value high byte first.
inline void AppendWord(Bytes* out, std::uint16_t value) {
  out->push_back(static_cast<std::uint8_t>(value >> 8));
  out->push_back(static_cast<std::uint8_t>(value));
}

}  // namespace kp::wire
