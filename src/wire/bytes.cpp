#include "wire/bytes.h"

namespace kp::wire {

std::string ToHex(const std::uint8_t* data, std::size_t size) {
  std::string text(2 * size, '0');
  for (std::size_t i = 0; i < size; ++i) PutHex(data[i], &text[2 * i]);
  return text;
}

bool FromHex(std::string_view text, Bytes* out) {
  if (text.size() % 2 != 0) return false;
  Bytes bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int value = HexByteAt(text, i);
    if (value < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  *out = std::move(bytes);
  return true;
}

int HexByteAt(std::string_view text, std::size_t at) {
  if (at + 2 > text.size()) return -1;
  const int high = HexDigitValue(text[at]);
  const int low = HexDigitValue(text[at + 1]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

}  // namespace kp::wire
