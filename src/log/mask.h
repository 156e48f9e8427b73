// What the daily log may hold of a card.  The log is read by whoever can
// read the file, so by default (KPDEV_LOG unset or "masked") card secrets
// never reach it: account numbers keep their first six and last four
// digits, track data, cardholder names and the data of PIN and
// authentication commands are replaced, while command headers and status
// words stay so the log still tells what happened.  KPDEV_LOG=full keeps
// every line exactly as exchanged (for a technician chasing a fault, never
// the default); KPDEV_LOG=off writes no log at all.
#pragma once

#include <string>
#include <string_view>

namespace kp {

enum class LogMode { kMasked, kFull, kOff };

// The mode in force now, from KPDEV_LOG (read on every call, so a process
// may switch it; any value other than "full" and "off" means masked).
LogMode CurrentLogMode();

// An APDU command (hexadecimal text) as the log may show it: VERIFY, CHANGE
// REFERENCE DATA and EXTERNAL/INTERNAL AUTHENTICATE keep their header and
// Lc, their data become "<n bytes>"; card data tags are masked as in
// MaskCardData.
std::string MaskApduCommand(std::string_view hex);

// A card answer or command data (hexadecimal text): the values of tags 57,
// 5A, 9F6B (account number kept to its first six and last four digits, the
// rest of the track replaced by '*'), 56, 9F1F, 9F20 and 5F20 (all '*').
// The last four characters (the status word) are never touched.
std::string MaskCardData(std::string_view hex);

// Any run of 13 to 19 decimal digits that passes the account-number check
// digit test keeps its first six and last four digits; the rest become '*'.
std::string MaskAccountNumbers(std::string_view text);

}  // namespace kp
