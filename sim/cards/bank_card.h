// A bank card with a debit/credit application personalised from a card
// profile (bank_profile.h): application selection through the payment
// system directory, GET PROCESSING OPTIONS, READ RECORD over the files the
// application names, GENERATE AC, GET DATA, and GET RESPONSE for a card
// that answers the T=0 way.
//
// The same card serves in a contact seat ("bank": powered on, APDUs on its
// seat) and in the contactless field ("rf-bank" on seat 255: activated as a
// processor card with its answer to select, APDUs on seat 255).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cards/bank_profile.h"
#include "cards/cpu_cards.h"

namespace kpsim {

// What the card does with command APDUs: one application session at a
// time; a power-on or activation starts afresh, while the transaction
// counters stay with the card.
class BankApplication {
 public:
  explicit BankApplication(std::shared_ptr<const BankProfile> profile);

  // Power-on or activation: nothing selected, nothing waiting.
  void Reset();
  // One short APDU; the answer ends in SW1 SW2.
  Bytes Transmit(const Bytes& apdu);

  const BankProfile& profile() const { return *profile_; }
  // Transaction counter of an application (by its index in the profile).
  std::uint16_t atc(std::size_t application) const { return counters_[application]; }
  // "profile,atc=0012" (the counter of the first application), or more
  // applications' counters joined by '/'.
  std::string Summary() const;

 private:
  enum class Stage {
    kNone,       // nothing selected
    kDirectory,  // the payment system directory is selected
    kSelected,   // an application is selected, no processing options yet
    kOptions,    // GET PROCESSING OPTIONS done: records and a first cryptogram
    kOnline,     // an ARQC was answered: one more GENERATE AC (TC or AAC)
    kDone,       // the transaction is complete
  };
  struct Command;

  Bytes Execute(const Command& command);
  Bytes Select(const Command& command);
  Bytes ReadRecord(const Command& command);
  Bytes GetProcessingOptions(const Command& command);
  Bytes GenerateAc(const Command& command);
  Bytes GetData(const Command& command);
  Bytes GetResponse(const Command& command);
  // Data for a command that carried data: held back with 61xx where the
  // card answers the T=0 way.
  Bytes Answer(const Command& command, Bytes data, bool directory);

  std::shared_ptr<const BankProfile> profile_;
  std::vector<std::uint16_t> counters_;  // one per application
  Stage stage_ = Stage::kNone;
  std::size_t application_ = 0;  // the selected one, from kSelected on
  Bytes pending_;                // answer data waiting for GET RESPONSE
};

// In a contact seat: powered on with the profile's answer to reset.
class ContactBankCard : public ContactCpuCard {
 public:
  explicit ContactBankCard(std::shared_ptr<const BankProfile> profile);

  std::string Kind() const override { return "bank"; }
  std::string Summary() const override;
  bool PowerOn() override;
  Bytes Transmit(const Bytes& apdu, Rng&) override { return application_.Transmit(apdu); }
  const BankApplication& application() const { return application_; }

 private:
  BankApplication application_;
};

// In the contactless field: activated as a processor card (type, UID and
// answer to select from the profile).
class ContactlessBankCard : public ContactlessCpuCard {
 public:
  explicit ContactlessBankCard(std::shared_ptr<const BankProfile> profile);

  std::string Kind() const override { return "rf-bank"; }
  std::string Summary() const override;
  void Activate() override;
  Bytes Transmit(const Bytes& apdu, Rng&) override { return application_.Transmit(apdu); }
  const BankApplication& application() const { return application_; }

 private:
  BankApplication application_;
};

// Makers for "insert SEAT bank profile=NAME|PATH" and
// "insert 255 rf-bank profile=NAME|PATH".
std::unique_ptr<Card> MakeContactBankCard(const std::vector<std::string>& args, std::string* error);
std::unique_ptr<Card> MakeContactlessBankCard(const std::vector<std::string>& args, std::string* error);

// The stand-in cryptogram: FNV-1a (64 bits) over the key, the data of
// GENERATE AC, the AIP, the transaction counter and P1, big-endian.  Not
// the payment scheme's algorithm; it only makes the cryptogram depend on
// what it covers.
Bytes StandInCryptogram(const Bytes& key, const Bytes& data, const Bytes& aip, std::uint16_t atc, std::uint8_t p1);

}  // namespace kpsim
