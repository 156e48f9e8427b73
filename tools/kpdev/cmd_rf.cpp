// Subcommands of the contactless field.
//
//   kpdev rf activate [--store]
//     activates the card in the field and prints its type, UID and answer to
//     select (--store: as a sector card, type and UID checked twice).
//   kpdev rf halt
//   kpdev rf auth     --sector S --key HEX [--key-type A|B|N]
//     activates the sector card and authenticates the sector.
//   kpdev rf read     --sector S --block B                [--key HEX ...]
//   kpdev rf write    --sector S --block B --data HEX     [--key HEX ...]
//   kpdev rf value    --sector S --block B [--set AMOUNT] [--key HEX ...]
//     prints the value of a value block, or first writes it.
//   kpdev rf increase --sector S --block B --amount X     [--key HEX ...]
//   kpdev rf decrease --sector S --block B --amount X     [--key HEX ...]
//   kpdev rf key      --sector S --new-key HEX [--new-key-type A|B|N] [--key HEX ...]
//
// The reader keeps the activation and the authenticated sector between
// commands, so a workflow may authenticate once ("rf auth") and then read,
// write and count in later invocations; with --key a block command
// activates the card and authenticates its sector itself first.  Key types:
// A (0x60), B (0x61) or a number (decimal or 0x..), as everywhere in kpdev.
// Amounts are decimal text with at most two decimals (the card counts
// hundredths); one that the interface's float cannot carry to the cent is
// refused before anything is sent.
//
// With --sim the tool first puts a card into the field (seat 255) of the
// virtual reader it starts: a sector card by default, or the words given
// with --sim-card ("rf-cpu uid=...", "sector keya=...", the words of the
// virtual reader's insert request after the seat).

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "command.h"
#include "decode.h"
#include "kp_dev.h"
#include "session.h"

namespace kpdev::tool {

namespace {

constexpr int kFieldSeat = 255;
constexpr int kBlockChars = 32;
// Room for a UID (at most 10 bytes) and an answer to select (at most 254).
constexpr int kUidRoom = 16;
constexpr int kAtsRoom = 256;

enum class Action { kActivate, kHalt, kAuth, kRead, kWrite, kValue, kIncrease, kDecrease, kKey };

struct RfOptions {
  ReaderOptions reader;
  std::string simCard;
  bool store = false;
  int sector = -1;
  int block = -1;
  std::string key;
  std::string keyType = "A";
  std::string data;
  std::string amount;
  bool setGiven = false;
  std::string set;
  float amountValue = 0;  // the amounts as the interface carries them
  float setValue = 0;
  std::string newKey;
  std::string newKeyType = "A";
};

int ActivateStoreCard(const Session& session, bool print) {
  int type = 0, uidLen = kUidRoom, atsLen = kAtsRoom;
  char uid[2 * kUidRoom + 1] = {};
  char ats[2 * kAtsRoom + 1] = {};
  const int r = KP_DEV_IC_ConnectlessActiveStoreCard(session.handle(), &type, &uidLen, uid, &atsLen, ats);
  if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessActiveStoreCard", r);
  if (print) {
    Report::Get().Field("type", Hex2Text(type), Hex2Text(type));
    Report::Get().Field("uid", uid);
  }
  return kExitOk;
}

int Authenticate(const Session& session, const RfOptions& options) {
  int keyType = 0;
  ParseKeyType(options.keyType, &keyType);
  if (const int e = ActivateStoreCard(session, false)) return e;
  const int r = KP_DEV_IC_ConnectlessCertifySector(session.handle(), options.sector, keyType, options.key.c_str());
  if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessCertifySector", r);
  return kExitOk;
}

int Activate(const Session& session, const RfOptions& options) {
  if (options.store) return ActivateStoreCard(session, true);
  int type = 0, uidLen = kUidRoom, atsLen = kAtsRoom;
  char uid[2 * kUidRoom + 1] = {};
  char ats[2 * kAtsRoom + 1] = {};
  const int r = KP_DEV_IC_ConnectlessActive(session.handle(), &type, &uidLen, uid, &atsLen, ats);
  if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessActive", r);
  Report::Get().Field("type", Hex2Text(type));
  Report::Get().Field("uid", uid);
  Report::Get().Field("ats", atsLen > 0 ? ats : "(none)", atsLen > 0 ? ats : "");
  return kExitOk;
}

int ReadValue(const Session& session, const RfOptions& options) {
  float value = 0;
  const int r = KP_DEV_IC_ConnectlessReadValueBlock(session.handle(), options.sector, options.block, &value);
  if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessReadValueBlock", r);
  const std::string text = FormatAmount(RoundCents(value));
  Report::Get().Field("value", text, text);
  return kExitOk;
}

int Perform(const Session& session, Action action, const RfOptions& options) {
  const int h = session.handle();
  switch (action) {
    case Action::kActivate:
      return Activate(session, options);
    case Action::kHalt: {
      const int r = KP_DEV_IC_ConnectlessHalt(h);
      if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessHalt", r);
      Report::Get().Field("halted", "yes", true);
      return kExitOk;
    }
    case Action::kAuth:
      if (const int e = Authenticate(session, options)) return e;
      Report::Get().Field("sector", std::to_string(options.sector) + " authenticated", options.sector);
      return kExitOk;
    case Action::kRead: {
      char data[2 * kBlockChars + 1] = {};
      int room = 2 * kBlockChars;
      const int r = KP_DEV_IC_ConnectlessReadBlock(h, options.sector, options.block, &room, data);
      if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessReadBlock", r);
      Report::Get().Field("data", data);
      return kExitOk;
    }
    case Action::kWrite: {
      const int r = KP_DEV_IC_ConnectlessWriteBlock(h, options.sector, options.block, options.data.c_str());
      if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessWriteBlock", r);
      Report::Get().Field("written",
                          "sector " + std::to_string(options.sector) + " block " + std::to_string(options.block),
                          {{"sector", options.sector}, {"block", options.block}});
      return kExitOk;
    }
    case Action::kValue:
      if (options.setGiven) {
        const int r = KP_DEV_IC_ConnectlessWriteValueBlock(h, options.sector, options.block, options.setValue);
        if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessWriteValueBlock", r);
      }
      return ReadValue(session, options);
    case Action::kIncrease:
    case Action::kDecrease: {
      const bool up = action == Action::kIncrease;
      const float amount = options.amountValue;
      const int r = up ? KP_DEV_IC_ConnectlessIncrease(h, options.sector, options.block, amount)
                       : KP_DEV_IC_ConnectlessDecrease(h, options.sector, options.block, amount);
      if (r != 0) return ReportFailure(up ? "KP_DEV_IC_ConnectlessIncrease" : "KP_DEV_IC_ConnectlessDecrease", r);
      Report::Get().Field(up ? "increased" : "decreased", FormatAmount(CentsOfFloat(amount)),
                          FormatAmount(CentsOfFloat(amount)));
      return kExitOk;
    }
    case Action::kKey: {
      int type = 0;
      ParseKeyType(options.newKeyType, &type);
      const int r = KP_DEV_IC_ConnectlessWriteKey(h, options.sector, type, options.newKey.c_str());
      if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessWriteKey", r);
      Report::Get().Field("key", options.newKeyType + " of sector " + std::to_string(options.sector) + " written",
                          {{"key_type", options.newKeyType}, {"sector", options.sector}});
      return kExitOk;
    }
  }
  return kExitUsage;
}

// Checks what CLI11 cannot: hex texts and key types.
bool Validate(Action action, RfOptions* options) {
  int type = 0;
  if (!options->key.empty() && (!NormaliseHex(&options->key) || options->key.size() != 12)) {
    UsageError("--key takes a key of 6 bytes in hex (12 digits)");
    return false;
  }
  if (!ParseKeyType(options->keyType, &type) || !ParseKeyType(options->newKeyType, &type)) {
    UsageError(kKeyTypeGrammar);
    return false;
  }
  if (action == Action::kWrite && (!NormaliseHex(&options->data) || options->data.size() > kBlockChars)) {
    UsageError("--data needs up to 16 bytes of hex (the rest of the block is filled with 00)");
    return false;
  }
  if (action == Action::kKey && (!NormaliseHex(&options->newKey) || options->newKey.size() != 12)) {
    UsageError("--new-key takes a key of 6 bytes in hex (12 digits)");
    return false;
  }
  // Amounts: exact decimal text, and only values the interface's float
  // carries to the cent (it is multiplied by 100 and truncated).
  const auto amountOk = [](const std::string& option, const std::string& text, bool negative, float* value) {
    long long cents = 0;
    if (!ParseAmount(text, &cents, negative) || cents > 2147483647LL || cents < -2147483648LL) {
      UsageError(option + " takes decimal text with at most two decimals within the value block's range: '" + text +
                 "'");
      return false;
    }
    if (!FloatForCents(cents, value)) {
      UsageError(option + " " + FormatAmount(cents) +
                 " cannot be carried to the cent by the interface's single-precision float; nearest: " +
                 FormatAmount(CentsOfFloat(static_cast<float>(static_cast<double>(cents) / 100.0))));
      return false;
    }
    return true;
  };
  if (action == Action::kValue && options->setGiven && !amountOk("--set", options->set, true, &options->setValue)) {
    return false;
  }
  if ((action == Action::kIncrease || action == Action::kDecrease) &&
      !amountOk("--amount", options->amount, false, &options->amountValue)) {
    return false;
  }
  return true;
}

int Run(const GlobalOptions& global, Action action, RfOptions options) {
  if (!Validate(action, &options)) return kExitUsage;
  Session session(global, options.reader);
  if (!session.Open()) return session.FailureExit();
  if (session.simulated() && !SimInsert(session, kFieldSeat, options.simCard.empty() ? "sector" : options.simCard)) {
    return kExitSimFailed;
  }
  const bool blockAction = action != Action::kActivate && action != Action::kHalt && action != Action::kAuth;
  if (blockAction && !options.key.empty()) {
    if (const int e = Authenticate(session, options)) return e;
  }
  const int e = Perform(session, action, options);
  std::fflush(stdout);
  if (e != kExitOk) return e;
  const int c = session.Close();
  if (c != 0) return ReportFailure("KP_DEV_CloseDevice", c);
  return kExitOk;
}

void AddKey(CLI::App* command, RfOptions* options, bool required) {
  CLI::Option* key =
      command->add_option("-k,--key", options->key,
                          required ? "the sector's key (hex)" : "activate and authenticate with this key (hex) first");
  if (required) key->required();
  command->add_option("--key-type", options->keyType, kKeyTypeHelp)->capture_default_str();
}

void AddSector(CLI::App* command, RfOptions* options, bool withBlock) {
  command->add_option("--sector", options->sector, "sector (0-15 on a 1K card)")->required()->check(CLI::Range(0, 63));
  if (withBlock) {
    command->add_option("--block", options->block, "block within the sector (0-3)")
        ->required()
        ->check(CLI::Range(0, 15));
  }
}

struct Entry {
  const char* name;
  const char* description;
  Action action;
  std::shared_ptr<RfOptions> options;
  CLI::App* command = nullptr;
};

void Install(Tool& tool) {
  auto entries = std::make_shared<std::vector<Entry>>(std::vector<Entry>{
      {"activate", "activate the card in the field and print its type, UID and answer to select", Action::kActivate,
       std::make_shared<RfOptions>()},
      {"halt", "halt the card in the field", Action::kHalt, std::make_shared<RfOptions>()},
      {"auth", "activate the sector card and authenticate a sector", Action::kAuth, std::make_shared<RfOptions>()},
      {"read", "read a block and print it in hex", Action::kRead, std::make_shared<RfOptions>()},
      {"write", "write a block", Action::kWrite, std::make_shared<RfOptions>()},
      {"value", "print the value of a value block (or first set it)", Action::kValue, std::make_shared<RfOptions>()},
      {"increase", "add an amount to a value block", Action::kIncrease, std::make_shared<RfOptions>()},
      {"decrease", "subtract an amount from a value block", Action::kDecrease, std::make_shared<RfOptions>()},
      {"key", "write a key of the authenticated sector", Action::kKey, std::make_shared<RfOptions>()},
  });
  CLI::App* rf = tool.AddCommand("rf", "contactless cards: activate, authenticate, blocks, values, keys",
                                 [&tool, entries]() -> int {
                                   for (const Entry& e : *entries) {
                                     if (e.command->parsed()) return Run(tool.global(), e.action, *e.options);
                                   }
                                   return kExitUsage;
                                 });
  rf->require_subcommand(1);
  for (Entry& e : *entries) {
    e.command = rf->add_subcommand(e.name, e.description);
    RfOptions* o = e.options.get();
    AddReaderOptions(e.command, &o->reader);
    AddSimCardOption(e.command, &o->simCard, "field", "sector");
    switch (e.action) {
      case Action::kActivate:
        e.command->add_flag("--store", o->store, "activate as a sector card");
        break;
      case Action::kHalt:
        break;
      case Action::kAuth:
        AddSector(e.command, o, false);
        AddKey(e.command, o, true);
        break;
      case Action::kRead:
        AddSector(e.command, o, true);
        AddKey(e.command, o, false);
        break;
      case Action::kWrite:
        AddSector(e.command, o, true);
        AddKey(e.command, o, false);
        e.command->add_option("-d,--data", o->data, "up to 16 bytes in hex")->required();
        break;
      case Action::kValue:
        AddSector(e.command, o, true);
        AddKey(e.command, o, false);
        e.command->add_option("--set", o->set, "write this value first (decimal, at most two decimals)")
            ->each([o](const std::string&) { o->setGiven = true; });
        break;
      case Action::kIncrease:
      case Action::kDecrease:
        AddSector(e.command, o, true);
        AddKey(e.command, o, false);
        e.command->add_option("--amount", o->amount, "amount in units, at most two decimals (12.34)")->required();
        break;
      case Action::kKey:
        AddSector(e.command, o, false);
        AddKey(e.command, o, false);
        e.command->add_option("--new-key", o->newKey, "the new key (hex)")->required();
        e.command->add_option("--new-key-type", o->newKeyType, kKeyTypeHelp)->capture_default_str();
        break;
    }
  }
}

}  // namespace

KPDEV_TOOL_COMMANDS(rf, Install);

}  // namespace kpdev::tool
