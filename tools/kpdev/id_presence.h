// The identity module's own presence check ("find card"), on its own.
//
// The library's identity calls find, select and read a card in one go
// (1.8 s at 9600 baud, and a photo file written); asking only whether a
// card lies on the antenna takes one 10-byte frame and its short answer.
// The library has no call for that step alone, so the tool sends it on a
// line of its own: the library's handle must be closed meanwhile (its
// exclusive claim on the device would refuse a second open).  Reopening a
// type-0 reader sends nothing to the device, so the round trip costs only
// the exchange.
#pragma once

#include <string>

namespace kpdev::tool {

enum class IdPresence {
  kPresent,      // the module found a card
  kAbsent,       // the module answered: no card
  kNoModule,     // nothing answered the module's frame in its time
  kUnavailable,  // the device could not be opened here (busy, not a local device, ...)
};

// Sends the module's find-card frame on `device` at `baud` and waits at
// most `timeLimitMs` for the answer.
IdPresence CheckIdentityCard(const std::string& device, int baud, int timeLimitMs = 1000);

}  // namespace kpdev::tool
