// Subcommands of the contact CPU card (and of any processor card that takes
// APDUs on a seat, such as the contactless one on seat 255).
//
//   kpdev cpu status [--seat S]
//     prints the state number the reader reports for the seat.
//   kpdev cpu on     [--seat S]
//     powers the card on and prints its answer to reset.
//   kpdev cpu off    [--seat S]
//   kpdev cpu apdu   [--seat S] [--power-on] [--power-off] [--chain] [--strict] APDU...
//     exchanges the APDUs (hex) in order and prints each answer; --power-on
//     first powers the card on, --power-off powers it off at the end,
//     --chain fetches the real answer when the card asks for it (GET
//     RESPONSE, or a resend with the length the card names), --strict ends
//     with exit code 1 when an answer's status word is not 9000.
//   kpdev cpu type   [--seat S] [--set T]
//     prints the card type of the seat, or sets it.
//
// With --sim the tool first puts a card into the seat of the virtual reader
// it starts: a CPU card as the reader's emulator makes it by default, or the
// words given with --sim-card ("cpu atr=3B02... apdu=00A4:9000", the words
// of the virtual reader's insert request after the seat).

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "decode.h"
#include "kp_dev.h"
#include "session.h"

namespace kpdev::tool {

namespace {

// An answer to reset is at most 33 bytes; APDU answers are whatever one
// frame carries (1037 bytes), as text.
constexpr int kAtrRoom = 64;
constexpr std::size_t kResponseRoom = 4200;

struct CpuOptions {
  ReaderOptions reader;
  int seat = 0;
  std::string simCard;
  bool powerOn = false;
  bool powerOff = false;
  bool chain = false;
  bool strict = false;
  int setType = -1;
  std::vector<std::string> apdus;
};

// Opens the reader and, with --sim, puts the card in the seat; 0 or the
// exit code to end with.
int OpenWithCard(Session& session, const CpuOptions& options) {
  if (!session.Open()) return session.FailureExit();
  if (session.simulated() && !SimInsert(session, options.seat, options.simCard.empty() ? "cpu" : options.simCard)) {
    return kExitSimFailed;
  }
  return kExitOk;
}

// The meaning of a status word given as four hex digits; empty when it
// has none here.
std::string SwMeaning(const std::string& sw) {
  Bytes bytes;
  if (sw.size() != 4 || !HexToBytes(sw, &bytes)) return {};
  return StatusWordMeaning(static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]));
}

int PowerOn(const Session& session, int seat) {
  char atr[2 * kAtrRoom + 1] = {};
  int length = kAtrRoom;
  const int r = KP_DEV_IC_PowerOn(session.handle(), seat, &length, atr);
  if (r != 0) return ReportFailure("KP_DEV_IC_PowerOn", r);
  ReportAtr(length > 0 ? atr : "");
  return kExitOk;
}

int RunStatus(const GlobalOptions& global, const CpuOptions& options) {
  Session session(global, options.reader);
  if (const int e = OpenWithCard(session, options)) return e;
  // The reader leaves the number alone for words it does not list.
  int state = -1;
  const int r = KP_DEV_IC_GetStatus(session.handle(), options.seat, &state);
  if (r != 0) return ReportFailure("KP_DEV_IC_GetStatus", r);
  if (state < 0) {
    Report::Get().Field("state", "(not reported)", nullptr);
  } else {
    Report::Get().Field("state", std::to_string(state) + " (" + CardStateName(state) + ")",
                        {{"code", state}, {"name", CardStateName(state)}});
  }
  return kExitOk;
}

int RunOn(const GlobalOptions& global, const CpuOptions& options) {
  Session session(global, options.reader);
  if (const int e = OpenWithCard(session, options)) return e;
  return PowerOn(session, options.seat);
}

int RunOff(const GlobalOptions& global, const CpuOptions& options) {
  Session session(global, options.reader);
  if (const int e = OpenWithCard(session, options)) return e;
  const int r = KP_DEV_IC_PowerOff(session.handle(), options.seat);
  if (r != 0) return ReportFailure("KP_DEV_IC_PowerOff", r);
  Report::Get().Field("off", "seat " + std::to_string(options.seat), options.seat);
  return kExitOk;
}

int RunApdu(const GlobalOptions& global, CpuOptions options) {
  for (std::string& apdu : options.apdus) {
    if (!NormaliseHex(&apdu) || apdu.size() < 8) {
      return UsageError("an APDU is at least 4 bytes of hex, two digits per byte: '" + apdu + "'");
    }
  }
  Session session(global, options.reader);
  if (const int e = OpenWithCard(session, options)) return e;
  if (options.powerOn) {
    if (const int e = PowerOn(session, options.seat)) return e;
  }
  bool allOk = true;
  for (const std::string& apdu : options.apdus) {
    std::vector<char> response(kResponseRoom, '\0');
    const int length = static_cast<int>(apdu.size());
    const int r = options.chain
                      ? KP_DEV_IC_SendApdu_A(session.handle(), options.seat, 0, apdu.c_str(), length, response.data())
                      : KP_DEV_IC_SendApdu(session.handle(), options.seat, 0, apdu.c_str(), length, response.data());
    Report::Get().Line("> " + apdu);
    const char* call = options.chain ? "KP_DEV_IC_SendApdu_A" : "KP_DEV_IC_SendApdu";
    if (r == KP_DEV_ERR_CARD_NOT_ACTIVE && !options.powerOn) {
      // Each kpdev run opens the reader afresh; the card must be powered
      // in this run or by an earlier one.
      Report::Get().CallFailed(call, r, "the card is not powered on: add --power-on (or run 'kpdev cpu on' first)");
      return kExitCallFailed;
    }
    if (r != 0) return ReportFailure(call, r);
    const std::string answer(response.data());
    const std::string sw = answer.size() >= 4 ? answer.substr(answer.size() - 4) : "";
    const std::string meaning = SwMeaning(sw);
    Report::Get().Line("< " + answer + (meaning.empty() ? "" : "  (" + sw + ": " + meaning + ")"));
    Report::Get().doc()["exchanges"].push_back({{"command", apdu},
                                                {"response", answer},
                                                {"data", answer.substr(0, answer.size() - sw.size())},
                                                {"sw", sw},
                                                {"sw_meaning", meaning}});
    if (answer.size() < 4 || answer.compare(answer.size() - 4, 4, "9000") != 0) allOk = false;
  }
  std::fflush(stdout);
  if (options.powerOff) {
    const int r = KP_DEV_IC_PowerOff(session.handle(), options.seat);
    if (r != 0) return ReportFailure("KP_DEV_IC_PowerOff", r);
  }
  if (options.strict && !allOk) {
    Report::Get().Failed("the card did not answer every APDU with 9000");
    return kExitCallFailed;
  }
  return kExitOk;
}

int RunType(const GlobalOptions& global, const CpuOptions& options) {
  Session session(global, options.reader);
  if (const int e = OpenWithCard(session, options)) return e;
  if (options.setType >= 0) {
    const int r = KP_DEV_IC_SetCardType(session.handle(), options.seat, options.setType);
    if (r != 0) return ReportFailure("KP_DEV_IC_SetCardType", r);
  }
  int type = 0;
  const int r = KP_DEV_IC_GetCardType(session.handle(), options.seat, &type);
  if (r != 0 && !(r == KP_DEV_ERR_NO_CARD_TYPE && type == 0)) return ReportFailure("KP_DEV_IC_GetCardType", r);
  Report::Get().Field("type", std::to_string(type) + (type == 0 ? " (none reported)" : ""), type);
  return kExitOk;
}

void AddCommon(CLI::App* command, CpuOptions* options) {
  AddReaderOptions(command, &options->reader);
  command->add_option("-s,--seat", options->seat, "card seat (255: the contactless processor card)")
      ->check(CLI::Range(0, 255))
      ->capture_default_str();
  AddSimCardOption(command, &options->simCard, "seat", "cpu");
}

void Install(Tool& tool) {
  auto status = std::make_shared<CpuOptions>();
  auto on = std::make_shared<CpuOptions>();
  auto off = std::make_shared<CpuOptions>();
  auto apdu = std::make_shared<CpuOptions>();
  auto type = std::make_shared<CpuOptions>();
  CLI::App* cpu = tool.AddCommand("cpu", "power contact CPU cards on and off and exchange APDUs",
                                  [&tool, status, on, off, apdu, type]() -> int {
                                    CLI::App* chosen = tool.app().get_subcommand("cpu");
                                    if (chosen->get_subcommand("status")->parsed()) {
                                      return RunStatus(tool.global(), *status);
                                    }
                                    if (chosen->get_subcommand("on")->parsed()) return RunOn(tool.global(), *on);
                                    if (chosen->get_subcommand("off")->parsed()) return RunOff(tool.global(), *off);
                                    if (chosen->get_subcommand("apdu")->parsed()) return RunApdu(tool.global(), *apdu);
                                    if (chosen->get_subcommand("type")->parsed()) return RunType(tool.global(), *type);
                                    return kExitUsage;
                                  });
  cpu->require_subcommand(1);

  AddCommon(cpu->add_subcommand("status", "print the state of the seat"), status.get());
  AddCommon(cpu->add_subcommand("on", "power the card on and print its answer to reset"), on.get());
  AddCommon(cpu->add_subcommand("off", "power the card off"), off.get());

  CLI::App* apduCmd = cpu->add_subcommand("apdu", "exchange APDUs and print the answers");
  AddCommon(apduCmd, apdu.get());
  apduCmd->add_flag("--power-on", apdu->powerOn, "power the card on first");
  apduCmd->add_flag("--power-off", apdu->powerOff, "power the card off at the end");
  apduCmd->add_flag("--chain", apdu->chain, "fetch the real answer when the card asks for it (61xx, 6Cxx)");
  apduCmd->add_flag("--strict", apdu->strict, "exit code 1 when a status word is not 9000");
  apduCmd->add_option("apdu", apdu->apdus, "command APDUs in hex")->required();

  CLI::App* typeCmd = cpu->add_subcommand("type", "print (or first set) the card type of the seat");
  AddCommon(typeCmd, type.get());
  typeCmd->add_option("--set", type->setType, "the card type to set (0-255)")->check(CLI::Range(0, 255));
}

}  // namespace

KPDEV_TOOL_COMMANDS(cpu, Install);

}  // namespace kpdev::tool
