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
  std::uint32_t tag = 0;    // its bytes, first byte highest (9F26 as 0x9F26; of a
                            // five-byte tag the last four)
  std::size_t tagAt = 0;    // offset of the tag in the data
  std::size_t tagSize = 0;  // 1 to 5 bytes
  std::size_t valueAt = 0;  // offset of the value in the data
  std::size_t length = 0;
  bool constructed = false;
};
enum class TlvRead {
  kOk,
  kEnd,            // only padding was left
  kTagCut,         // the data ends inside the tag
  kTagTooLong,     // a tag whose fifth byte says more follow
  kLengthMissing,  // the data ends before the length
  kIndefinite,     // length byte 80
  kLengthCut,      // a long length of more than four bytes, or cut short
  kValuePastEnd,   // the value runs past the data
};
// Reads the element at *at (padding skipped); on kOk moves *at past it.
// On a failure *at and element say where (element->tagAt, ->tagSize and,
// for kValuePastEnd, ->length are filled).  A tag takes further bytes while
// bit 8 of the one before is set; a length is one byte below 0x80, else
// 81..84 and that many bytes.
TlvRead ReadTlv(const std::uint8_t* data, std::size_t* at, std::size_t to, Tlv* element);

// The value of the first element tagged `wanted` in data[from, to), looking
// into constructed elements depth first.  Each level of nesting consumes at
// least two bytes, so the depth is bounded by the data's size.
bool FindTlv(const Bytes& data, std::size_t from, std::size_t to, std::uint16_t wanted, Bytes* value);

// Total length of the values a data object list (tag, length pairs without
// values) asks for; false when the list does not parse.
bool DolLength(const Bytes& dol, std::size_t* length);

}  // namespace kp::wire
