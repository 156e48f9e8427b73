#include "wire/frame.h"

#include "wire/nibble.h"

namespace kp::wire {

std::uint8_t Xor(const std::uint8_t* bytes, std::size_t count) {
  std::uint8_t acc = 0;
  for (std::size_t i = 0; i < count; ++i) acc ^= bytes[i];
  return acc;
}

Bytes EncodeBody(const std::uint8_t* body, std::size_t size) {
  Bytes wire;
  wire.reserve(kFrameHead + 2 * size + kFrameTail);
  wire.push_back(kStx);
  AppendNibbles16(&wire, static_cast<std::uint16_t>(size));
  for (std::size_t i = 0; i < size; ++i) AppendNibbles(&wire, body[i]);
  AppendNibbles(&wire, Xor(body, size));
  wire.push_back(kEtx);
  return wire;
}

Bytes EncodeFrame(std::uint16_t word, const std::uint8_t* data, std::size_t size) {
  Bytes body;
  body.reserve(2 + size);
  AppendWord(&body, word);
  body.insert(body.end(), data, data + size);
  return EncodeBody(body);
}

FrameCheck DecodeFrameChars(const std::uint8_t* chars, std::size_t size, std::size_t maxData, Frame* frame) {
  // Length (4), word (4) and XOR (2) at the least, two characters a byte.
  if (size < 10 || size % 2 != 0) return FrameCheck::kMalformed;
  for (std::size_t i = 0; i < size; ++i) {
    if (!IsNibbleChar(chars[i])) return FrameCheck::kMalformed;
  }
  const std::size_t dataSize = (size - 10) / 2;
  if (dataSize > maxData || NibblesValue(chars, 4) != dataSize + 2) return FrameCheck::kMalformed;

  Frame decoded;
  decoded.word = static_cast<std::uint16_t>(NibblesValue(chars + 4, 4));
  decoded.data.reserve(dataSize);
  for (std::size_t i = 0; i < dataSize; ++i) {
    decoded.data.push_back(static_cast<std::uint8_t>(NibblesValue(chars + 8 + 2 * i, 2)));
  }
  const auto expected = static_cast<std::uint8_t>((decoded.word >> 8) ^ (decoded.word & 0xFF) ^
                                                  Xor(decoded.data.data(), decoded.data.size()));
  if (NibblesValue(chars + size - 2, 2) != expected) return FrameCheck::kBadChecksum;
  *frame = std::move(decoded);
  return FrameCheck::kOk;
}

}  // namespace kp::wire
