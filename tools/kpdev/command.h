// The kpdev command-line tool: its global options and the registry of
// subcommands.
//
// Every technology brings its subcommands in a file of its own,
// tools/kpdev/cmd_<tech>.cpp, which defines an installer and registers it:
//
//   namespace kpdev::tool {
//   namespace {
//   void Install(Tool& tool) {
//     auto options = std::make_shared<ReaderOptions>();
//     CLI::App* cmd = tool.AddCommand("magnetic-read", "reads the swiped tracks", [&tool, options] {
//       Session session(tool.global(), *options);
//       if (!session.Open()) return session.FailureExit();
//       ...
//       return kExitOk;
//     });
//     AddReaderOptions(cmd, options.get(), ReaderDefaults{2});
//   }
//   }  // namespace
//   KPDEV_TOOL_COMMANDS(magnetic, Install);
//   }  // namespace kpdev::tool
//
// The build picks up every cmd_*.cpp file; nothing else needs editing.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "report.h"

namespace kpdev::tool {

// Exit codes of the tool.
constexpr int kExitOk = 0;
constexpr int kExitCallFailed = 1;     // a library call returned an error
constexpr int kExitOpenFailed = 2;     // the port could not be opened (missing, no permission, in use)
constexpr int kExitSimFailed = 3;      // the virtual reader could not be started
constexpr int kExitNoCard = 4;         // no card presented (in time), or the seat is empty
constexpr int kExitNoReader = 5;       // the port opens but no reader answers on it
constexpr int kExitUsage = 64;         // the command line made no sense; nothing was sent
constexpr int kExitInterrupted = 130;  // ended by Ctrl-C, as a shell reports SIGINT

// Options that apply to every subcommand; they may stand before or after
// the subcommand's name.
struct GlobalOptions {
  bool sim = false;                  // run against a virtual reader started for the command
  std::string simFamily;             // t1, t61 or t0; empty: the family of the reader type
  bool simTrace = false;             // the virtual reader prints the line traffic on stderr
  std::vector<std::string> simArgs;  // further kpdev-sim options
  bool json = false;                 // one JSON document instead of text
  bool raw = false;                  // raw hex next to the decoded data
};

// Which reader a subcommand talks to.
struct ReaderOptions {
  int port = 1;  // COM number
  int type = 1;  // device type: 0; 1, 2, 5; 61, 62
  int baud = 9600;
};

struct ReaderDefaults {
  int type = 1;
  int baud = 9600;
};

// Adds --port, --type and --baud to a subcommand.
void AddReaderOptions(CLI::App* command, ReaderOptions* options, ReaderDefaults defaults = {});

// Runs once the command line is parsed; returns the exit code.
using Action = std::function<int()>;

// "kpdev 2.0.0.2\nlibrary 2.0.0.2"
std::string VersionText();

class Tool {
 public:
  explicit Tool(CLI::App& app);
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  const GlobalOptions& global() const { return global_; }
  CLI::App& app() { return app_; }

  // A new subcommand; its action runs when the command line chooses it.
  CLI::App* AddCommand(const std::string& name, const std::string& description, Action action);

  // Installs every registered subcommand (in name order).
  void InstallAll();
  // Runs the action of the subcommand the parsed command line chose.
  int RunChosen();
  // A command line that did not parse: says what was wrong in words a
  // user can act on (an unknown subcommand with the nearest name, options
  // given before the subcommand they belong to, the subcommands there
  // are), on stderr and, with --json, as the JSON document; kExitUsage.
  int UsageFailure(const CLI::ParseError& error, int argc, const char* const* argv);

 private:
  CLI::App& app_;
  GlobalOptions global_;
  std::vector<std::pair<CLI::App*, Action>> actions_;
};

using Installer = void (*)(Tool& tool);

// Registers the installer of one source file; called during static
// initialisation through KPDEV_TOOL_COMMANDS.
bool RegisterInstaller(const char* name, Installer installer);

#define KPDEV_TOOL_COMMANDS(name, installer) \
  [[maybe_unused]] static const bool kpdev_tool_registered_##name = ::kpdev::tool::RegisterInstaller(#name, installer)

// Prints "kpdev: MESSAGE" (and records it for --json); returns kExitUsage.
int UsageError(const std::string& message);

// ---- helpers the subcommands share

class Session;

// Makes a hex text upper-case, as the library wants it; false when it is
// not whole bytes of hex digits, or empty unless `emptyOk`.
bool NormaliseHex(std::string* text, bool emptyOk = false);

// Adds --sim-card: the words of the virtual reader's insert request after
// the seat, for the card put into `where` ("seat", "field").
void AddSimCardOption(CLI::App* command, std::string* words, const std::string& where, const std::string& byDefault);

// One request to the control interface of the session's virtual reader;
// false after printing why on stderr (always false in a build without the
// virtual reader).
bool SimRequest(Session& session, const std::string& line);

// Puts a card into a seat of the session's virtual reader and says so on
// stderr; false after printing why not.
bool SimInsert(Session& session, int seat, const std::string& words);

// Key types, one grammar for every subcommand: A (0x60), B (0x61), or a
// number 0-255 in decimal or 0x hex.
bool ParseKeyType(const std::string& text, int* type);
constexpr char kKeyTypeHelp[] = "key type: A (0x60), B (0x61) or a number 0-255";
constexpr char kKeyTypeGrammar[] = "a key type is A, B or a number 0-255 (decimal, or hex with 0x)";
// "0A" for 10: one byte in hex.
std::string Hex2Text(int byte);

// The answer to reset as "atr      HEX" and its fields below it; in JSON
// "atr" holds the hex and the decoded fields.
void ReportAtr(const std::string& hex);
// Track 2 (equivalent) data or a magnetic track 1 under `key`, then its
// fields (pan, expiry, service code, discretionary data) when it splits.
void ReportTrack(const std::string& key, const std::string& text, bool track1 = false);

}  // namespace kpdev::tool
