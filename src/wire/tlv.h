// BER-TLV as cards use it: a tag of one byte, or two when the first byte's
// low five bits are all set; a length of one byte below 0x80, else 81 xx or
// 82 xx xx; the value.  Bytes 00 and FF between elements are padding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/bytes.h"

namespace kp::wire {

// Whether an element with this tag holds elements (bit 6 of its first byte).
constexpr bool IsConstructed(std::uint16_t tag) {
  const auto first = static_cast<std::uint8_t>(tag > 0xFF ? tag >> 8 : tag);
  return (first & 0x20) != 0;
}

// Appends tag (two bytes when above FF), length and value.
void AppendTlv(Bytes* out, std::uint16_t tag, const std::uint8_t* value, std::size_t size);
inline void AppendTlv(Bytes* out, std::uint16_t tag, const Bytes& value) {
  AppendTlv(out, tag, value.data(), value.size());
}

// One element found in data[from, to).
struct Tlv {
  std::uint16_t tag = 0;
  std::size_t valueAt = 0;  // offset of the value in the data
  std::size_t length = 0;
};
// Reads the element at *at (padding skipped) and moves *at past it; false
// at the end of the range or when the element does not fit in it.
bool ReadTlv(const std::uint8_t* data, std::size_t* at, std::size_t to, Tlv* element);

// The value of the first element tagged `wanted` in data[from, to), looking
// into constructed elements depth first.  Each level of nesting consumes at
// least two bytes, so the depth is bounded by the data's size.
bool FindTlv(const Bytes& data, std::size_t from, std::size_t to, std::uint16_t wanted, Bytes* value);

// Total length of the values a data object list (tag, length pairs without
// values) asks for; false when the list does not parse.
bool DolLength(const Bytes& dol, std::size_t* length);

}  // namespace kp::wire
