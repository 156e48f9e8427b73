// Byte buffers and the two text renderings the virtual reader deals in:
// hexadecimal (control interface, traffic log) and the device's nibble
// characters (one byte 0x30 + v per 4-bit value v, on the serial line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kpsim {

using Bytes = std::vector<std::uint8_t>;

// Upper-case hex, two digits per byte, no separators.
std::string ToHex(const std::uint8_t* data, std::size_t size);
inline std::string ToHex(const Bytes& bytes) { return ToHex(bytes.data(), bytes.size()); }

// Parses hex text of even length, either case; false (and *out untouched)
// on any other character or an odd length.
bool FromHex(std::string_view text, Bytes* out);

inline std::uint8_t NibbleChar(unsigned value) { return static_cast<std::uint8_t>(0x30 + (value & 0x0F)); }
inline bool IsNibbleChar(std::uint8_t c) { return c >= 0x30 && c <= 0x3F; }

// Appends one byte as two nibble characters, high nibble first.
void AppendNibbles(Bytes* out, std::uint8_t byte);
// Appends a 16-bit value as four nibble characters, most significant first.
void AppendNibbles16(Bytes* out, std::uint16_t value);

}  // namespace kpsim
