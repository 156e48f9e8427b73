// kpdev probe: which readers answer where, found without changing them.
//
//   kpdev probe [--type T] [--port N]... [--quiet]
//
// Each COM number that reaches a device (what `kpdev ports` lists, or the
// --port numbers) is asked, at each line speed from 9600 on, two questions
// that change nothing on any reader:
//
//   - the type-61 firmware's raw version request (ESC 'e' NUL), which the
//     other firmware families ignore;
//   - the framed version command (0x3111), which the type-1 and type-0
//     firmware answer and the type-61 firmware refuses as unknown.
//
// Both go through the library, opened as type 61 and as type 5: opening
// and closing those sends nothing to the device.  The library's automatic
// open is not used for the search, because it opens each candidate as the
// type asked for, and opening or closing a type-1 reader sends the module
// escape sequence (ESC $ I d), which a type-61 or type-0 reader takes as
// an order to change its speed: a type-61 reader at 115200 was left at
// 9600 by a search for type 1.
//
// Which of types 1 and 0 answered the framed command is read from the
// version text (TypeOfVersion: "KP-T0 V3.02" is type 0).  When the text
// names no family, the identity module's presence check decides: only a
// type-0 reader carries the module.
//
// Every request tried is printed on stderr as it is made (--quiet: not);
// the readers found are printed on stdout with the command that opens each.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "decode.h"
#include "id_presence.h"
#include "kp_dev.h"
#include "ports.h"
#include "session.h"

namespace kpdev::tool {

namespace {

// The library's automatic open tries the speeds in this order.
constexpr int kSpeeds[] = {9600, 115200, 19200, 38400, 57600};
// Opened as these types, the library sends nothing at open and close; the
// version request of the first is ESC 'e' NUL, of the second 0x3111 (whose
// answer may have any length).
constexpr int kRawVersionType = 61;
constexpr int kFramedVersionType = 5;
// Room for the longest answer one frame carries, as hexadecimal text.
constexpr std::size_t kVersionRoom = 4200;

struct ProbeOptions {
  int type = -1;  // -1: every family
  std::vector<int> ports;
  bool quiet = false;
};

struct Target {
  int com = 0;
  std::string device;
};

struct Found {
  Target target;
  int type = 0;
  int baud = 0;
  std::string version;  // as a person reads it
  std::string raw;      // as the library reported it
  std::string how;      // why this type
};

// One version request through the library: COM<com> opened at `baud` as a
// reader of `type`, asked for its version, closed.  The library's result.
int AskVersion(int type, int com, int baud, std::string* version) {
  const std::string portText = "COM" + std::to_string(com) + ":" + std::to_string(baud) + ":N:8:1";
  int handle = 0;
  // (A device server still letting go of the last request's connection
  // is tried again by the library's open.)
  int r = KP_DEV_OpenDevice(type, portText.c_str(), &handle);
  if (r != 0) return r;
  std::vector<char> text(kVersionRoom, '\0');
  r = KP_DEV_GetDeviceVersion(handle, text.data());
  KP_DEV_CloseDevice(handle);
  if (r == 0) *version = text.data();
  return r;
}

// The family a probe that found `type` serves for the type asked for.
int FamilyType(int type) {
  if (type == 61 || type == 62) return 61;
  if (type == 0) return 0;
  return 1;
}

class Prober {
 public:
  explicit Prober(const ProbeOptions& options) : options_(options) {
    wantRaw_ = options.type < 0 || FamilyType(options.type) == 61;
    wantFramed_ = options.type < 0 || FamilyType(options.type) != 61;
  }

  // Asks one target at every speed until something answers.
  void Probe(const Target& target) {
    for (const int baud : kSpeeds) {
      if (wantRaw_ && AskRaw(target, baud)) return;
      if (skipped_.count(target.com) != 0) return;
      if (wantFramed_ && AskFramed(target, baud)) return;
      if (skipped_.count(target.com) != 0) return;
    }
  }

  void Skip(const Target& target, const std::string& reason, const std::string& fix) {
    skipped_[target.com] = reason;
    Report::Get().Note("skipped COM" + std::to_string(target.com) + " (" + target.device + "): " + reason);
    if (!fix.empty()) Report::Get().Note("  " + fix);
    nlohmann::json j{{"com", target.com}, {"device", target.device}, {"reason", reason}};
    if (!fix.empty()) j["fix"] = fix;
    skippedJson_.push_back(j);
  }

  const std::vector<Found>& found() const { return found_; }
  const std::map<int, std::string>& skipped() const { return skipped_; }
  nlohmann::json tried() const { return tried_; }
  nlohmann::json skippedJson() const { return skippedJson_; }

 private:
  bool AskRaw(const Target& target, int baud) {
    std::string version;
    const int r = AskVersion(kRawVersionType, target.com, baud, &version);
    if (OpenFailed(target, r)) return false;
    const bool answered = r == 0 && !version.empty();
    Tried(target, baud, "type 61 version request (ESC e NUL)", r, answered ? "\"" + version + "\"" : "");
    if (!answered) return false;
    found_.push_back({target, 61, baud, version, version, "answers the type-61 version request"});
    return true;
  }

  bool AskFramed(const Target& target, int baud) {
    std::string hex;
    const int r = AskVersion(kFramedVersionType, target.com, baud, &hex);
    if (OpenFailed(target, r)) return false;
    const std::string spelled = SpelledVersion(hex);
    Tried(target, baud, "type 1/0 version command (0x3111)", r,
          r == 0 ? "\"" + (spelled.empty() ? hex : spelled) + "\"" : "");
    if (r != 0) return false;
    Found found{target, 1, baud, DescribeVersion(hex, true), hex, ""};
    const int named = TypeOfVersion(spelled);
    if (named == 0 || named == 1) {
      found.type = named;
      found.how = "the version text names type " + std::to_string(named);
    } else {
      // Only the type-0 reader has an identity module to answer.
      switch (CheckIdentityCard(target.device, baud)) {
        case IdPresence::kPresent:
        case IdPresence::kAbsent:
          found.type = 0;
          found.how = "the version text names no type; the identity module answered";
          break;
        case IdPresence::kNoModule:
          found.how = "the version text names no type; no identity module answered";
          break;
        case IdPresence::kUnavailable:
          found.how = "the version text names no type (identity module not asked: not a local device)";
          break;
      }
    }
    found_.push_back(found);
    return true;
  }

  // An open the library refused: the device is missing, busy or not ours,
  // and no other speed will change that.
  bool OpenFailed(const Target& target, int r) {
    if (r != KP_DEV_ERR_OPEN) return false;
    const PortDiagnosis why = DiagnosePort(target.device);
    Skip(target, why.exit != kExitOk ? why.reason : "the library could not open it", why.hint);
    return true;
  }

  void Tried(const Target& target, int baud, const std::string& request, int r, const std::string& answer) {
    std::string outcome = !answer.empty() ? answer : r == KP_DEV_ERR_READ || r == 0 ? "no answer" : ResultText(r);
    if (r == KP_DEV_ERR_UNKNOWN_COMMAND) outcome += ": a type-61 reader answers so";
    if (!options_.quiet) {
      char line[256];
      std::snprintf(line, sizeof line, "probe COM%-2d %-7d %s: ", target.com, baud, request.c_str());
      Report::Get().Note(line + outcome);
    }
    tried_.push_back({{"com", target.com}, {"baud", baud}, {"request", request}, {"result", r}, {"answer", answer}});
  }

  const ProbeOptions& options_;
  bool wantRaw_ = true;
  bool wantFramed_ = true;
  std::vector<Found> found_;
  std::map<int, std::string> skipped_;
  nlohmann::json tried_ = nlohmann::json::array();
  nlohmann::json skippedJson_ = nlohmann::json::array();
};

// The COM numbers to search, in ascending order; those this user cannot
// open are handed to `prober` as skipped.
std::vector<Target> Targets(const ProbeOptions& options, Prober* prober) {
  std::vector<PortEntry> entries;
  if (!options.ports.empty()) {
    for (const int com : options.ports) {
      PortEntry entry;
      entry.com = com;
      entry.path = ComDevicePath(com);
      CheckAccess(&entry);
      entries.push_back(entry);
    }
  } else {
    for (const std::string& mapping : MapUnmappedDevices()) Report::Get().Note("searching also " + mapping);
    for (const PortEntry& entry : CollectPorts()) {
      if (entry.com > 0) entries.push_back(entry);
    }
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const PortEntry& a, const PortEntry& b) { return a.com < b.com; });
  std::vector<Target> targets;
  for (const PortEntry& entry : entries) {
    const bool seen = std::any_of(targets.begin(), targets.end(), [&](const Target& t) { return t.com == entry.com; });
    if (seen || prober->skipped().count(entry.com) != 0) continue;
    const Target target{entry.com, entry.path};
    if (!entry.usable) {
      prober->Skip(target, entry.access.rfind("no: ", 0) == 0 ? entry.access.substr(4) : entry.access, entry.fix);
      continue;
    }
    targets.push_back(target);
  }
  return targets;
}

int RunProbe(const GlobalOptions& global, ProbeOptions options) {
  Report& out = Report::Get();
  SimHost sim;
  if (global.sim) {
    if (options.ports.empty()) options.ports.push_back(1);
    const std::string family =
        global.simFamily.empty() ? FamilyOfType(options.type < 0 ? 1 : options.type) : global.simFamily;
    // A virtual reader starts as the reader would be found: type 61 at its
    // usual 115200, the others at 9600.
    if (!sim.Start(global, family, options.ports.front(), family == "t61" ? 115200 : 9600)) return kExitSimFailed;
  }
  Prober prober(options);
  const std::vector<Target> targets = Targets(options, &prober);
  for (const Target& target : targets) prober.Probe(target);

  nlohmann::json readers = nlohmann::json::array();
  std::vector<std::string> lines;
  bool matching = false;
  for (const Found& f : prober.found()) {
    matching = matching || options.type < 0 || FamilyType(options.type) == f.type;
    char line[512];
    std::snprintf(line, sizeof line, "COM%-3d type %-3d %6d baud  %s  (%s)", f.target.com, f.type, f.baud,
                  f.version.c_str(), f.target.device.c_str());
    lines.push_back(line);
    lines.push_back("        " + f.how + "; open it with: kpdev version --port " + std::to_string(f.target.com) +
                    " --type " + std::to_string(f.type) + " --baud " + std::to_string(f.baud));
    readers.push_back({{"com", f.target.com},
                       {"device", f.target.device},
                       {"type", f.type},
                       {"baud", f.baud},
                       {"version", f.version},
                       {"version_raw", f.raw},
                       {"how", f.how}});
  }
  out.doc()["readers"] = readers;
  out.doc()["skipped"] = prober.skippedJson();
  out.doc()["tried"] = prober.tried();
  out.Lines(lines);

  if (matching) return kExitOk;
  if (targets.empty()) {
    out.Failed(prober.skipped().empty()
                   ? "no port to search: 'kpdev ports' lists the serial devices; KPDEV_COM<n>=DEVICE adds one"
                   : "no port to search: every port was skipped (see above)");
    return kExitOpenFailed;
  }
  std::string searched;
  for (const Target& target : targets) searched += (searched.empty() ? "COM" : ", COM") + std::to_string(target.com);
  std::string message = "no reader answered on " + searched + " at any speed";
  if (!prober.found().empty()) message = "no reader of type " + std::to_string(options.type) + " answered";
  if (!prober.skipped().empty()) {
    message += "; " + std::to_string(prober.skipped().size()) + " port(s) skipped (see above)";
  }
  out.Failed(message);
  return kExitNoReader;
}

void Install(Tool& tool) {
  auto options = std::make_shared<ProbeOptions>();
  CLI::App* probe =
      tool.AddCommand("probe", "find the readers on the serial ports without changing them: port, type, speed, version",
                      [&tool, options] { return RunProbe(tool.global(), *options); });
  probe->add_option("-t,--type", options->type, "look only for readers of this type's family (default: every family)")
      ->check(CLI::IsMember({0, 1, 2, 5, 61, 62}));
  probe
      ->add_option("-p,--port", options->ports,
                   "search only this COM number (repeatable; default: every port 'kpdev ports' lists; with --sim: 1)")
      ->check(CLI::Range(1, 32));
  probe->add_flag("-q,--quiet", options->quiet, "do not print each request on stderr as it is made");
}

}  // namespace

KPDEV_TOOL_COMMANDS(probe, Install);

}  // namespace kpdev::tool
