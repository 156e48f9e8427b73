#include "command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <utility>

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
  app_.add_flag("--sim-trace", global_.simTrace, "the virtual reader prints the line traffic on stderr");
  app_.add_option("--sim-arg", global_.simArgs, "a further kpdev-sim option (repeatable)")->allow_extra_args(false);
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
  for (auto& [command, action] : actions_) {
    if (command->parsed()) return action();
  }
  return kExitUsage;
}

std::string ResultText(int code) {
  static const std::map<int, const char*> kMeanings = {
      {0, "success"},
      {-1, "open failure or refused parameter"},
      {-2, "a serial wait ran out"},
      {-3, "serial write failure"},
      {-4, "serial read failure or timeout"},
      {-5, "parameter out of range or text not upper-case hexadecimal"},
      {-6, "identity read time limit passed"},
      {-8, "response frame not ended by ETX or unusable"},
      {-9, "unknown device status word or unexpected reply byte"},
      {-10, "handle not open"},
      {-20, "operation not valid for this reader type or module"},
      {-99, "internal failure inside the library"},
      {-101, "nothing presented yet"},
      {-102, "magnetic read failure"},
      {-103, "magnetic write failure"},
      {-301, "module escape sequence refused (1)"},
      {-302, "module escape sequence refused (2)"},
      {-304, "buffer smaller than the data"},
      {200, "card status word other than 9000"},
      {201, "capacity exceeded"},
  };
  std::string text = std::to_string(code);
  const auto it = kMeanings.find(code);
  if (it != kMeanings.end()) {
    text += std::string(" (") + it->second + ")";
  } else if (code <= -305 && code >= -328) {
    text += " (device status error)";
  }
  return text;
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
                       ", as the words of the virtual reader's insert request after the seat (default: " + byDefault +
                       ")")
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
  if (!SimRequest(session, "insert " + std::to_string(seat) + " " + words)) return false;
  // Seat 255 is the contactless field.
  if (seat == 255) {
    std::fprintf(stderr, "kpdev: virtual reader: %s in the field\n", words.c_str());
  } else {
    std::fprintf(stderr, "kpdev: virtual reader: %s in seat %d\n", words.c_str(), seat);
  }
  return true;
}

}  // namespace kpdev::tool
