#include "probe.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "decode.h"
#include "documents.h"
#include "id_presence.h"
#include "kp_dev.h"
#include "ports.h"
#include "watcher.h"  // ComDevicePath

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
// Exit codes, as the tool's.
constexpr int kExitOpenFailed = 2;
constexpr int kExitNoReader = 5;

struct Target {
  int com = 0;
  std::string device;
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
  text.back() = '\0';
  if (r == 0) *version = text.data();
  return r;
}

class Prober {
 public:
  explicit Prober(const ProbeOptions& options) : options_(options) {
    wantRaw_ = options.type < 0 || FamilyType(options.type) == 61;
    wantFramed_ = options.type < 0 || FamilyType(options.type) != 61;
  }

  // Asks one target at every speed until something answers.  false when
  // the caller kept the port for itself.
  bool Probe(const Target& target) {
    if (options_.claim) {
      const std::string held = options_.claim(target.com);
      if (!held.empty()) {
        Skip(target, held, "");
        return false;
      }
    }
    for (const int baud : kSpeeds) {
      if (options_.stopping && options_.stopping()) break;
      if (wantRaw_ && AskRaw(target, baud)) break;
      if (skipped_.count(target.com) != 0) break;
      if (wantFramed_ && AskFramed(target, baud)) break;
      if (skipped_.count(target.com) != 0) break;
    }
    if (options_.release) options_.release(target.com);
    return true;
  }

  void Skip(const Target& target, const std::string& reason, const std::string& fix) {
    skipped_[target.com] = reason;
    Note("skipped COM" + std::to_string(target.com) + " (" + target.device + "): " + reason);
    if (!fix.empty()) Note("  " + fix);
    nlohmann::json j{{"com", target.com}, {"device", target.device}, {"reason", reason}};
    if (!fix.empty()) j["fix"] = fix;
    skippedJson_.push_back(j);
  }

  void Note(const std::string& line) const {
    if (options_.note) options_.note(line);
  }

  const std::vector<ProbeFound>& found() const { return found_; }
  const std::map<int, std::string>& skipped() const { return skipped_; }
  const nlohmann::json& tried() const { return tried_; }
  const nlohmann::json& skippedJson() const { return skippedJson_; }

 private:
  bool AskRaw(const Target& target, int baud) {
    std::string version;
    const int r = AskVersion(kRawVersionType, target.com, baud, &version);
    if (OpenFailed(target, r)) return false;
    const bool answered = r == 0 && !version.empty();
    Tried(target, baud, "type 61 version request (ESC e NUL)", r, answered ? "\"" + version + "\"" : "");
    if (!answered) return false;
    found_.push_back({target.com, target.device, 61, baud, version, version, "answers the type-61 version request"});
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
    ProbeFound found{target.com, target.device, 1, baud, DescribeVersion(hex, true), hex, ""};
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
    Skip(target, !why.ok ? why.reason : "the library could not open it", why.hint);
    return true;
  }

  void Tried(const Target& target, int baud, const std::string& request, int r, const std::string& answer) {
    std::string outcome = !answer.empty() ? answer : r == KP_DEV_ERR_READ || r == 0 ? "no answer" : ResultText(r);
    if (r == KP_DEV_ERR_UNKNOWN_COMMAND) outcome += ": a type-61 reader answers so";
    if (!options_.quiet) {
      char line[256];
      std::snprintf(line, sizeof line, "probe COM%-2d %-7d %s: ", target.com, baud, request.c_str());
      Note(line + outcome);
    }
    tried_.push_back({{"com", target.com}, {"baud", baud}, {"request", request}, {"result", r}, {"answer", answer}});
  }

  const ProbeOptions& options_;
  bool wantRaw_ = true;
  bool wantFramed_ = true;
  std::vector<ProbeFound> found_;
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
    if (options.mapUnmapped) {
      for (const std::string& mapping : MapUnmappedDevices()) prober->Note("searching also " + mapping);
    }
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

}  // namespace

int FamilyType(int type) {
  if (type == 61 || type == 62) return 61;
  if (type == 0) return 0;
  return 1;
}

ProbeReport Probe(const ProbeOptions& options) {
  Prober prober(options);
  std::vector<Target> searched;
  for (const Target& target : Targets(options, &prober)) {
    if (prober.Probe(target)) searched.push_back(target);
  }

  ProbeReport report;
  report.found = prober.found();
  nlohmann::json readers = nlohmann::json::array();
  bool matching = false;
  for (const ProbeFound& f : prober.found()) {
    matching = matching || options.type < 0 || FamilyType(options.type) == f.type;
    char line[512];
    std::snprintf(line, sizeof line, "COM%-3d type %-3d %6d baud  %s  (%s)", f.com, f.type, f.baud, f.version.c_str(),
                  f.device.c_str());
    report.lines.emplace_back(line);
    report.lines.push_back("        " + f.how + "; open it with: kpdev version --port " + std::to_string(f.com) +
                           " --type " + std::to_string(f.type) + " --baud " + std::to_string(f.baud));
    readers.push_back({{"com", f.com},
                       {"device", f.device},
                       {"type", f.type},
                       {"baud", f.baud},
                       {"version", f.version},
                       {"version_raw", f.raw},
                       {"how", f.how}});
  }
  report.document = {{"readers", readers}, {"skipped", prober.skippedJson()}, {"tried", prober.tried()}};

  if (matching) return report;
  if (searched.empty()) {
    report.failure = prober.skipped().empty()
                         ? "no port to search: 'kpdev ports' lists the serial devices; KPDEV_COM<n>=DEVICE adds one"
                         : "no port to search: every port was skipped (see above)";
    report.exit = kExitOpenFailed;
    return report;
  }
  std::string names;
  for (const Target& target : searched) names += (names.empty() ? "COM" : ", COM") + std::to_string(target.com);
  report.failure = "no reader answered on " + names + " at any speed";
  if (!prober.found().empty()) report.failure = "no reader of type " + std::to_string(options.type) + " answered";
  if (!prober.skipped().empty()) {
    report.failure += "; " + std::to_string(prober.skipped().size()) + " port(s) skipped (see above)";
  }
  report.exit = kExitNoReader;
  return report;
}

}  // namespace kpdev::tool
