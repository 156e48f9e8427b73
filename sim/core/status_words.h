// Status words the firmware itself produces.  Each maps to a distinct error
// in the host library, and none of them is a card state that the seat-status
// command reports, so a host never mistakes a refused frame for a card state.
#pragma once

#include <cstdint>

#include "wire/status.h"

namespace kpsim {

constexpr std::uint16_t kStatusOk = kp::wire::status::kOk;
// The command code is not one this firmware family knows.
constexpr std::uint16_t kStatusUnknownCommand = kp::wire::status::kUnknownCommand;
// The frame's checksum does not match its command and data.
constexpr std::uint16_t kStatusBadChecksum = kp::wire::status::kBadChecksum;
// The frame is malformed: a byte that is not a nibble character, a length
// field that disagrees with the frame, or more data than the firmware holds.
constexpr std::uint16_t kStatusBadFrame = kp::wire::status::kBadFrame;
// The command is known but its data has the wrong size or a refused value.
constexpr std::uint16_t kStatusBadParameter = kp::wire::status::kBadData;

}  // namespace kpsim
