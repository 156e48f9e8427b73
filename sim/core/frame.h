// The command frame protocol as the firmware sees it (the frame itself is
// the project's wire vocabulary, wire/frame.h): what this firmware accepts
// and how it refuses a frame it cannot take.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/bytes.h"
#include "wire/frame.h"

namespace kpsim {

using kp::wire::kEsc;
using kp::wire::kEtx;
using kp::wire::kStx;

// Largest command data the firmware accepts: what the host's 2080-byte
// command buffer can carry.
constexpr std::size_t kMaxCommandData = 1033;
// Largest answer body a host's 2080-byte response buffer holds is 1039
// bytes; the oversize fault announces one byte more.
constexpr std::size_t kOversizeBody = 1040;

// A command: its code is the frame's word.
using CommandFrame = kp::wire::Frame;

// Decodes the characters between STX and ETX.  On failure returns false and
// the status word the firmware answers with (bad frame or bad checksum).
bool DecodeCommandBody(const std::uint8_t* chars, std::size_t size, CommandFrame* frame, std::uint16_t* error_status);

// The firmware's answer: its checksum is the XOR of the body bytes.
inline Bytes EncodeAnswerFrame(std::uint16_t status, const Bytes& data) { return kp::wire::EncodeFrame(status, data); }
inline Bytes EncodeAnswerBody(const Bytes& body) { return kp::wire::EncodeBody(body); }

}  // namespace kpsim
