#include "core/frame.h"

#include "core/status_words.h"

namespace kpsim {

namespace {

unsigned NibbleAt(const std::uint8_t* chars, std::size_t at, std::size_t count) {
  unsigned value = 0;
  for (std::size_t i = 0; i < count; ++i) value = value << 4 | (chars[at + i] & 0x0F);
  return value;
}

}  // namespace

std::uint8_t XorOf(const std::uint8_t* data, std::size_t size) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum ^= data[i];
  return sum;
}

bool DecodeCommandBody(const std::uint8_t* chars, std::size_t size, CommandFrame* frame, std::uint16_t* error_status) {
  *error_status = kStatusBadFrame;
  if (size < 10 || size % 2 != 0) return false;
  for (std::size_t i = 0; i < size; ++i) {
    if (!IsNibbleChar(chars[i])) return false;
  }
  const std::size_t data_size = (size - 10) / 2;
  if (data_size > kMaxCommandData || NibbleAt(chars, 0, 4) != data_size + 2) return false;

  CommandFrame decoded;
  decoded.code = static_cast<std::uint16_t>(NibbleAt(chars, 4, 4));
  decoded.data.reserve(data_size);
  for (std::size_t i = 0; i < data_size; ++i) {
    decoded.data.push_back(static_cast<std::uint8_t>(NibbleAt(chars, 8 + 2 * i, 2)));
  }
  const std::uint8_t expected = static_cast<std::uint8_t>((decoded.code >> 8) ^ (decoded.code & 0xFF) ^
                                                          XorOf(decoded.data.data(), decoded.data.size()));
  if (NibbleAt(chars, size - 2, 2) != expected) {
    *error_status = kStatusBadChecksum;
    return false;
  }
  *frame = std::move(decoded);
  return true;
}

Bytes EncodeCommandFrame(std::uint16_t code, const Bytes& data) {
  Bytes wire;
  wire.reserve(12 + 2 * data.size());
  wire.push_back(kStx);
  AppendNibbles16(&wire, static_cast<std::uint16_t>(data.size() + 2));
  AppendNibbles16(&wire, code);
  for (std::uint8_t byte : data) AppendNibbles(&wire, byte);
  AppendNibbles(&wire, static_cast<std::uint8_t>((code >> 8) ^ (code & 0xFF) ^ XorOf(data.data(), data.size())));
  wire.push_back(kEtx);
  return wire;
}

Bytes EncodeAnswerBody(const Bytes& body) {
  Bytes wire;
  wire.reserve(8 + 2 * body.size());
  wire.push_back(kStx);
  AppendNibbles16(&wire, static_cast<std::uint16_t>(body.size()));
  for (std::uint8_t byte : body) AppendNibbles(&wire, byte);
  AppendNibbles(&wire, XorOf(body.data(), body.size()));
  wire.push_back(kEtx);
  return wire;
}

Bytes EncodeAnswerFrame(std::uint16_t status, const Bytes& data) {
  Bytes body;
  body.reserve(2 + data.size());
  body.push_back(static_cast<std::uint8_t>(status >> 8));
  body.push_back(static_cast<std::uint8_t>(status));
  body.insert(body.end(), data.begin(), data.end());
  return EncodeAnswerBody(body);
}

}  // namespace kpsim
