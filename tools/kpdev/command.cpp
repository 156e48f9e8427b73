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

namespace {

// Edits to turn one name into the other (Levenshtein distance).
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::vector<std::string> SubcommandNames(const CLI::App* app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app->get_subcommands([](const CLI::App*) { return true; })) {
    names.push_back(sub->get_name());
  }
  return names;
}

const CLI::App* FindSubcommand(const CLI::App* app, const std::string& name) {
  for (const CLI::App* sub : app->get_subcommands([](const CLI::App*) { return true; })) {
    if (sub->get_name() == name) return sub;
  }
  return nullptr;
}

std::string Joined(const std::vector<std::string>& words, const char* separator) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
  return text;
}

// "unknown subcommand 'verison' (did you mean 'version'?)".
std::string UnknownName(const std::string& word, const std::string& what, const std::vector<std::string>& names) {
  std::string best;
  std::size_t bestDistance = 3;  // at most two edits count as a typing slip
  for (const std::string& name : names) {
    const std::size_t d = name.rfind(word, 0) == 0 ? 1 : Distance(word, name);
    if (d < bestDistance) {
      best = name;
      bestDistance = d;
    }
  }
  return "unknown " + what + " '" + word + "'" + (best.empty() ? "" : " (did you mean '" + best + "'?)");
}

}  // namespace

int Tool::UsageFailure(const CLI::ParseError& error, int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  // The global options, and which of them take a value as the next word.
  auto isGlobal = [this](const std::string& arg, bool* takesValue) {
    const std::string name = arg.substr(0, arg.find('='));
    const CLI::Option* option = name.rfind("-", 0) == 0 ? app_.get_option_no_throw(name) : nullptr;
    *takesValue = option != nullptr && option->get_expected_min() > 0 && arg.find('=') == std::string::npos;
    return option != nullptr;
  };
  bool json = false;
  std::vector<std::string> globals, misplaced;
  std::size_t at = 0;
  for (; at < args.size() && args[at] != "--"; ++at) {
    const std::string& arg = args[at];
    if (arg == "--json") json = true;
    bool takesValue = false;
    if (isGlobal(arg, &takesValue)) {
      globals.push_back(arg);
      if (takesValue && at + 1 < args.size()) globals.push_back(args[++at]);
      continue;
    }
    if (arg.rfind("-", 0) == 0 || FindSubcommand(&app_, arg) == nullptr) {
      // An option of a subcommand, or its value, or a mistyped name.
      if (arg.rfind("-", 0) == 0 || !misplaced.empty()) {
        misplaced.push_back(arg);
        continue;
      }
    }
    break;
  }
  for (std::size_t i = at; i < args.size(); ++i) json = json || args[i] == "--json";

  std::string message;
  const std::vector<std::string> names = SubcommandNames(&app_);
  const CLI::App* chosen = at < args.size() ? FindSubcommand(&app_, args[at]) : nullptr;
  if (at < args.size() && chosen == nullptr && args[at] != "--") {
    message = UnknownName(args[at], "subcommand", names) + "; the subcommands are " + Joined(names, ", ");
  } else if (chosen == nullptr) {
    message = "no subcommand given; the subcommands are " + Joined(names, ", ") + " ('kpdev SUBCOMMAND --help')";
  } else if (!misplaced.empty()) {
    // Put them behind the name, in the order given.
    std::vector<std::string> fixed{"kpdev"};
    fixed.insert(fixed.end(), globals.begin(), globals.end());
    fixed.push_back(args[at]);
    fixed.insert(fixed.end(), misplaced.begin(), misplaced.end());
    fixed.insert(fixed.end(), args.begin() + static_cast<std::ptrdiff_t>(at) + 1, args.end());
    message = Joined(misplaced, " ") + ": options of '" + args[at] + "' come after its name: " + Joined(fixed, " ");
  } else {
    const std::vector<std::string> inner = SubcommandNames(chosen);
    const std::string next = at + 1 < args.size() ? args[at + 1] : "";
    if (!inner.empty() && (next.empty() || next.rfind("-", 0) == 0)) {
      message = "'kpdev " + args[at] + "' needs one of " + Joined(inner, ", ");
    } else if (!inner.empty() && FindSubcommand(chosen, next) == nullptr) {
      message = UnknownName(next, "subcommand of " + args[at], inner) + "; there are " + Joined(inner, ", ");
    } else {
      std::string path = args[at] + (inner.empty() ? "" : " " + next);
      if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        // CLI11's own message lists them last first.
        message = "'kpdev " + path + "' takes no " + Joined(app_.remaining(true), " ");
      } else {
        message = error.what();
      }
      message += " (see 'kpdev " + path + " --help')";
    }
  }
  Report& report = Report::Get();
  report.Configure(json, false);
  report.SetCommand(Joined(args, " "));
  report.Failed(message);
  return report.Finish(kExitUsage);
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
  out.Field("atr", hex, AtrDocument(hex));
  out.Lines(AtrLines(atr, "  "));
}

void ReportTrack(const std::string& key, const std::string& text, bool track1) {
  Report& out = Report::Get();
  const Track track = track1 ? ParseTrack1(text) : ParseTrack2(text);
  out.Field(key, text.empty() ? "(no data)" : text, TrackDocument(text, track1));
  for (const auto& [label, value] : TrackFields(track))
    out.Line("  " + label + std::string(label.size() < 13 ? 13 - label.size() : 0, ' ') + " " + value);
}

}  // namespace kpdev::tool
