// The command frame of the reader firmware, as pure functions on bytes: no
// line, no clock.  On the wire every 4-bit value of a frame travels as one
// byte 0x30 + value, between STX and ETX:
//
//   STX  N(2 bytes)  command(2)  data(N - 2)  XOR of command and data (1)  ETX
//
// An answer has the same shape, with the device's status word (high byte
// first) where a command has its code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/convert.h"
#include "wire/frame.h"

namespace kp::frame {

using wire::kEtx;
using wire::kStx;
// STX and the four length characters that open every answer.
constexpr std::size_t kHeadBytes = wire::kFrameHead;
// Checksum (two characters) and ETX that close it.
constexpr std::size_t kTailBytes = wire::kFrameTail;

// XOR of the bytes.
inline std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count) { return wire::Xor(bytes, count); }

// Wire bytes of a command with data bytes.
inline Bytes Encode(int command, const std::uint8_t* data, std::size_t count) {
  return wire::EncodeFrame(static_cast<std::uint16_t>(command), data, count);
}

// Wire bytes of a command whose data the operations hand over as text
// (two hexadecimal characters per byte).  Upper-case hexadecimal text
// encodes exactly as its bytes would.  Other texts go out as the firmware
// has always received them: the length counts whole pairs, each character
// is sent as itself when a digit and lowered by 7 otherwise, and the
// checksum reads each pair as far as it is hexadecimal.  out must hold
// length + 12 bytes; returns the count written.
std::size_t EncodeText(int command, const char* data, std::size_t length, std::uint8_t* out);

// Body length in bytes announced by the five head bytes of an answer (the
// low four bits of each length character).
inline std::size_t BodyLength(const std::uint8_t* head) { return wire::BodyLength(head); }

// A decoded answer body.
struct Response {
  int status = 0;  // device status word
  Bytes data;      // the bytes after it
};
// Decodes body characters as received (two per byte; an odd count reads its
// last character with the NUL after it, so text[count] must be readable).
Response Decode(const char* body, std::size_t count);

// One line of the frame trace: direction ("->" or "<-"), a command code or
// status word, the data as hexadecimal text and, for answers, the time the
// exchange took.
std::string DescribeCommand(int command, const std::uint8_t* wire, std::size_t count);
std::string DescribeResponse(int command, const Response& response, long elapsedMs);

}  // namespace kp::frame
