// Status words of the card commands.  The seat-state command answers with
// the word of the seat's state; the other card commands answer an error
// with the word of the state that stops them (no card, not powered), or
// with one of the error words below.  The words come from the host
// library's status table, so each reaches the application as its own
// result code (shown on the right).
#pragma once

#include <cstdint>

namespace kpsim {

// Seat states (also errors of commands that need another state).
constexpr std::uint16_t kSeatEmpty = 0x1001;            // state 1, -305: no card in the seat or field
constexpr std::uint16_t kSeatUnpowered = 0x1002;        // state 2, -306: card present, not powered / not activated
constexpr std::uint16_t kSeatPowered = 0x1003;          // state 3: powered / activated
constexpr std::uint16_t kSeatMute = 0x1004;             // state 4, -307: the card did not answer its reset
constexpr std::uint16_t kSeatOtherTechnology = 0x2001;  // state 8: a card the CPU commands do not serve
constexpr std::uint16_t kSeatHalted = 0x3001;           // state 20: the field's card was halted

// Errors.  Where a memory chip has a like failure, the word is the same
// (wrong password, protected area, password not presented yet).
constexpr std::uint16_t kStatusWrongCardKind = 0x2006;     // -320: the card is not of the kind the command needs
constexpr std::uint16_t kStatusValueOutOfRange = 0x2004;   // -319: a value operation leaves 32 bits
constexpr std::uint16_t kStatusNotValueBlock = 0x2007;     // -321: block fails the value-block check
constexpr std::uint16_t kStatusAuthFailed = 0x3005;        // -312: wrong key for the sector
constexpr std::uint16_t kStatusBlockNotWritable = 0x3007;  // -324: manufacturer block, or a trailer as value
constexpr std::uint16_t kStatusNotAuthenticated = 0x3008;  // -316: block outside the authenticated sector

}  // namespace kpsim
