// A card that sits in one of the reader's seats.
//
// Technology modules derive their own card interfaces from Card (a contact
// CPU card with answer to reset and APDUs, a memory chip, a contactless
// card) and their command handlers look a seat's card up by that interface
// (SeatTable::Find<T>), so a command aimed at the wrong kind of card finds
// none and answers accordingly.
#pragma once

#include <string>

namespace kpsim {

class Card {
 public:
  virtual ~Card() = default;
  // The kind name used by "insert" ("sle4442", "cpu", ...).
  virtual std::string Kind() const = 0;
  // One word (no spaces) that "cards" shows after the kind, e.g. a UID or
  // "powered"; empty for nothing.
  virtual std::string Summary() const { return {}; }
  // The reader's card module was reset (soft reset command): power down,
  // forget sessions and authentications.
  virtual void OnModuleReset() {}
};

}  // namespace kpsim
