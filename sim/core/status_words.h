// Status words the firmware itself produces.  Each maps to a distinct error
// in the host library, and none of them is a card state that the seat-status
// command reports, so a host never mistakes a refused frame for a card state.
#pragma once

#include <cstdint>

namespace kpsim {

constexpr std::uint16_t kStatusOk = 0x0000;
// The command code is not one this firmware family knows.
constexpr std::uint16_t kStatusUnknownCommand = 0x1005;
// The frame's checksum does not match its command and data.
constexpr std::uint16_t kStatusBadChecksum = 0x1006;
// The frame is malformed: a byte that is not a nibble character, a length
// field that disagrees with the frame, or more data than the firmware holds.
constexpr std::uint16_t kStatusBadFrame = 0x1007;
// The command is known but its data has the wrong size or a refused value.
constexpr std::uint16_t kStatusBadParameter = 0x2005;

}  // namespace kpsim
