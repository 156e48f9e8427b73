// The reader's frame, the same shape in both directions:
//
//   STX  length(4 nibble chars)  word(4)  data(2 per byte)  XOR(2)  ETX
//
// A command carries its 16-bit code as the word, an answer the device's
// status word; the length counts the word's two bytes and the data, and the
// XOR is taken over the same bytes.  Hosts do not verify an answer's XOR;
// the firmware verifies a command's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/bytes.h"

namespace kp::wire {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEsc = 0x1B;
// STX and the four length characters; the two XOR characters and ETX.
constexpr std::size_t kFrameHead = 5;
constexpr std::size_t kFrameTail = 3;

std::uint8_t Xor(const std::uint8_t* bytes, std::size_t count);

// Wire bytes of a frame with body `body` (word and data).
Bytes EncodeBody(const std::uint8_t* body, std::size_t size);
inline Bytes EncodeBody(const Bytes& body) { return EncodeBody(body.data(), body.size()); }
// Wire bytes of a frame with `word` and `data`.
Bytes EncodeFrame(std::uint16_t word, const std::uint8_t* data, std::size_t size);
inline Bytes EncodeFrame(std::uint16_t word, const Bytes& data = {}) {
  return EncodeFrame(word, data.data(), data.size());
}

// Body bytes announced by a frame's five head bytes: the low four bits of
// each length character (a host reads them so; the firmware checks them).
constexpr std::size_t BodyLength(const std::uint8_t* head) {
  return (static_cast<std::size_t>(head[1] & 0x0Fu) << 12) | (static_cast<std::size_t>(head[2] & 0x0Fu) << 8) |
         (static_cast<std::size_t>(head[3] & 0x0Fu) << 4) | (head[4] & 0x0Fu);
}

// A frame as the firmware checks it: the characters between STX and ETX.
struct Frame {
  std::uint16_t word = 0;
  Bytes data;
};
enum class FrameCheck {
  kOk,
  kMalformed,    // a character that is no nibble, a length that disagrees, more than maxData bytes
  kBadChecksum,  // the XOR does not match the word and data
};
FrameCheck DecodeFrameChars(const std::uint8_t* chars, std::size_t size, std::size_t maxData, Frame* frame);

}  // namespace kp::wire
