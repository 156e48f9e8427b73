#include "wire/tlv.h"

namespace kp::wire {

void AppendTlv(Bytes* out, std::uint16_t tag, const std::uint8_t* value, std::size_t size) {
  if (tag > 0xFF) out->push_back(static_cast<std::uint8_t>(tag >> 8));
  out->push_back(static_cast<std::uint8_t>(tag));
  if (size > 0xFF) {
    out->push_back(0x82);
    out->push_back(static_cast<std::uint8_t>(size >> 8));
  } else if (size > 0x7F) {
    out->push_back(0x81);
  }
  out->push_back(static_cast<std::uint8_t>(size));
  out->insert(out->end(), value, value + size);
}

TlvRead ReadTlv(const std::uint8_t* data, std::size_t* at, std::size_t to, Tlv* element) {
  std::size_t p = *at;
  while (p < to && (data[p] == 0x00 || data[p] == 0xFF)) ++p;
  *at = p;
  if (p >= to) return TlvRead::kEnd;
  Tlv e;
  e.tagAt = p;
  e.constructed = (data[p] & 0x20) != 0;
  e.tag = data[p];
  if ((data[p++] & 0x1F) == 0x1F) {
    for (;;) {
      e.tagSize = p - e.tagAt;
      *element = e;
      if (p >= to) return TlvRead::kTagCut;
      e.tag = e.tag << 8 | data[p];
      if ((data[p++] & 0x80) == 0) break;
      if (p - e.tagAt > 4) {
        element->tagSize = p - e.tagAt;
        return TlvRead::kTagTooLong;
      }
    }
  }
  e.tagSize = p - e.tagAt;
  *element = e;
  if (p >= to) return TlvRead::kLengthMissing;
  std::size_t length = data[p++];
  if (length == 0x80) return TlvRead::kIndefinite;
  if (length > 0x80) {
    const std::size_t count = length & 0x7F;
    if (count > 4 || count > to - p) return TlvRead::kLengthCut;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | data[p++];
  }
  element->valueAt = p;
  element->length = length;
  if (length > to - p) return TlvRead::kValuePastEnd;
  *at = p + length;
  return TlvRead::kOk;
}

bool FindTlv(const Bytes& data, std::size_t from, std::size_t to, std::uint16_t wanted, Bytes* value) {
  std::size_t at = from;
  Tlv element;
  while (ReadTlv(data.data(), &at, to, &element) == TlvRead::kOk) {
    if (element.tag == wanted) {
      const auto begin = data.begin() + static_cast<std::ptrdiff_t>(element.valueAt);
      value->assign(begin, begin + static_cast<std::ptrdiff_t>(element.length));
      return true;
    }
    if (element.constructed && FindTlv(data, element.valueAt, element.valueAt + element.length, wanted, value)) {
      return true;
    }
  }
  return false;
}

bool DolLength(const Bytes& dol, std::size_t* length) {
  std::size_t total = 0;
  std::size_t at = 0;
  while (at < dol.size()) {
    // Tag: one byte, or more while the following bytes say so.
    if ((dol[at++] & 0x1F) == 0x1F) {
      while (at < dol.size() && (dol[at] & 0x80) != 0) ++at;
      ++at;
    }
    if (at >= dol.size()) return false;
    total += dol[at++];
  }
  *length = total;
  return true;
}

}  // namespace kp::wire
