// Subcommands of the bank-card (EMV/PBOC) services.
//
//   kpdev emv info    [--seat 0|255]
//     Track 2 equivalent data (with PAN, expiry and service code taken
//     apart), PAN sequence number and AID of the card's PBOC application.
//   kpdev emv track2  [--seat 0|255]
//     the Track 2 equivalent data alone.
//   kpdev emv records [--seat 0|255] [--capacity N]
//     every record the application file locator names, as a tree of tagged
//     data objects with their EMV names.
//   kpdev emv arqc    [--seat 0|255] [--aid HEX] [--amount A] [--txn-type TT]
//     asks the card for an authorisation request cryptogram and prints the
//     chip data of an online authorisation, element by element.  Without
//     --aid the card's PBOC application is found first (as "info" does).
//     The amount is decimal text in currency units with at most two
//     decimals ("12.34"; "100" is 100.00).
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
#include "decode.h"
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
    Report::Get().Field("uid", uid);
  } else {
    int atrLen = 33;
    char atr[80] = {};
    const int r = KP_DEV_IC_PowerOn(session.handle(), options.seat, &atrLen, atr);
    if (r != 0) return ReportFailure("KP_DEV_IC_PowerOn", r);
    ReportAtr(atr);
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
  return exitCode;
}

int RunInfo(const GlobalOptions& global, const EmvOptions& options) {
  Session session(global, options.reader);
  if (const int e = Prepare(session, options)) return e;
  char track2[kTextRoom] = {}, panSeq[kTextRoom] = {}, aid[kTextRoom] = {};
  const int r = KP_DEV_ReadICCardInfo(session.handle(), options.seat, 0, track2, panSeq, aid);
  // What was read before a failure is shown too: the AID stands once the
  // directory was read, Track 2 once its record was.
  Report& out = Report::Get();
  if (aid[0] != '\0') out.Field("aid", aid);
  if (track2[0] != '\0') ReportTrack("track2", track2);
  if (panSeq[0] != '\0') out.Field("panseq", panSeq);
  if (r == 200 && track2[0] != '\0' && panSeq[0] == '\0') out.Note("the card holds no PAN sequence number (5F34)");
  return Finish(session, options, r == 0 ? kExitOk : ReportFailure("KP_DEV_ReadICCardInfo", r));
}

int RunTrack2(const GlobalOptions& global, const EmvOptions& options) {
  Session session(global, options.reader);
  if (const int e = Prepare(session, options)) return e;
  char track2[kTextRoom] = {};
  const int r = KP_DEV_ReadFinanceICTrack2(session.handle(), options.seat, 0, track2);
  if (track2[0] != '\0') ReportTrack("track2", track2);
  return Finish(session, options, r == 0 ? kExitOk : ReportFailure("KP_DEV_ReadFinanceICTrack2", r));
}

int RunRecords(const GlobalOptions& global, const EmvOptions& options) {
  Session session(global, options.reader);
  if (const int e = Prepare(session, options)) return e;
  // The service may write its terminator one character past the capacity.
  std::vector<char> records(static_cast<std::size_t>(options.capacity) + 1, '\0');
  const int r = KP_DEV_ReadICCardGPOData(session.handle(), options.seat, 0, records.data(), options.capacity);
  const std::string text(records.data());
  Report& out = Report::Get();
  nlohmann::json list = nlohmann::json::array();
  int number = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    // Each answer is the record and the card's status word.
    std::string hex = text.substr(at, end - at);
    at = end + 2;
    ++number;
    std::string sw;
    if (hex.size() >= 4) {
      sw = hex.substr(hex.size() - 4);
      hex.resize(hex.size() - 4);
    }
    Bytes bytes;
    std::vector<Tlv> objects;
    std::string error;
    const bool parsed = HexToBytes(hex, &bytes) && ParseTlv(bytes, &objects, &error);
    nlohmann::json record{{"number", number}, {"sw", sw}, {"hex", hex}};
    out.Line("record " + std::to_string(number) + " (" + std::to_string(bytes.size()) + " bytes, status " + sw + ")");
    if (out.raw() || !parsed) out.Line("  raw " + hex);
    out.Lines(TlvLines(objects, 1));
    if (!parsed) {
      out.Line("  (not BER-TLV: " + error + ")");
      record["error"] = error;
    }
    record["objects"] = TlvJson(objects);
    list.push_back(std::move(record));
  }
  out.doc()["records"] = list;
  if (number == 0) out.Line("(no records)");
  if (r == 201) out.Note("more records than --capacity " + std::to_string(options.capacity) + " characters hold");
  return Finish(session, options, r == 0 ? kExitOk : ReportFailure("KP_DEV_ReadICCardGPOData", r));
}

int RunArqc(const GlobalOptions& global, const EmvOptions& options) {
  long long cents = 0;
  if (!ParseAmount(options.amount, &cents) || cents > 999999999999LL) {
    return UsageError("--amount takes decimal text with at most two decimals, below 10000000000 (e.g. 12.34): '" +
                      options.amount + "'");
  }
  char amount[24];
  std::snprintf(amount, sizeof amount, "%012lld", cents);
  Session session(global, options.reader);
  if (const int e = Prepare(session, options)) return e;
  std::string aid = options.aid;
  if (aid.empty()) {
    char track2[kTextRoom] = {}, panSeq[kTextRoom] = {}, found[kTextRoom] = {};
    const int r = KP_DEV_ReadICCardInfo(session.handle(), options.seat, 0, track2, panSeq, found);
    if (found[0] == '\0') return Finish(session, options, ReportFailure("KP_DEV_ReadICCardInfo", r));
    aid = found;
  }
  Report& out = Report::Get();
  out.Field("aid", aid);
  out.Field("amount", FormatAmount(cents) + " (" + amount + ")", {{"text", FormatAmount(cents)}, {"digits", amount}});
  out.Field("txn-type", options.type);
  char chip[kTextRoom] = {};
  const int r =
      KP_DEV_GetICTraceInfo(session.handle(), options.seat, 0, aid.c_str(), options.type.c_str(), amount, chip);
  if (r != 0) return Finish(session, options, ReportFailure("KP_DEV_GetICTraceInfo", r));
  Bytes bytes;
  std::vector<Tlv> objects;
  std::string error;
  const bool parsed = HexToBytes(chip, &bytes) && ParseTlv(bytes, &objects, &error);
  out.Field("chip", chip, {{"hex", chip}, {"objects", TlvJson(objects)}});
  out.Lines(TlvLines(objects, 1));
  if (!parsed) out.Note("the chip data does not parse as BER-TLV: " + error);
  return Finish(session, options, kExitOk);
}

// The card options.
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
            return UsageError("--aid takes 5 to 16 bytes of hex");
          }
          if (!NormaliseHex(&arqc->type) || arqc->type.size() != 2) {
            return UsageError("--txn-type takes one byte of hex (00 goods and services, 01 cash, ...)");
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
  AddReaderOptions(arqcCmd, &arqc->reader);
  AddCommon(arqcCmd, arqc.get());
  arqcCmd->add_option("--aid", arqc->aid, "the application (default: the card's PBOC application)");
  arqcCmd->add_option("--amount", arqc->amount, "amount in currency units, at most two decimals (12.34)")
      ->capture_default_str();
  arqcCmd->add_option("--txn-type", arqc->type, "transaction type, one byte of hex (00 goods and services, 01 cash)")
      ->capture_default_str();
}

}  // namespace

KPDEV_TOOL_COMMANDS(emv, Install);

}  // namespace kpdev::tool
