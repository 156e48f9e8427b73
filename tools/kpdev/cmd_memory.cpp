// Subcommands of the memory (store) cards.
//
//   kpdev mem read    --chip CHIP --address A --length N  [--zone Z] [--page P] [--mode M]
//                     [--protection] [--pwd HEX ...]
//   kpdev mem write   --chip CHIP --address A --data HEX  [--zone Z] [--page P] [--mode M]
//                     [--protection] [--pwd HEX ...]
//   kpdev mem verify  --chip CHIP --pwd HEX  [--zone Z | --select S --set T]
//   kpdev mem counter --chip CHIP            [--zone Z | --select S --set T]
//
// CHIP: sle4442, sle4428, at24cxx, at88sc102, at88sc1604, at88sc1608,
// at45db041.  Every command also takes --seat (default 0) and the reader
// options.  read and write present the password given with --pwd first, so
// one invocation can open a protected area; verify presents it alone and
// reports the error counter after, counter only reads the counter.  The
// password number of the AT88SC102/1604 is --zone, that of the AT88SC1608
// --select and --set; the AT88SC1608 data commands take the zone with
// --zone, the AT45DB041 ones the page with --page and the offset with
// --address.  --protection reads or writes the SLE4442 protection memory.
//
// With --sim the tool first puts a card into the seat of the virtual reader
// it starts: the chip as delivered, or the words given with --sim-card
// ("sle4442 psc=123456 data=...", the words of the virtual reader's insert
// request after the seat).  Against a long-lived virtual reader (KPDEV_COM<n>
// pointing at its link) several invocations work on one card.

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "kp_dev.h"
#include "session.h"

namespace kpdev::tool {

namespace {

enum class Chip { kSle4442, kSle4428, kAt24cxx, kAt88sc102, kAt88sc1604, kAt88sc1608, kAt45db041 };

const std::map<std::string, Chip>& ChipNames() {
  static const std::map<std::string, Chip> names = {
      {"sle4442", Chip::kSle4442},     {"sle4428", Chip::kSle4428},       {"at24cxx", Chip::kAt24cxx},
      {"at88sc102", Chip::kAt88sc102}, {"at88sc1604", Chip::kAt88sc1604}, {"at88sc1608", Chip::kAt88sc1608},
      {"at45db041", Chip::kAt45db041}};
  return names;
}

// The card the virtual reader gets when --sim-card is not given.
const char* DefaultSimCard(Chip chip) {
  switch (chip) {
    case Chip::kSle4442:
      return "sle4442";
    case Chip::kSle4428:
      return "sle4428";
    case Chip::kAt24cxx:
      return "at24c64";
    case Chip::kAt88sc102:
      return "at88sc102";
    case Chip::kAt88sc1604:
      return "at88sc1604";
    case Chip::kAt88sc1608:
      return "at88sc1608";
    case Chip::kAt45db041:
      return "at45db041";
  }
  return "";
}

bool HasPasswords(Chip chip) { return chip != Chip::kAt24cxx && chip != Chip::kAt45db041; }

// Longest read any chip answers in one call (the AT88SC and AT24Cxx limit).
constexpr int kMaxRead = 1024;

struct MemOptions {
  ReaderOptions reader;
  std::string chip;
  int seat = 0;
  int address = 0;
  int length = 0;
  int zone = 0;
  int select = 0;
  int set = 0;
  int page = 0;
  int mode = 0;
  bool protection = false;
  std::string data;
  std::string pwd;
  std::string simCard;
};

// One command's session: the reader opened (and, with --sim, a card in the
// seat).
class MemSession {
 public:
  MemSession(const GlobalOptions& global, const MemOptions& options, Chip chip)
      : session_(global, options.reader), options_(options), chip_(chip) {}

  // 0, or the exit code to end with.
  int Open() {
    if (!session_.Open()) return session_.FailureExit();
    if (session_.simulated() &&
        !SimInsert(session_, options_.seat, options_.simCard.empty() ? DefaultSimCard(chip_) : options_.simCard)) {
      return kExitSimFailed;
    }
    return kExitOk;
  }

  int h() const { return session_.handle(); }

  // The chip's password check; the call's result.
  int Verify(const std::string& pwd, std::string* call) {
    const int seat = options_.seat;
    const char* p = pwd.c_str();
    switch (chip_) {
      case Chip::kSle4442:
        *call = "KP_DEV_SLE4442_VerifyPwd";
        return KP_DEV_SLE4442_VerifyPwd(h(), seat, p);
      case Chip::kSle4428:
        *call = "KP_DEV_SLE4428_VerifyPwd";
        return KP_DEV_SLE4428_VerifyPwd(h(), seat, p);
      case Chip::kAt88sc102:
        *call = "KP_DEV_AT88SC102_VerifyPwd";
        return KP_DEV_AT88SC102_VerifyPwd(h(), seat, options_.zone, p);
      case Chip::kAt88sc1604:
        *call = "KP_DEV_AT88SC1604_VerifyPwd";
        return KP_DEV_AT88SC1604_VerifyPwd(h(), seat, options_.zone, p);
      case Chip::kAt88sc1608:
        *call = "KP_DEV_AT88SC1608_VerifyPwd";
        return KP_DEV_AT88SC1608_VerifyPwd(h(), seat, options_.select, options_.set, p);
      case Chip::kAt24cxx:
      case Chip::kAt45db041:
        break;
    }
    *call = "verify";
    return KP_DEV_ERR_NOT_SUPPORTED;
  }

  // The error counter of the password the options name.
  int Counter(int* tries, std::string* call) {
    const int seat = options_.seat;
    switch (chip_) {
      case Chip::kSle4442:
        *call = "KP_DEV_SLE4442_ReadERROR";
        return KP_DEV_SLE4442_ReadERROR(h(), seat, tries);
      case Chip::kSle4428:
        *call = "KP_DEV_SLE4428_ReadERROR";
        return KP_DEV_SLE4428_ReadERROR(h(), seat, tries);
      case Chip::kAt88sc102:
        *call = "KP_DEV_AT88SC102_ReadERROR";
        return KP_DEV_AT88SC102_ReadERROR(h(), seat, options_.zone, tries);
      case Chip::kAt88sc1604:
        *call = "KP_DEV_AT88SC1604_ReadERROR";
        return KP_DEV_AT88SC1604_ReadERROR(h(), seat, options_.zone, tries);
      case Chip::kAt88sc1608:
        *call = "KP_DEV_AT88SC1608_ReadERROR";
        return KP_DEV_AT88SC1608_ReadERROR(h(), seat, options_.select, options_.set, tries);
      case Chip::kAt24cxx:
      case Chip::kAt45db041:
        break;
    }
    *call = "counter";
    return KP_DEV_ERR_NOT_SUPPORTED;
  }

  int Read(char* out, char* flags, std::string* call) {
    const int seat = options_.seat;
    const int a = options_.address;
    const int n = options_.length;
    switch (chip_) {
      case Chip::kSle4442:
        if (options_.protection) {
          *call = "KP_DEV_SLE4442_ReadDataForProtection";
          return KP_DEV_SLE4442_ReadDataForProtection(h(), seat, a, n, out);
        }
        *call = "KP_DEV_SLE4442_ReadDataForUser";
        return KP_DEV_SLE4442_ReadDataForUser(h(), seat, a, n, out);
      case Chip::kSle4428:
        *call = "KP_DEV_SLE4428_ReadData";
        return KP_DEV_SLE4428_ReadData(h(), seat, options_.mode, a, n, out, flags);
      case Chip::kAt24cxx:
        *call = "KP_DEV_AT24CXX_ReadData";
        return KP_DEV_AT24CXX_ReadData(h(), seat, a, n, out);
      case Chip::kAt88sc102:
        *call = "KP_DEV_AT88SC102_ReadData";
        return KP_DEV_AT88SC102_ReadData(h(), seat, a, n, out);
      case Chip::kAt88sc1604:
        *call = "KP_DEV_AT88SC1604_ReadData";
        return KP_DEV_AT88SC1604_ReadData(h(), seat, a, n, out);
      case Chip::kAt88sc1608:
        *call = "KP_DEV_AT88SC1608_ReadData";
        return KP_DEV_AT88SC1608_ReadData(h(), seat, options_.zone, a, n, out);
      case Chip::kAt45db041:
        *call = "KP_DEV_AT45DB041_ReadData";
        return KP_DEV_AT45DB041_ReadData(h(), seat, options_.page, a, n, out);
    }
    return KP_DEV_ERR_NOT_SUPPORTED;
  }

  int Write(const std::string& data, std::string* call) {
    const int seat = options_.seat;
    const int a = options_.address;
    const char* d = data.c_str();
    switch (chip_) {
      case Chip::kSle4442:
        if (options_.protection) {
          *call = "KP_DEV_SLE4442_WriteDataForProtection";
          return KP_DEV_SLE4442_WriteDataForProtection(h(), seat, a, d);
        }
        *call = "KP_DEV_SLE4442_WriteDataForUser";
        return KP_DEV_SLE4442_WriteDataForUser(h(), seat, a, d);
      case Chip::kSle4428:
        *call = "KP_DEV_SLE4428_WriteData";
        return KP_DEV_SLE4428_WriteData(h(), seat, options_.mode, a, d);
      case Chip::kAt24cxx:
        *call = "KP_DEV_AT24CXX_WriteData";
        return KP_DEV_AT24CXX_WriteData(h(), seat, a, d);
      case Chip::kAt88sc102:
        *call = "KP_DEV_AT88SC102_WriteData";
        return KP_DEV_AT88SC102_WriteData(h(), seat, a, d);
      case Chip::kAt88sc1604:
        *call = "KP_DEV_AT88SC1604_WriteData";
        return KP_DEV_AT88SC1604_WriteData(h(), seat, a, d);
      case Chip::kAt88sc1608:
        *call = "KP_DEV_AT88SC1608_WriteData";
        return KP_DEV_AT88SC1608_WriteData(h(), seat, options_.zone, a, d);
      case Chip::kAt45db041:
        *call = "KP_DEV_AT45DB041_WriteData";
        return KP_DEV_AT45DB041_WriteData(h(), seat, options_.page, a, d);
    }
    return KP_DEV_ERR_NOT_SUPPORTED;
  }

  // Presents --pwd when one was given; the exit code.
  int PresentPassword() {
    if (options_.pwd.empty()) return kExitOk;
    std::string call;
    const int r = Verify(options_.pwd, &call);
    return r == 0 ? kExitOk : ReportFailure(call, r);
  }

  int Close() {
    const int c = session_.Close();
    return c == 0 ? kExitOk : ReportFailure("KP_DEV_CloseDevice", c);
  }

 private:
  Session session_;
  const MemOptions& options_;
  Chip chip_;
};

// Checks what every action shares; the chip, or the exit code in *exit.
bool Prepare(MemOptions* options, Chip* chip, int* exit) {
  *chip = ChipNames().at(options->chip);
  if (!options->pwd.empty() && !NormaliseHex(&options->pwd)) {
    *exit = UsageError("--pwd needs hex digits, two per byte");
    return false;
  }
  if (!options->pwd.empty() && !HasPasswords(*chip)) {
    *exit = UsageError(options->chip + " has no password");
    return false;
  }
  if (options->protection && *chip != Chip::kSle4442) {
    *exit = UsageError("--protection is for the sle4442");
    return false;
  }
  // Addresses beyond the chip are refused here, before anything is sent.
  int capacity = 0;
  std::string area = options->chip;
  switch (*chip) {
    case Chip::kSle4442:
      capacity = options->protection ? 32 : 256;
      if (options->protection) area += " protection memory";
      break;
    case Chip::kSle4428:
      capacity = 1024;
      break;
    case Chip::kAt88sc1608:
      capacity = 256;
      area += " zone";
      if (options->zone > 7) {
        *exit = UsageError("the at88sc1608 has data zones 0 to 7");
        return false;
      }
      break;
    case Chip::kAt45db041:
      capacity = 264;
      area += " page";
      break;
    default:
      break;
  }
  const int span = options->length > 0 ? options->length : static_cast<int>(options->data.size() / 2);
  if (capacity > 0 && options->address + span > capacity) {
    *exit = UsageError("address " + std::to_string(options->address) + " + " + std::to_string(span) +
                       " bytes runs past the " + std::to_string(capacity) + " bytes of the " + area);
    return false;
  }
  return true;
}

int RunRead(const GlobalOptions& global, MemOptions options) {
  Chip chip;
  int exit = kExitOk;
  if (!Prepare(&options, &chip, &exit)) return exit;
  MemSession session(global, options, chip);
  if ((exit = session.Open()) != kExitOk || (exit = session.PresentPassword()) != kExitOk) return exit;

  // The reads append hex text at the NUL; the SLE4428 flags are one digit
  // per byte.
  std::vector<char> data(2 * kMaxRead + 16, '\0');
  std::vector<char> flags(kMaxRead + 16, '\0');
  std::string call;
  const int r = session.Read(data.data(), flags.data(), &call);
  if (r != 0) return ReportFailure(call, r);
  if (data[0] == '\0' && options.length != 0) {
    Report::Get().Failed(call + " answered with another number of bytes than asked for");
    return kExitCallFailed;
  }
  Report::Get().Field("data", data.data());
  if (flags[0] != '\0') Report::Get().Field("flags", flags.data());
  return session.Close();
}

int RunWrite(const GlobalOptions& global, MemOptions options) {
  Chip chip;
  int exit = kExitOk;
  if (!Prepare(&options, &chip, &exit)) return exit;
  if (!NormaliseHex(&options.data, true)) return UsageError("--data needs hex digits, two per byte");
  MemSession session(global, options, chip);
  if ((exit = session.Open()) != kExitOk || (exit = session.PresentPassword()) != kExitOk) return exit;
  std::string call;
  const int r = session.Write(options.data, &call);
  if (r != 0) return ReportFailure(call, r);
  Report::Get().Field("written", std::to_string(options.data.size() / 2) + " bytes", options.data.size() / 2);
  return session.Close();
}

int RunVerify(const GlobalOptions& global, MemOptions options) {
  Chip chip;
  int exit = kExitOk;
  if (!Prepare(&options, &chip, &exit)) return exit;
  if (!HasPasswords(chip)) return UsageError(options.chip + " has no password");
  MemSession session(global, options, chip);
  if ((exit = session.Open()) != kExitOk) return exit;
  std::string call;
  const int r = session.Verify(options.pwd, &call);
  Report::Get().Field("verify", ResultText(r), ResultJson(r));
  // The counter tells what the presentation cost, also when it failed.
  int tries = -1;
  std::string counterCall;
  const int c = session.Counter(&tries, &counterCall);
  if (tries >= 0) Report::Get().Field("tries", std::to_string(tries), tries);
  if (r != 0) return ReportFailure(call, r);
  if (c != 0) return ReportFailure(counterCall, c);
  return session.Close();
}

int RunCounter(const GlobalOptions& global, MemOptions options) {
  Chip chip;
  int exit = kExitOk;
  if (!Prepare(&options, &chip, &exit)) return exit;
  if (!HasPasswords(chip)) return UsageError(options.chip + " has no error counter");
  MemSession session(global, options, chip);
  if ((exit = session.Open()) != kExitOk) return exit;
  int tries = -1;
  std::string call;
  const int r = session.Counter(&tries, &call);
  // A locked card reports its count with the error.
  if (tries >= 0) Report::Get().Field("tries", std::to_string(tries), tries);
  if (r != 0) return ReportFailure(call, r);
  return session.Close();
}

void AddCommon(CLI::App* command, MemOptions* options) {
  AddReaderOptions(command, &options->reader);
  std::vector<std::string> chips;
  for (const auto& entry : ChipNames()) chips.push_back(entry.first);
  command->add_option("-c,--chip", options->chip, "the card's chip")->required()->check(CLI::IsMember(chips));
  command->add_option("-s,--seat", options->seat, "card seat")->check(CLI::Range(0, 255))->capture_default_str();
  AddSimCardOption(command, &options->simCard, "seat", "the chip as delivered");
}

void AddPasswordNumber(CLI::App* command, MemOptions* options) {
  command->add_option("-z,--zone", options->zone, "AT88SC102/1604 password zone; AT88SC1608 data zone")
      ->check(CLI::Range(0, 255));
  command->add_option("--select", options->select, "AT88SC1608 password: 0 write, 1 read")->check(CLI::Range(0, 1));
  command->add_option("--set", options->set, "AT88SC1608 password set")->check(CLI::Range(0, 8));
}

void AddData(CLI::App* command, MemOptions* options) {
  command->add_option("-a,--address", options->address, "byte address (AT45DB041: offset in the page)")
      ->check(CLI::Range(0, 0xFFFF));
  command->add_option("--page", options->page, "AT45DB041 page")->check(CLI::Range(0, 2047));
  command->add_option("-m,--mode", options->mode, "SLE4428 mode (read: 1 adds protection bits; write: 1 protects)")
      ->check(CLI::Range(0, 255));
  command->add_flag("--protection", options->protection, "the SLE4442 protection memory instead of main memory");
  command->add_option("--pwd", options->pwd, "present this password first (hex)");
}

void Install(Tool& tool) {
  auto read = std::make_shared<MemOptions>();
  auto write = std::make_shared<MemOptions>();
  auto verify = std::make_shared<MemOptions>();
  auto counter = std::make_shared<MemOptions>();
  CLI::App* mem = tool.AddCommand("mem", "read and write memory cards, present passwords, read error counters",
                                  [&tool, read, write, verify, counter]() -> int {
                                    CLI::App* chosen = tool.app().get_subcommand("mem");
                                    if (chosen->get_subcommand("read")->parsed()) return RunRead(tool.global(), *read);
                                    if (chosen->get_subcommand("write")->parsed())
                                      return RunWrite(tool.global(), *write);
                                    if (chosen->get_subcommand("verify")->parsed())
                                      return RunVerify(tool.global(), *verify);
                                    if (chosen->get_subcommand("counter")->parsed())
                                      return RunCounter(tool.global(), *counter);
                                    return kExitUsage;
                                  });
  mem->require_subcommand(1);

  CLI::App* readCmd = mem->add_subcommand("read", "read bytes and print them in hex");
  AddCommon(readCmd, read.get());
  AddData(readCmd, read.get());
  AddPasswordNumber(readCmd, read.get());
  readCmd->add_option("-n,--length", read->length, "number of bytes")->required()->check(CLI::Range(0, kMaxRead));

  CLI::App* writeCmd = mem->add_subcommand("write", "write bytes");
  AddCommon(writeCmd, write.get());
  AddData(writeCmd, write.get());
  AddPasswordNumber(writeCmd, write.get());
  writeCmd->add_option("-d,--data", write->data, "the bytes in hex")->required();

  CLI::App* verifyCmd = mem->add_subcommand("verify", "present a password and show the error counter after");
  AddCommon(verifyCmd, verify.get());
  AddPasswordNumber(verifyCmd, verify.get());
  verifyCmd->add_option("--pwd", verify->pwd, "the password (hex)")->required();

  CLI::App* counterCmd = mem->add_subcommand("counter", "show the tries left of a password");
  AddCommon(counterCmd, counter.get());
  AddPasswordNumber(counterCmd, counter.get());
}

}  // namespace

KPDEV_TOOL_COMMANDS(memory, Install);

}  // namespace kpdev::tool
