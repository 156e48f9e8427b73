#include "core/bytes.h"

namespace kpsim {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string ToHex(const std::uint8_t* data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[data[i] >> 4]);
    text.push_back(kDigits[data[i] & 0x0F]);
  }
  return text;
}

bool FromHex(std::string_view text, Bytes* out) {
  if (text.size() % 2 != 0) return false;
  Bytes bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  *out = std::move(bytes);
  return true;
}

void AppendNibbles(Bytes* out, std::uint8_t byte) {
  out->push_back(NibbleChar(byte >> 4));
  out->push_back(NibbleChar(byte));
}

void AppendNibbles16(Bytes* out, std::uint16_t value) {
  AppendNibbles(out, static_cast<std::uint8_t>(value >> 8));
  AppendNibbles(out, static_cast<std::uint8_t>(value));
}

}  // namespace kpsim
