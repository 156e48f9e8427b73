// A bank card's personalisation, read from a card profile (JSON, described
// in sim/README.md): the payment system directory, the applications with
// their file control information, processing options data object list,
// application interchange profile, file locator and records, and what the
// card answers a request for an application cryptogram with.
//
// Everything the card sends is prepared here as bytes, so the card model
// (bank_card.cpp) only chooses among them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "wire/tlv.h"

namespace kpsim {

// Which answers a card sends the T=0 way: data to a command that carried
// data is held back, announced with 61xx and fetched with GET RESPONSE.
enum class GetResponseMode {
  kNone,       // every answer comes at once (as over T=1 or the contactless link)
  kDirectory,  // only the answer to SELECT of the payment system directory
  kAll,        // every command with data that has data to answer
};

// What the card decides when the terminal asks for a cryptogram.
enum class CardDecision {
  kOnline,   // an authorisation request (ARQC) for a request of ARQC or TC
  kApprove,  // the type asked for
  kDecline,  // always an application authentication cryptogram (AAC)
};

struct BankApplicationProfile {
  Bytes aid;
  Bytes fci;   // the whole answer data to SELECT: template 6F
  Bytes pdol;  // value of 9F38 (the object list itself); empty when none
  Bytes aip;   // 2 bytes
  Bytes afl;   // 4 bytes per entry
  // Records by short file identifier, record 1 first, each a whole record
  // as READ RECORD answers it (template 70 included).
  std::map<std::uint8_t, std::vector<Bytes>> records;
  // The first card risk management data object list (8C) found in the
  // records; GENERATE AC must carry exactly as many bytes as it asks for.
  // Absent (no 8C): any data is taken.
  bool has_cdol1 = false;
  Bytes cdol1;
  std::uint16_t atc = 0;  // application transaction counter before the first GPO
  Bytes iad;              // issuer application data of the GENERATE AC answer
  Bytes key;              // the card's key for its stand-in cryptogram
  CardDecision decision = CardDecision::kOnline;
  // GET DATA objects besides the transaction counter (9F36), by tag.
  std::map<std::uint16_t, Bytes> data;
};

struct BankProfile {
  std::string name;  // one word: shown by "cards"
  Bytes atr;         // contact answer to reset
  Bytes uid;         // contactless identifier
  Bytes ats;         // contactless answer to select, TL first
  std::uint8_t rf_type = 0;
  GetResponseMode get_response = GetResponseMode::kNone;
  // A T=0 card takes READ RECORD's Le 00 literally (256 bytes) and names
  // the record's length with 6Cxx instead of answering.
  bool exact_le = false;

  Bytes directory_name;  // 1PAY.SYS.DDF01 unless the profile says otherwise
  Bytes directory_fci;   // template 6F
  std::uint8_t directory_sfi = 1;
  std::vector<Bytes> directory_records;  // template 70 each

  std::vector<BankApplicationProfile> applications;
};

// The profile file of a name or path: a text with a '/' or ending in
// ".json" is a path; otherwise NAME.json in the first directory that has
// it: $KPDEV_SIM_PROFILES, the installed profile directory, the source
// tree's sim/profiles.  Empty with the places looked at in *error.
std::string ResolveBankProfile(const std::string& name_or_path, std::string* error);
// The names ResolveBankProfile finds, sorted; and the same as one text
// ("a, b, c", or "none found").
std::vector<std::string> BankProfileNames();
std::string BankProfileList();

// Reads and checks a profile file; false with the reason in *error.
bool LoadBankProfile(const std::string& path, BankProfile* profile, std::string* error);
// The same from JSON text (tests); `origin` names it in messages.
bool ParseBankProfile(const std::string& json, const std::string& origin, BankProfile* profile, std::string* error);

// BER-TLV pieces the profile and the card share.
using kp::wire::DolLength;
using kp::wire::FindTlv;
inline void AppendBerTlv(Bytes* out, std::uint16_t tag, const Bytes& value) { kp::wire::AppendTlv(out, tag, value); }

}  // namespace kpsim
