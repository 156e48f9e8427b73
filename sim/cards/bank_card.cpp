#include "cards/bank_card.h"

#include <algorithm>
#include <cstdio>

#include "cards/card_args.h"
#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

constexpr std::uint8_t kClaIso = 0x00;
constexpr std::uint8_t kClaProprietary = 0x80;
constexpr std::uint8_t kInsSelect = 0xA4;
constexpr std::uint8_t kInsReadRecord = 0xB2;
constexpr std::uint8_t kInsGetResponse = 0xC0;
constexpr std::uint8_t kInsGpo = 0xA8;
constexpr std::uint8_t kInsGenerateAc = 0xAE;
constexpr std::uint8_t kInsGetData = 0xCA;

constexpr std::uint16_t kSwConditions = 0x6985;  // command out of order in the card's session
constexpr std::uint16_t kSwDataNotFound = 0x6A88;

// Cryptogram types: bits 8 and 7 of P1 in GENERATE AC and of the
// cryptogram information data in the answer. A TC (0x40) is never named:
// it is only ever answered as asked.
constexpr std::uint8_t kAac = 0x00;
constexpr std::uint8_t kArqc = 0x80;
constexpr std::uint8_t kTypeMask = 0xC0;

constexpr std::uint16_t kTagAtc = 0x9F36;
constexpr std::uint8_t kTemplateFormat1 = 0x80;
constexpr std::uint8_t kTagCommandTemplate = 0x83;

Bytes Sw(std::uint16_t sw) { return Bytes{static_cast<std::uint8_t>(sw >> 8), static_cast<std::uint8_t>(sw)}; }

Bytes WithOk(Bytes data) {
  data.push_back(0x90);
  data.push_back(0x00);
  return data;
}

// The exact length, as a T=0 card names it when Le is not what it has.
Bytes WrongLe(std::size_t length) { return Bytes{0x6C, static_cast<std::uint8_t>(length & 0xFF)}; }

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

struct BankApplication::Command {
  std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
  Bytes data;
  bool has_data = false;
  int le = -1;  // -1 absent, else 1..256
};

Bytes StandInCryptogram(const Bytes& key, const Bytes& data, const Bytes& aip, std::uint16_t atc, std::uint8_t cid) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  const auto mix = [&hash](std::uint8_t byte) {
    hash ^= byte;
    hash *= 0x100000001B3ull;
  };
  for (std::uint8_t b : key) mix(b);
  for (std::uint8_t b : data) mix(b);
  for (std::uint8_t b : aip) mix(b);
  mix(static_cast<std::uint8_t>(atc >> 8));
  mix(static_cast<std::uint8_t>(atc));
  mix(cid);
  Bytes out;
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(hash >> shift));
  return out;
}

BankApplication::BankApplication(std::shared_ptr<const BankProfile> profile) : profile_(std::move(profile)) {
  for (const BankApplicationProfile& app : profile_->applications) counters_.push_back(app.atc);
}

void BankApplication::Reset() {
  stage_ = Stage::kNone;
  application_ = 0;
  pending_.clear();
}

std::string BankApplication::Summary() const {
  std::string text = profile_->name + ",atc=";
  for (std::size_t i = 0; i < counters_.size(); ++i) text += (i == 0 ? "" : "/") + Hex4(counters_[i]);
  return text;
}

Bytes BankApplication::Transmit(const Bytes& apdu) {
  // Short APDUs: CLA INS P1 P2, then nothing, Le, Lc data, or Lc data Le.
  if (apdu.size() < 4) return Sw(kSwWrongLength);
  Command command;
  command.cla = apdu[0];
  command.ins = apdu[1];
  command.p1 = apdu[2];
  command.p2 = apdu[3];
  if (apdu.size() == 5) {
    command.le = apdu[4] == 0 ? 256 : apdu[4];
  } else if (apdu.size() > 5) {
    const std::size_t lc = apdu[4];
    if (lc == 0 || (apdu.size() != 5 + lc && apdu.size() != 6 + lc)) return Sw(kSwWrongLength);
    command.data.assign(apdu.begin() + 5, apdu.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
    command.has_data = true;
    if (apdu.size() == 6 + lc) command.le = apdu.back() == 0 ? 256 : apdu.back();
  }
  // Whatever waited for GET RESPONSE is gone once another command comes.
  if (command.ins != kInsGetResponse) pending_.clear();
  return Execute(command);
}

Bytes BankApplication::Execute(const Command& command) {
  std::uint8_t cla = 0;
  switch (command.ins) {
    case kInsSelect:
    case kInsReadRecord:
    case kInsGetResponse:
      cla = kClaIso;
      break;
    case kInsGpo:
    case kInsGenerateAc:
    case kInsGetData:
      cla = kClaProprietary;
      break;
    default:
      return Sw(kSwInsNotSupported);
  }
  if (command.cla != cla) return Sw(kSwClaNotSupported);
  switch (command.ins) {
    case kInsSelect:
      return Select(command);
    case kInsReadRecord:
      return ReadRecord(command);
    case kInsGetResponse:
      return GetResponse(command);
    case kInsGpo:
      return GetProcessingOptions(command);
    case kInsGenerateAc:
      return GenerateAc(command);
    default:
      return GetData(command);
  }
}

Bytes BankApplication::Answer(const Command& command, Bytes data, bool directory) {
  const bool held = command.has_data && (profile_->get_response == GetResponseMode::kAll ||
                                         (directory && profile_->get_response == GetResponseMode::kDirectory));
  if (!held) return WithOk(std::move(data));
  pending_ = std::move(data);
  return Bytes{0x61, static_cast<std::uint8_t>(pending_.size() & 0xFF)};
}

Bytes BankApplication::Select(const Command& command) {
  // By name only: the payment system directory or an application, the
  // first occurrence (an application also by the first bytes of its AID).
  if (command.p1 != 0x04) return Sw(kSwWrongP1P2);
  if (command.p2 == 0x02) return Sw(kSwFileNotFound);  // no name occurs twice
  if (command.p2 != 0x00) return Sw(kSwWrongP1P2);
  if (command.data.empty() || command.data.size() > 16) return Sw(kSwWrongLength);
  if (command.data == profile_->directory_name) {
    stage_ = Stage::kDirectory;
    return Answer(command, profile_->directory_fci, true);
  }
  for (std::size_t i = 0; i < profile_->applications.size(); ++i) {
    const Bytes& aid = profile_->applications[i].aid;
    if (command.data.size() <= aid.size() && std::equal(command.data.begin(), command.data.end(), aid.begin())) {
      stage_ = Stage::kSelected;
      application_ = i;
      return Answer(command, profile_->applications[i].fci, false);
    }
  }
  // A selection that fails leaves the current one as it was.
  return Sw(kSwFileNotFound);
}

Bytes BankApplication::ReadRecord(const Command& command) {
  if (command.has_data || command.le < 0) return Sw(kSwWrongLength);
  // Record number P1 of the file whose short identifier is in P2.
  if (command.p1 == 0 || (command.p2 & 0x07) != 0x04 || (command.p2 >> 3) == 0) return Sw(kSwWrongP1P2);
  const std::uint8_t sfi = command.p2 >> 3;
  const std::vector<Bytes>* file = nullptr;
  if (stage_ == Stage::kDirectory) {
    if (sfi == profile_->directory_sfi) file = &profile_->directory_records;
  } else if (stage_ != Stage::kNone) {
    const auto& records = profile_->applications[application_].records;
    const auto it = records.find(sfi);
    if (it != records.end()) file = &it->second;
  }
  if (file == nullptr) return Sw(kSwFileNotFound);
  if (command.p1 > file->size()) return Sw(kSwRecordNotFound);
  const Bytes& record = (*file)[command.p1 - 1u];
  const bool exact = static_cast<std::size_t>(command.le) == record.size();
  if (!exact && (command.le != 256 || profile_->exact_le)) return WrongLe(record.size());
  return WithOk(record);
}

Bytes BankApplication::GetProcessingOptions(const Command& command) {
  if (command.p1 != 0 || command.p2 != 0) return Sw(kSwWrongP1P2);
  if (stage_ != Stage::kSelected) return Sw(kSwConditions);
  const BankApplicationProfile& app = profile_->applications[application_];
  // Command template 83 with exactly the values the PDOL asks for.
  std::size_t wanted = 0;
  DolLength(app.pdol, &wanted);
  if (command.data.size() != 2 + wanted || command.data[0] != kTagCommandTemplate || command.data[1] != wanted) {
    return Sw(kSwWrongLength);
  }
  std::uint16_t& atc = counters_[application_];
  // A card whose counter has run out takes no more transactions.
  if (atc == 0xFFFF) return Sw(kSwConditions);
  ++atc;
  stage_ = Stage::kOptions;
  // Response format 1: AIP and AFL.
  Bytes value = app.aip;
  value.insert(value.end(), app.afl.begin(), app.afl.end());
  Bytes data{kTemplateFormat1};
  if (value.size() > 0x7F) data.push_back(0x81);
  data.push_back(static_cast<std::uint8_t>(value.size()));
  data.insert(data.end(), value.begin(), value.end());
  return Answer(command, std::move(data), false);
}

Bytes BankApplication::GenerateAc(const Command& command) {
  const std::uint8_t asked = command.p1 & kTypeMask;
  if (asked == kTypeMask || command.p2 != 0) return Sw(kSwWrongP1P2);
  const bool first = stage_ == Stage::kOptions;
  // The second GENERATE AC of an online transaction completes it: approved
  // (TC) or declined (AAC); another ARQC cannot be asked for.
  if (!first && (stage_ != Stage::kOnline || asked == kArqc)) return Sw(kSwConditions);
  const BankApplicationProfile& app = profile_->applications[application_];
  if (!command.has_data) return Sw(kSwWrongLength);
  if (first && app.has_cdol1) {
    std::size_t wanted = 0;
    DolLength(app.cdol1, &wanted);
    if (command.data.size() != wanted) return Sw(kSwWrongLength);
  }

  // A card may answer a lower type than asked for (AAC < ARQC < TC), never
  // a higher one.
  std::uint8_t cid = asked;
  if (app.decision == CardDecision::kDecline || asked == kAac) {
    cid = kAac;
  } else if (first && app.decision == CardDecision::kOnline) {
    cid = kArqc;
  }
  stage_ = (first && cid == kArqc) ? Stage::kOnline : Stage::kDone;

  const std::uint16_t atc = counters_[application_];
  // Response format 1: CID, ATC, cryptogram, issuer application data.
  Bytes value{cid, static_cast<std::uint8_t>(atc >> 8), static_cast<std::uint8_t>(atc)};
  const Bytes cryptogram = StandInCryptogram(app.key, command.data, app.aip, atc, cid);
  value.insert(value.end(), cryptogram.begin(), cryptogram.end());
  value.insert(value.end(), app.iad.begin(), app.iad.end());
  Bytes data{kTemplateFormat1, static_cast<std::uint8_t>(value.size())};
  data.insert(data.end(), value.begin(), value.end());
  return Answer(command, std::move(data), false);
}

Bytes BankApplication::GetData(const Command& command) {
  if (command.has_data || command.le < 0) return Sw(kSwWrongLength);
  if (stage_ == Stage::kNone || stage_ == Stage::kDirectory) return Sw(kSwConditions);
  const std::uint16_t tag = static_cast<std::uint16_t>(command.p1 << 8 | command.p2);
  const BankApplicationProfile& app = profile_->applications[application_];
  Bytes value;
  if (tag == kTagAtc) {
    const std::uint16_t atc = counters_[application_];
    value = {static_cast<std::uint8_t>(atc >> 8), static_cast<std::uint8_t>(atc)};
  } else {
    const auto it = app.data.find(tag);
    if (it == app.data.end()) return Sw(kSwDataNotFound);
    value = it->second;
  }
  Bytes element;
  AppendBerTlv(&element, tag, value);
  if (command.le != 256 && static_cast<std::size_t>(command.le) != element.size()) return WrongLe(element.size());
  return WithOk(element);
}

Bytes BankApplication::GetResponse(const Command& command) {
  if (command.p1 != 0 || command.p2 != 0) return Sw(kSwWrongP1P2);
  if (command.has_data || command.le < 0) return Sw(kSwWrongLength);
  if (pending_.empty()) return Sw(kSwConditions);
  const std::size_t wanted = static_cast<std::size_t>(command.le);
  // More than is waiting: the card names what there is.
  if (command.le != 256 && wanted > pending_.size()) return WrongLe(pending_.size());
  const std::size_t count = std::min(wanted, pending_.size());
  Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  if (pending_.empty()) return WithOk(std::move(out));
  out.push_back(0x61);
  out.push_back(static_cast<std::uint8_t>(pending_.size() & 0xFF));
  return out;
}

// ------------------------------------------------------------ the two cards

ContactBankCard::ContactBankCard(std::shared_ptr<const BankProfile> profile)
    : ContactCpuCard(profile->atr, false, {}, false), application_(profile) {}

std::string ContactBankCard::Summary() const { return ContactCpuCard::Summary() + "," + application_.Summary(); }

bool ContactBankCard::PowerOn() {
  if (!ContactCpuCard::PowerOn()) return false;
  application_.Reset();
  return true;
}

ContactlessBankCard::ContactlessBankCard(std::shared_ptr<const BankProfile> profile)
    : ContactlessCpuCard(profile->uid, profile->ats, profile->rf_type, {}, false), application_(profile) {}

std::string ContactlessBankCard::Summary() const { return RfCard::Summary() + "," + application_.Summary(); }

void ContactlessBankCard::Activate() {
  ContactlessCpuCard::Activate();
  application_.Reset();
}

namespace {

// The one argument both kinds take: profile=NAME|PATH.
std::shared_ptr<const BankProfile> ProfileArg(const std::vector<std::string>& args, const char* kind,
                                              std::string* error) {
  std::string chosen;
  for (const std::string& word : args) {
    const CardArg arg = SplitCardArg(word);
    if (arg.key != "profile" || !arg.has_value || arg.value.empty() || !chosen.empty()) {
      *error = std::string("usage: insert SEAT ") + kind + " profile=NAME|PATH ('" + word + "'?)";
      return nullptr;
    }
    chosen = arg.value;
  }
  if (chosen.empty()) {
    *error = std::string("usage: insert SEAT ") + kind + " profile=NAME|PATH (profiles: " + BankProfileList() + ")";
    return nullptr;
  }
  const std::string path = ResolveBankProfile(chosen, error);
  if (path.empty()) return nullptr;
  auto profile = std::make_shared<BankProfile>();
  if (!LoadBankProfile(path, profile.get(), error)) return nullptr;
  return profile;
}

}  // namespace

std::unique_ptr<Card> MakeContactBankCard(const std::vector<std::string>& args, std::string* error) {
  std::shared_ptr<const BankProfile> profile = ProfileArg(args, "bank", error);
  if (!profile) return nullptr;
  return std::make_unique<ContactBankCard>(profile);
}

std::unique_ptr<Card> MakeContactlessBankCard(const std::vector<std::string>& args, std::string* error) {
  std::shared_ptr<const BankProfile> profile = ProfileArg(args, "rf-bank", error);
  if (!profile) return nullptr;
  return std::make_unique<ContactlessBankCard>(profile);
}

void InstallBankCards(VirtualReader& reader) {
  reader.card_kinds().Register("bank", "profile=NAME|PATH", MakeContactBankCard);
  reader.card_kinds().Register("rf-bank", "profile=NAME|PATH", MakeContactlessBankCard);
}

}  // namespace kpsim
