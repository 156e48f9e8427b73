#include "cards/cpu_cards.h"

#include "cards/card_args.h"

namespace kpsim {

namespace {

// ISO/IEC 7816-3 limits an answer to reset to 33 bytes.
constexpr std::size_t kMaxAtr = 33;

// Goes through the words of a processor card's insert request: apdu=CMD:RESP
// (repeatable) and the getresponse flag, which both kinds understand, and
// every other word to `own`.  false at the first word refused, with *error
// set.
template <typename Own>
bool ParseCpuWords(const std::vector<std::string>& args, std::vector<ScriptedApdu>* script, bool* get_response,
                   std::string* error, Own own) {
  for (const std::string& word : args) {
    const CardArg arg = SplitCardArg(word);
    if (arg.key == "apdu" && arg.has_value) {
      ScriptedApdu entry;
      if (!ParseScriptedApdu(arg.value, &entry, error)) return false;
      script->push_back(std::move(entry));
    } else if (arg.key == "getresponse" && !arg.has_value) {
      *get_response = true;
    } else if (!own(word, arg)) {
      return false;
    }
  }
  return true;
}

}  // namespace

Bytes ContactCpuCard::DefaultAtr() {
  return Bytes{0x3B, 0x68, 0x00, 0x00, 0x80, 0x4B, 0x50, 0x44, 0x45, 0x56, 0x30, 0x31};
}

ContactCpuCard::ContactCpuCard(Bytes atr, bool mute, std::vector<ScriptedApdu> script, bool get_response)
    : atr_(std::move(atr)), mute_(mute), engine_(std::move(script), get_response) {}

std::string ContactCpuCard::Summary() const {
  if (powered_) return "powered";
  return failed_reset_ ? "mute" : "unpowered";
}

bool ContactCpuCard::PowerOn() {
  if (mute_) {
    powered_ = false;
    failed_reset_ = true;
    return false;
  }
  powered_ = true;
  failed_reset_ = false;
  engine_.Reset();
  return true;
}

std::string RfCard::Summary() const {
  static const char* const kStates[] = {"idle", "active", "halted"};
  return ToHex(uid()) + "," + kStates[static_cast<int>(state_)];
}

Bytes ContactlessCpuCard::DefaultUid() { return Bytes{0x04, 0x5A, 0x21, 0x6C, 0x93, 0x3E, 0x80}; }

// TL 05, T0 78 (TA, TB, TC follow; frame size 256), TA 80, TB 70, TC 02.
Bytes ContactlessCpuCard::DefaultAts() { return Bytes{0x05, 0x78, 0x80, 0x70, 0x02}; }

ContactlessCpuCard::ContactlessCpuCard(Bytes uid, Bytes ats, std::uint8_t type, std::vector<ScriptedApdu> script,
                                       bool get_response)
    : RfCard(std::move(uid), type), ats_(std::move(ats)), engine_(std::move(script), get_response) {}

void ContactlessCpuCard::Activate() {
  RfCard::Activate();
  engine_.Reset();
}

std::unique_ptr<Card> MakeContactCpuCard(const std::vector<std::string>& args, std::string* error) {
  Bytes atr = ContactCpuCard::DefaultAtr();
  bool mute = false;
  bool get_response = false;
  std::vector<ScriptedApdu> script;
  const bool ok = ParseCpuWords(args, &script, &get_response, error, [&](const std::string& word, const CardArg& arg) {
    if (arg.key == "atr") return ParseHexArg(arg, 1, kMaxAtr, &atr, error);
    if (arg.key == "mute" && !arg.has_value) {
      mute = true;
      return true;
    }
    *error = "usage: insert SEAT cpu [atr=HEX] [mute] [getresponse] [apdu=CMD:RESP ...] ('" + word + "'?)";
    return false;
  });
  if (!ok) return nullptr;
  return std::make_unique<ContactCpuCard>(std::move(atr), mute, std::move(script), get_response);
}

std::unique_ptr<Card> MakeContactlessCpuCard(const std::vector<std::string>& args, std::string* error) {
  Bytes uid = ContactlessCpuCard::DefaultUid();
  Bytes ats = ContactlessCpuCard::DefaultAts();
  Bytes type{ContactlessCpuCard::kDefaultType};
  bool get_response = false;
  std::vector<ScriptedApdu> script;
  const bool ok = ParseCpuWords(args, &script, &get_response, error, [&](const std::string& word, const CardArg& arg) {
    if (arg.key == "uid") {
      if (!ParseHexArg(arg, 4, 10, &uid, error)) return false;
      if (uid.size() != 4 && uid.size() != 7 && uid.size() != 10) {
        *error = "uid= takes 4, 7 or 10 bytes";
        return false;
      }
      return true;
    }
    if (arg.key == "ats") {
      // An empty ATS is allowed: the activation then reports length 0.
      if (arg.has_value && arg.value.empty()) {
        ats.clear();
        return true;
      }
      return ParseHexArg(arg, 1, 254, &ats, error);
    }
    if (arg.key == "type") return ParseHexArg(arg, 1, 1, &type, error);
    *error =
        "usage: insert 255 rf-cpu [uid=HEX] [ats=HEX] [type=HEX] [getresponse] [apdu=CMD:RESP ...] ('" + word + "'?)";
    return false;
  });
  if (!ok) return nullptr;
  return std::make_unique<ContactlessCpuCard>(std::move(uid), std::move(ats), type[0], std::move(script), get_response);
}

}  // namespace kpsim
