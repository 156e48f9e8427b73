// The command frame protocol as the firmware sees it.
//
// Command frame: STX, N (= 2 + data bytes) as four nibble characters, the
// command code as four, the data as two per byte, the checksum (XOR of the
// code's two bytes and the data bytes) as two, ETX.
//
// Answer frame: STX, L (body bytes) as four nibble characters, the body
// (status word high byte first, then data) as two per byte, the checksum as
// two, ETX.  The firmware's answer checksum is the XOR of the body bytes;
// hosts do not verify it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/bytes.h"

namespace kpsim {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEsc = 0x1B;

// Largest command data the firmware accepts: what the host's 2080-byte
// command buffer can carry.
constexpr std::size_t kMaxCommandData = 1033;
// Largest answer body a host's 2080-byte response buffer holds is 1039
// bytes; the oversize fault announces one byte more.
constexpr std::size_t kOversizeBody = 1040;

struct CommandFrame {
  std::uint16_t code = 0;
  Bytes data;
};

// Decodes the characters between STX and ETX.  On failure returns false and
// the status word the firmware answers with (bad frame or bad checksum).
bool DecodeCommandBody(const std::uint8_t* chars, std::size_t size, CommandFrame* frame, std::uint16_t* error_status);

std::uint8_t XorOf(const std::uint8_t* data, std::size_t size);

// Host-side encoding, for tools and for checking the decoder.
Bytes EncodeCommandFrame(std::uint16_t code, const Bytes& data);

Bytes EncodeAnswerFrame(std::uint16_t status, const Bytes& data);
Bytes EncodeAnswerBody(const Bytes& body);

}  // namespace kpsim
