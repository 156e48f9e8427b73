// The device's status words and the result code each becomes on the host.
// A word outside this table is an error of its own (KP_DEV_ERR_STATUS).
#pragma once

#include <cstdint>

namespace kp::wire {

namespace status {
constexpr std::uint16_t kOk = 0x0000;
constexpr std::uint16_t kNoCard = 0x1001;            // seat or field empty
constexpr std::uint16_t kNotActive = 0x1002;         // card present, not powered or activated
constexpr std::uint16_t kMute = 0x1004;              // the card did not answer its reset
constexpr std::uint16_t kUnknownCommand = 0x1005;    // a command code this firmware does not know
constexpr std::uint16_t kBadChecksum = 0x1006;       // the frame's XOR does not match
constexpr std::uint16_t kBadFrame = 0x1007;          // a malformed frame
constexpr std::uint16_t kWrongTechnology = 0x2001;   // a card the command's technology does not serve
constexpr std::uint16_t kOutOfRange = 0x2004;        // address, length or value outside the card
constexpr std::uint16_t kBadData = 0x2005;           // data of the wrong size or a refused value
constexpr std::uint16_t kWrongCard = 0x2006;         // not the kind of card the command needs
constexpr std::uint16_t kNotValueBlock = 0x2007;     // block fails the value-block check
constexpr std::uint16_t kHalted = 0x3001;            // the field's card was halted
constexpr std::uint16_t kWrongKey = 0x3005;          // wrong key or password
constexpr std::uint16_t kLocked = 0x3006;            // error counter exhausted
constexpr std::uint16_t kProtected = 0x3007;         // area or block that cannot be written
constexpr std::uint16_t kNotAuthenticated = 0x3008;  // outside what was authenticated
constexpr std::uint16_t kCardChanged = 0x3009;       // another card than the one activated
constexpr std::uint16_t kAuthFailed = 0x6003;        // chip authentication failed
}  // namespace status

// The result code of a status word: 0 for kOk, a distinct negative code
// for each word above, KP_DEV_ERR_STATUS for any other.
int StatusResult(int word);

}  // namespace kp::wire
