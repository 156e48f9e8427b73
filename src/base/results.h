// Result codes of every layer: what the exports finally return.
#pragma once

namespace kp {

constexpr int kOk = 0;
constexpr int kErrOpen = -1;           // open failure or refused parameter
constexpr int kErrWaitTimeout = -2;    // a serial wait ran out
constexpr int kErrWrite = -3;          // serial write failure
constexpr int kErrRead = -4;           // serial read failure or timeout
constexpr int kErrParam = -5;          // parameter out of range / not upper-case hex
constexpr int kErrIdTimeLimit = -6;    // identity read time limit passed
constexpr int kErrFrame = -8;          // response frame not ended by ETX (or unusable)
constexpr int kErrStatus = -9;         // unknown status word, unexpected reply byte, tag not found
constexpr int kErrNotOpen = -10;       // handle not open (CheckIsOpen)
constexpr int kErrNotSupported = -20;  // not valid for this reader family or module
constexpr int kNothingYet = -101;      // nothing presented yet
constexpr int kErrMagRead = -102;
constexpr int kErrMagWrite = -103;
constexpr int kErrModuleRefused1 = -301;
constexpr int kErrModuleRefused2 = -302;
constexpr int kErrRoom = -304;  // caller's buffer smaller than the data
constexpr int kErrNoCardType = -326;
// Something failed inside the library itself (out of memory): no export
// lets a C++ exception reach its caller.
constexpr int kErrInternal = -99;

}  // namespace kp
