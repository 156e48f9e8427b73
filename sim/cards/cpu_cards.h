// Processor cards: the contact CPU card ("cpu") in a contact seat and the
// contactless processor card ("rf-cpu") in the field, plus the interfaces
// the seat commands find them by.
//
// The contactless field is seat 255: the host addresses the contactless
// processor card's APDUs to that seat, and the activation, halt and sector
// commands act on whatever card lies there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cards/apdu_engine.h"
#include "core/card.h"

namespace kpsim {

constexpr std::uint8_t kFieldSeat = 255;

// A card that exchanges APDUs once it is powered (contact) or activated
// (contactless).
class ApduCard {
 public:
  virtual ~ApduCard() = default;
  virtual bool ReadyForApdus() const = 0;
  virtual Bytes Transmit(const Bytes& apdu, Rng& rng) = 0;
};

// A contact CPU card.
class ContactCpuCard : public Card, public ApduCard {
 public:
  // The answer to reset when none is given: direct convention, T=0, no
  // extra guard time, historical bytes 80 "KPDEV01".
  static Bytes DefaultAtr();

  ContactCpuCard(Bytes atr, bool mute, std::vector<ScriptedApdu> script, bool get_response);

  std::string Kind() const override { return "cpu"; }
  // "powered", "unpowered" or "mute" (a power-on got no answer to reset).
  std::string Summary() const override;
  void OnModuleReset() override { powered_ = false; }

  bool ReadyForApdus() const override { return powered_; }
  Bytes Transmit(const Bytes& apdu, Rng& rng) override { return engine_.Transmit(apdu, rng); }

  // Power-on (cold or warm reset): false for a mute card.  Cards that keep
  // a session of their own (the bank card) start it afresh here.
  virtual bool PowerOn();
  void PowerOff() { powered_ = false; }
  bool powered() const { return powered_; }
  bool failed_reset() const { return failed_reset_; }
  const Bytes& atr() const { return atr_; }
  const ApduEngine& engine() const { return engine_; }

 private:
  Bytes atr_;
  bool mute_ = false;
  bool powered_ = false;
  bool failed_reset_ = false;
  ApduEngine engine_;
};

// A card in the contactless field.
class RfCard : public Card {
 public:
  enum class State { kIdle, kActive, kHalted };

  RfCard(Bytes uid, std::uint8_t type) : uid_(std::move(uid)), type_(type) {}

  // "UIDHEX,idle|active|halted" and whatever the card adds.
  std::string Summary() const override;
  void OnModuleReset() override { Deactivate(State::kIdle); }

  // Anticollision and selection; a halted card is woken up as well.
  virtual void Activate() { state_ = State::kActive; }
  void Halt() { Deactivate(State::kHalted); }
  State state() const { return state_; }
  bool active() const { return state_ == State::kActive; }
  // The identifier the card gives at this selection.
  virtual const Bytes& uid() const { return uid_; }
  std::uint8_t type() const { return type_; }

 protected:
  virtual void Deactivate(State state) { state_ = state; }

 private:
  Bytes uid_;
  std::uint8_t type_;
  State state_ = State::kIdle;
};

// A contactless processor card: activation with its answer to select, then
// APDUs on the field's seat.
class ContactlessCpuCard : public RfCard, public ApduCard {
 public:
  static Bytes DefaultUid();
  static Bytes DefaultAts();
  static constexpr std::uint8_t kDefaultType = 0x20;

  ContactlessCpuCard(Bytes uid, Bytes ats, std::uint8_t type, std::vector<ScriptedApdu> script, bool get_response);

  std::string Kind() const override { return "rf-cpu"; }
  void Activate() override;
  bool ReadyForApdus() const override { return active(); }
  Bytes Transmit(const Bytes& apdu, Rng& rng) override { return engine_.Transmit(apdu, rng); }
  const Bytes& ats() const { return ats_; }

 private:
  Bytes ats_;
  ApduEngine engine_;
};

class VirtualReader;

// The card type the seat reports to the host (command 0x3232): the one the
// host set with 0x3231, else the family of the card found there (01 for a
// contact CPU card, a contactless card's own type byte), else 00.  For
// modules whose cards behave by the card type set for their seat.
std::uint8_t SeatCardType(VirtualReader& reader, std::uint8_t seat);

// Makers for "insert": the words after the kind.
std::unique_ptr<Card> MakeContactCpuCard(const std::vector<std::string>& args, std::string* error);
std::unique_ptr<Card> MakeContactlessCpuCard(const std::vector<std::string>& args, std::string* error);

}  // namespace kpsim
