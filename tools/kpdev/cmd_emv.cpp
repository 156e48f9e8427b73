// Subcommands of the bank-card (EMV/PBOC) services.
//
//   kpdev emv info    [--seat 0|255]
//     Track 2 equivalent data (with PAN, expiry and service code taken
//     apart), PAN sequence number and AID of the card's PBOC application.
//   kpdev emv track2  [--seat 0|255]
//     the Track 2 equivalent data alone.
//   kpdev emv records [--seat 0|255] [--capacity N]
//     every record the application file locator names, one per line.
//   kpdev emv arqc    [--seat 0|255] [--aid HEX] [--amount A] [--type TT]
//                     [--device-type N]
//     asks the card for an authorisation request cryptogram and prints the
//     chip data of an online authorisation, element by element.  Without
//     --aid the card's PBOC application is found first (as "info" does).
//     Here --type is the transaction type; the reader's device type is
//     --device-type.
//
// Before the service call the tool powers the contact card on (seat 0) or
// activates the contactless card (seat 255); afterwards it powers it off or
// halts it.  With --sim the virtual reader gets a bank card personalised
// from a card profile (--sim-profile, a name of the virtual reader's
// profile directory or a path): "bank" in the contact seat, "rf-bank" in
// the field.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "kp_dev.h"
#include "session.h"

namespace kpdev::tool {

namespace {

constexpr int kContactSeat = 0;
constexpr int kFieldSeat = 255;
constexpr char kDefaultProfile[] = "pboc-debit-two-sfi";
// Room of the texts the services write: Track 2 is at most 50 characters,
// an AID 32, the chip data 299; the records as many as --capacity says.
constexpr std::size_t kTextRoom = 512;
constexpr int kDefaultCapacity = 8192;

struct EmvOptions {
  ReaderOptions reader;
  int seat = kContactSeat;
  std::string simProfile = kDefaultProfile;
  int capacity = kDefaultCapacity;
  std::string aid;
  std::string amount = "0";
  std::string type = "00";
};

// Opens the reader (and the virtual reader's card) and readies the card:
// power-on of a contact seat, activation of the field's card.
int Prepare(Session& session, const EmvOptions& options) {
  if (!session.Open()) return session.FailureExit();
  if (session.simulated() &&
      !SimInsert(session, options.seat,
                 std::string(options.seat == kFieldSeat ? "rf-bank" : "bank") + " profile=" + options.simProfile)) {
    return kExitSimFailed;
  }
  if (options.seat == kFieldSeat) {
    int cardType = 0, uidLen = 10, atsLen = 254;
    char uid[32] = {}, ats[520] = {};
    const int r = KP_DEV_IC_ConnectlessActive(session.handle(), &cardType, &uidLen, uid, &atsLen, ats);
    if (r != 0) return ReportFailure("KP_DEV_IC_ConnectlessActive", r);
    std::printf("uid      %s\n", uid);
  } else {
    int atrLen = 33;
    char atr[80] = {};
    const int r = KP_DEV_IC_PowerOn(session.handle(), options.seat, &atrLen, atr);
    if (r != 0) return ReportFailure("KP_DEV_IC_PowerOn", r);
    std::printf("atr      %s\n", atr);
  }
  return kExitOk;
}

// Powers the contact card off or halts the field's card; the service's
// exit code stands.
int Finish(Session& session, const EmvOptions& options, int exitCode) {
  if (options.seat == kFieldSeat) {
    KP_DEV_IC_ConnectlessHalt(session.handle());
  } else {
    KP_DEV_IC_PowerOff(session.handle(), options.seat);
  }
  std::fflush(stdout);
  return exitCode;
}

// The parts of Track 2 equivalent data: PAN, separator D, expiry YYMM,
// service code, discretionary data (and a trailing F).
void PrintTrack2(const std::string& track2) {
  std::printf("track2   %s\n", track2.c_str());
  const std::size_t d = track2.find('D');
  if (d == std::string::npos || track2.size() < d + 8) return;
  std::printf("pan      %s\n", track2.substr(0, d).c_str());
  std::printf("expiry   %s/%s (month/year)\n", track2.substr(d + 3, 2).c_str(), track2.substr(d + 1, 2).c_str());
  std::printf("service  %s\n", track2.substr(d + 5, 3).c_str());
}

int RunInfo(const GlobalOptions& global, const EmvOptions& options) {
  Session session(global, options.reader);
  if (const int e = Prepare(session, options)) return e;
  char track2[kTextRoom] = {}, panSeq[kTextRoom] = {}, aid[kTextRoom] = {};
  const int r = KP_DEV_ReadICCardInfo(session.handle(), options.seat, 0, track2, panSeq, aid);
  // What was read before a failure is shown too: the AID stands once the
  // directory was read, Track 2 once its record was.
  if (aid[0] != '\0') std::printf("aid      %s\n", aid);
  if (track2[0] != '\0') PrintTrack2(track2);
  if (panSeq[0] != '\0') std::printf("panseq   %s\n", panSeq);
  if (r == 200 && track2[0] != '\0' && panSeq[0] == '\0') {
    std::fprintf(stderr, "kpdev: the card holds no PAN sequence number (5F34)\n");
  }
  return Finish(session, options, r == 0 ? kExitOk : ReportFailure("KP_DEV_ReadICCardInfo", r));
}

int RunTrack2(const GlobalOptions& global, const EmvOptions& options) {
  Session session(global, options.reader);
  if (const int e = Prepare(session, options)) return e;
  char track2[kTextRoom] = {};
  const int r = KP_DEV_ReadFinanceICTrack2(session.handle(), options.seat, 0, track2);
  if (track2[0] != '\0') PrintTrack2(track2);
  return Finish(session, options, r == 0 ? kExitOk : ReportFailure("KP_DEV_ReadFinanceICTrack2", r));
}

int RunRecords(const GlobalOptions& global, const EmvOptions& options) {
  Session session(global, options.reader);
  if (const int e = Prepare(session, options)) return e;
  // The service may write its terminator one character past the capacity.
  std::vector<char> records(static_cast<std::size_t>(options.capacity) + 1, '\0');
  const int r = KP_DEV_ReadICCardGPOData(session.handle(), options.seat, 0, records.data(), options.capacity);
  const std::string text(records.data());
  int number = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::printf("record %-2d %s\n", ++number, text.substr(at, end - at).c_str());
    at = end + 2;
  }
  if (number == 0) std::printf("(no records)\n");
  if (r == 201) std::fprintf(stderr, "kpdev: more records than --capacity %d characters hold\n", options.capacity);
  return Finish(session, options, r == 0 ? kExitOk : ReportFailure("KP_DEV_ReadICCardGPOData", r));
}

// Twelve digits of minor units: "12.34" is 000000001234, "100" is
// 000000000100 (already minor units).  Empty when the text is neither.
std::string AmountDigits(const std::string& text) {
  std::string digits;
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) {
    digits = text;
  } else {
    const std::string fraction = text.substr(dot + 1);
    if (fraction.size() > 2) return {};
    digits = text.substr(0, dot) + fraction + std::string(2 - fraction.size(), '0');
  }
  if (digits.empty() || digits.size() > 12) return {};
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return {};
  }
  return std::string(12 - digits.size(), '0') + digits;
}

const char* ElementName(const std::string& tag) {
  static const struct {
    const char* tag;
    const char* name;
  } kNames[] = {
      {"9F26", "application cryptogram"},
      {"9F27", "cryptogram information data"},
      {"9F10", "issuer application data"},
      {"9F37", "unpredictable number"},
      {"9F36", "application transaction counter"},
      {"95", "terminal verification results"},
      {"9A", "transaction date"},
      {"9C", "transaction type"},
      {"9F02", "amount, authorised"},
      {"5F2A", "transaction currency code"},
      {"82", "application interchange profile"},
      {"9F1A", "terminal country code"},
      {"9F03", "amount, other"},
      {"9F33", "terminal capabilities"},
  };
  for (const auto& n : kNames) {
    if (tag == n.tag) return n.name;
  }
  return "";
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The chip data one element per line: tag, name, value.
void PrintChipData(const std::string& chip) {
  std::printf("chip     %s\n", chip.c_str());
  std::size_t at = 0;
  while (at + 4 <= chip.size()) {
    const int first = HexValue(chip[at]) * 16 + HexValue(chip[at + 1]);
    const std::size_t tagChars = (first & 0x1F) == 0x1F ? 4 : 2;
    if (at + tagChars + 2 > chip.size()) break;
    const std::string tag = chip.substr(at, tagChars);
    const int length = HexValue(chip[at + tagChars]) * 16 + HexValue(chip[at + tagChars + 1]);
    const std::size_t valueAt = at + tagChars + 2;
    if (length < 0 || valueAt + 2 * static_cast<std::size_t>(length) > chip.size()) break;
    std::printf("  %-4s %-32s %s\n", tag.c_str(), ElementName(tag),
                chip.substr(valueAt, 2 * static_cast<std::size_t>(length)).c_str());
    at = valueAt + 2 * static_cast<std::size_t>(length);
  }
}

int RunArqc(const GlobalOptions& global, const EmvOptions& options) {
  const std::string amount = AmountDigits(options.amount);
  if (amount.empty()) {
    std::fprintf(stderr, "kpdev: --amount takes up to 12 digits of minor units or a decimal such as 12.34\n");
    return kExitUsage;
  }
  Session session(global, options.reader);
  if (const int e = Prepare(session, options)) return e;
  std::string aid = options.aid;
  if (aid.empty()) {
    char track2[kTextRoom] = {}, panSeq[kTextRoom] = {}, found[kTextRoom] = {};
    const int r = KP_DEV_ReadICCardInfo(session.handle(), options.seat, 0, track2, panSeq, found);
    if (found[0] == '\0') return Finish(session, options, ReportFailure("KP_DEV_ReadICCardInfo", r));
    aid = found;
  }
  std::printf("aid      %s\n", aid.c_str());
  std::printf("amount   %s\n", amount.c_str());
  std::printf("type     %s\n", options.type.c_str());
  char chip[kTextRoom] = {};
  const int r =
      KP_DEV_GetICTraceInfo(session.handle(), options.seat, 0, aid.c_str(), options.type.c_str(), amount.c_str(), chip);
  if (r != 0) return Finish(session, options, ReportFailure("KP_DEV_GetICTraceInfo", r));
  PrintChipData(chip);
  return Finish(session, options, kExitOk);
}

// The card options; the reader options come separately, since "arqc"
// names the reader type --device-type (its --type is the transaction's).
void AddCommon(CLI::App* command, EmvOptions* options) {
  command->add_option("-s,--seat", options->seat, "0: the contact card; 255: the contactless card")
      ->check(CLI::IsMember({kContactSeat, kFieldSeat}))
      ->capture_default_str();
  command
      ->add_option("--sim-profile", options->simProfile,
                   "with --sim: the bank card's profile (a name in the virtual reader's profile directory, or a path)")
      ->capture_default_str();
}

void Install(Tool& tool) {
  auto info = std::make_shared<EmvOptions>();
  auto track2 = std::make_shared<EmvOptions>();
  auto records = std::make_shared<EmvOptions>();
  auto arqc = std::make_shared<EmvOptions>();
  CLI::App* emv = tool.AddCommand(
      "emv", "read a bank card's PBOC application: Track 2, records, ARQC chip data",
      [&tool, info, track2, records, arqc]() -> int {
        CLI::App* chosen = tool.app().get_subcommand("emv");
        if (chosen->get_subcommand("info")->parsed()) return RunInfo(tool.global(), *info);
        if (chosen->get_subcommand("track2")->parsed()) return RunTrack2(tool.global(), *track2);
        if (chosen->get_subcommand("records")->parsed()) return RunRecords(tool.global(), *records);
        if (chosen->get_subcommand("arqc")->parsed()) {
          if (!arqc->aid.empty() && (!NormaliseHex(&arqc->aid) || arqc->aid.size() < 10 || arqc->aid.size() > 32)) {
            std::fprintf(stderr, "kpdev: --aid takes 5 to 16 bytes of hex\n");
            return kExitUsage;
          }
          if (!NormaliseHex(&arqc->type) || arqc->type.size() != 2) {
            std::fprintf(stderr, "kpdev: --type takes one byte of hex (00 goods and services, 01 cash, ...)\n");
            return kExitUsage;
          }
          return RunArqc(tool.global(), *arqc);
        }
        return kExitUsage;
      });
  emv->require_subcommand(1);

  CLI::App* infoCmd = emv->add_subcommand("info", "print Track 2, PAN sequence number and AID");
  AddReaderOptions(infoCmd, &info->reader);
  AddCommon(infoCmd, info.get());
  CLI::App* track2Cmd = emv->add_subcommand("track2", "print the Track 2 equivalent data");
  AddReaderOptions(track2Cmd, &track2->reader);
  AddCommon(track2Cmd, track2.get());
  CLI::App* recordsCmd = emv->add_subcommand("records", "print every record the application file locator names");
  AddReaderOptions(recordsCmd, &records->reader);
  AddCommon(recordsCmd, records.get());
  recordsCmd->add_option("--capacity", records->capacity, "characters of record text the service may write")
      ->check(CLI::Range(1, 1 << 20))
      ->capture_default_str();
  CLI::App* arqcCmd = emv->add_subcommand("arqc", "ask for an ARQC and print the chip data of an online authorisation");
  arqcCmd->add_option("-p,--port", arqc->reader.port, "COM number of the reader (1..32)")
      ->check(CLI::Range(1, 32))
      ->capture_default_str();
  arqcCmd->add_option("--device-type", arqc->reader.type, "device type: 0; 1, 2, 5; 61, 62")
      ->check(CLI::IsMember({0, 1, 2, 5, 61, 62}))
      ->capture_default_str();
  arqcCmd->add_option("-b,--baud", arqc->reader.baud, "line speed")
      ->check(CLI::IsMember({9600, 19200, 38400, 57600, 115200}))
      ->capture_default_str();
  AddCommon(arqcCmd, arqc.get());
  arqcCmd->add_option("--aid", arqc->aid, "the application (default: the card's PBOC application)");
  arqcCmd->add_option("--amount", arqc->amount, "amount: minor units (100) or a decimal (1.00)")->capture_default_str();
  arqcCmd->add_option("--type", arqc->type, "transaction type, one byte of hex (00 goods and services, 01 cash)")
      ->capture_default_str();
}

}  // namespace

KPDEV_TOOL_COMMANDS(emv, Install);

}  // namespace kpdev::tool
