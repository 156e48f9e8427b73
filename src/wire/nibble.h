// The device's rendering of bytes on the line: every 4-bit value v travels
// as the character 0x30 + v ('0'..'9', ':'..'?'), high nibble first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/bytes.h"

namespace kp::wire {

constexpr std::uint8_t NibbleChar(unsigned value) { return static_cast<std::uint8_t>(0x30 + (value & 0x0F)); }
constexpr bool IsNibbleChar(std::uint8_t c) { return c >= 0x30 && c <= 0x3F; }

// The byte that two received characters stand for: ((high + 13) * 16 + low)
// mod 256.  For nibble characters that is exactly their two values; other
// characters give what hosts of this device have always made of them, so
// a host never needs to refuse a body to decode it.
constexpr std::uint8_t NibblePairValue(std::uint8_t high, std::uint8_t low) {
  return static_cast<std::uint8_t>((high + 13u) * 16u + low);
}

// Appends one byte as two nibble characters, and a 16-bit value as four.
inline void AppendNibbles(Bytes* out, std::uint8_t byte) {
  out->push_back(NibbleChar(byte >> 4));
  out->push_back(NibbleChar(byte));
}
inline void AppendNibbles16(Bytes* out, std::uint16_t value) {
  AppendNibbles(out, static_cast<std::uint8_t>(value >> 8));
  AppendNibbles(out, static_cast<std::uint8_t>(value));
}

// The value of count nibble characters at chars, most significant first
// (the low four bits of each).
constexpr unsigned NibblesValue(const std::uint8_t* chars, std::size_t count) {
  unsigned value = 0;
  for (std::size_t i = 0; i < count; ++i) value = value << 4 | (chars[i] & 0x0Fu);
  return value;
}

}  // namespace kp::wire
