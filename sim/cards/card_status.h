// Status words of the card commands.  The seat-state command answers with
// the word of the seat's state; the other card commands answer an error
// with the word of the state that stops them (no card, not powered), or
// with one of the error words below.  The words come from the host
// library's status table, so each reaches the application as its own
// result code (shown on the right).
#pragma once

#include <cstdint>

#include "wire/status.h"

namespace kpsim {

// Seat states (also errors of commands that need another state).
constexpr std::uint16_t kSeatEmpty = kp::wire::status::kNoCard;  // state 1, -305: no card in the seat or field
constexpr std::uint16_t kSeatUnpowered =
    kp::wire::status::kNotActive;               // state 2, -306: card present, not powered / not activated
constexpr std::uint16_t kSeatPowered = 0x1003;  // state 3: powered / activated
constexpr std::uint16_t kSeatMute = kp::wire::status::kMute;  // state 4, -307: the card did not answer its reset
constexpr std::uint16_t kSeatOtherTechnology =
    kp::wire::status::kWrongTechnology;                           // state 8: a card the CPU commands do not serve
constexpr std::uint16_t kSeatHalted = kp::wire::status::kHalted;  // state 20: the field's card was halted

// Errors.  Where a memory chip has a like failure, the word is the same
// (wrong password, protected area, password not presented yet).
constexpr std::uint16_t kStatusWrongCardKind =
    kp::wire::status::kWrongCard;  // -320: the card is not of the kind the command needs
constexpr std::uint16_t kStatusValueOutOfRange =
    kp::wire::status::kOutOfRange;  // -319: a value operation leaves 32 bits
constexpr std::uint16_t kStatusNotValueBlock =
    kp::wire::status::kNotValueBlock;                                     // -321: block fails the value-block check
constexpr std::uint16_t kStatusAuthFailed = kp::wire::status::kWrongKey;  // -312: wrong key for the sector
constexpr std::uint16_t kStatusBlockNotWritable =
    kp::wire::status::kProtected;  // -324: manufacturer block, or a trailer as value
constexpr std::uint16_t kStatusNotAuthenticated =
    kp::wire::status::kNotAuthenticated;  // -316: block outside the authenticated sector

}  // namespace kpsim
