#include "command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "decode.h"
#include "kp_dev.h"
#include "session.h"

#ifdef KPDEV_TOOL_WITH_SIM
#include "sim_client.h"
#endif

namespace kpdev::tool {

namespace {

// Filled during static initialisation by the cmd_*.cpp files; a function
// static so it exists before the first of them registers.
std::vector<std::pair<std::string, Installer>>& Installers() {
  static std::vector<std::pair<std::string, Installer>> installers;
  return installers;
}

}  // namespace

bool RegisterInstaller(const char* name, Installer installer) {
  Installers().emplace_back(name, installer);
  return true;
}

void AddReaderOptions(CLI::App* command, ReaderOptions* options, ReaderDefaults defaults) {
  options->type = defaults.type;
  options->baud = defaults.baud;
  command->add_option("-p,--port", options->port, "COM number of the reader (1..32)")
      ->check(CLI::Range(1, 32))
      ->capture_default_str();
  command->add_option("-t,--type", options->type, "device type: 0; 1, 2, 5; 61, 62")
      ->check(CLI::IsMember({0, 1, 2, 5, 61, 62}))
      ->capture_default_str();
  command->add_option("-b,--baud", options->baud, "line speed")
      ->check(CLI::IsMember({9600, 19200, 38400, 57600, 115200}))
      ->capture_default_str();
}

Tool::Tool(CLI::App& app) : app_(app) {
  app_.require_subcommand(1);
  // Global options may also follow the subcommand's name.
  app_.fallthrough();
  app_.add_flag("--sim", global_.sim,
                "start a virtual reader (kpdev-sim, next to kpdev or $KPDEV_SIM) and run the command against it");
  app_.add_option("--sim-family", global_.simFamily, "firmware family of the virtual reader (default: from --type)")
      ->check(CLI::IsMember({"t1", "t61", "t0"}));
  app_.add_flag("--sim-trace", global_.simTrace,
                "print the virtual reader's line traffic on stderr, frame by frame decoded, with times");
  app_.add_option("--sim-arg", global_.simArgs, "a further kpdev-sim option (repeatable)")->allow_extra_args(false);
  app_.add_flag("--json", global_.json, "print one JSON document (watch: one object per line) instead of text");
  app_.add_flag("--raw", global_.raw, "show the raw hex next to the decoded data");
  app_.set_version_flag(
      "-V,--version", [] { return VersionText(); }, "print the versions of kpdev and the library");
}

std::string VersionText() {
  char text[64] = {};
  KP_DEV_GetDllVersion(text);
  // The number only: the date after it is GBK text.
  std::string library(text);
  const std::size_t space = library.find(' ');
  if (space != std::string::npos) library.resize(space);
  return std::string("kpdev ") + KPDEV_TOOL_VERSION + "\nlibrary " + library;
}

CLI::App* Tool::AddCommand(const std::string& name, const std::string& description, Action action) {
  CLI::App* command = app_.add_subcommand(name, description);
  actions_.emplace_back(command, std::move(action));
  return command;
}

void Tool::InstallAll() {
  auto installers = Installers();
  std::stable_sort(installers.begin(), installers.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& entry : installers) entry.second(*this);
}

int Tool::RunChosen() {
  Report::Get().Configure(global_.json, global_.raw);
  for (auto& [command, action] : actions_) {
    if (!command->parsed()) continue;
    std::string name = command->get_name();
    for (CLI::App* sub : command->get_subcommands()) name += " " + sub->get_name();
    Report::Get().SetCommand(name);
    return Report::Get().Finish(action());
  }
  return kExitUsage;
}

int UsageError(const std::string& message) {
  Report::Get().Failed(message);
  return kExitUsage;
}

bool NormaliseHex(std::string* text, bool emptyOk) {
  if ((text->empty() && !emptyOk) || text->size() % 2 != 0) return false;
  for (char& c : *text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return true;
}

void AddSimCardOption(CLI::App* command, std::string* words, const std::string& where, const std::string& byDefault) {
  command
      ->add_option("--sim-card", *words,
                   "with --sim: the card put into the " + where +
                       ": KIND [ARG...] as in the virtual reader's insert request after the seat, or none (default: " +
                       byDefault + ")")
      ->type_name("WORDS");
}

bool SimRequest(Session& session, const std::string& line) {
#ifdef KPDEV_TOOL_WITH_SIM
  try {
    session.sim().control().Ok(line);
    return true;
  } catch (const kpsim::SimError& e) {
    std::fprintf(stderr, "kpdev: virtual reader: %s: %s\n", line.c_str(), e.what());
    return false;
  }
#else
  (void)session;
  (void)line;
  return false;
#endif
}

bool SimInsert(Session& session, int seat, const std::string& words) {
  // "none": the seat stays empty.
  if (words == "none") return true;
  if (!SimRequest(session, "insert " + std::to_string(seat) + " " + words)) return false;
  // Seat 255 is the contactless field.
  if (seat == 255) {
    std::fprintf(stderr, "kpdev: virtual reader: %s in the field\n", words.c_str());
  } else {
    std::fprintf(stderr, "kpdev: virtual reader: %s in seat %d\n", words.c_str(), seat);
  }
  return true;
}

bool ParseKeyType(const std::string& text, int* type) {
  if (text == "A" || text == "a") {
    *type = 0x60;
    return true;
  }
  if (text == "B" || text == "b") {
    *type = 0x61;
    return true;
  }
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 0);
  if (*end != '\0' || value < 0 || value > 255) return false;
  *type = static_cast<int>(value);
  return true;
}

std::string Hex2Text(int byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
  return text;
}

void ReportAtr(const std::string& hex) {
  Report& out = Report::Get();
  Bytes bytes;
  if (hex.empty() || !HexToBytes(hex, &bytes)) {
    out.Field("atr", hex.empty() ? "(none)" : hex, hex);
    return;
  }
  const Atr atr = ParseAtr(bytes);
  nlohmann::json j = AtrJson(atr);
  j["hex"] = hex;
  out.Field("atr", hex, j);
  out.Lines(AtrLines(atr, "  "));
}

void ReportTrack(const std::string& key, const std::string& text, bool track1) {
  Report& out = Report::Get();
  const Track track = track1 ? ParseTrack1(text) : ParseTrack2(text);
  nlohmann::json j = TrackJson(track);
  j["text"] = text;
  out.Field(key, text.empty() ? "(no data)" : text, j);
  for (const auto& [label, value] : TrackFields(track))
    out.Line("  " + label + std::string(label.size() < 13 ? 13 - label.size() : 0, ' ') + " " + value);
}

}  // namespace kpdev::tool
