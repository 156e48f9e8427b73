#include "session.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "kp_dev.h"

#ifdef KPDEV_TOOL_WITH_SIM
#include "sim_client.h"
#endif

namespace kpdev::tool {

namespace {

bool IsExecutable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

std::string OwnDirectory() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string ComDevicePath(int port) {
  const std::string variable = "KPDEV_COM" + std::to_string(port);
  const char* value = std::getenv(variable.c_str());
  if (value != nullptr && *value != '\0') return value;
  return "/dev/ttyS" + std::to_string(port - 1);
}

std::string FindSimExecutable() {
  const char* override = std::getenv("KPDEV_SIM");
  if (override != nullptr && *override != '\0') return override;
  const std::string beside = OwnDirectory() + "/kpdev-sim";
  if (IsExecutable(beside)) return beside;
#ifdef KPDEV_TOOL_SIM_BUILD_PATH
  if (IsExecutable(KPDEV_TOOL_SIM_BUILD_PATH)) return KPDEV_TOOL_SIM_BUILD_PATH;
#endif
  return {};
}

std::string FamilyOfType(int type) {
  if (type == 0) return "t0";
  if (type == 61 || type == 62) return "t61";
  return "t1";
}

int ReportFailure(const std::string& call, int code) {
  std::fprintf(stderr, "kpdev: %s failed: %s\n", call.c_str(), ResultText(code).c_str());
  return kExitCallFailed;
}

// ------------------------------------------------------------ SimHost

SimHost::SimHost() = default;

SimHost::~SimHost() { Stop(); }

#ifdef KPDEV_TOOL_WITH_SIM

bool SimHost::Start(const GlobalOptions& global, const std::string& family, int port, int deviceBaud) {
  Stop();
  const std::string executable = FindSimExecutable();
  if (executable.empty()) {
    std::fprintf(stderr, "kpdev: no kpdev-sim next to kpdev; set KPDEV_SIM to the virtual reader's program\n");
    return false;
  }
  std::vector<std::string> args{"--family", family, "--device-baud", std::to_string(deviceBaud)};
  if (global.simTrace) args.push_back("--verbose");
  // What a developer sees is what the hardware does: real time, unless a
  // --sim-arg says otherwise (the last --pacing given wins).
  args.push_back("--pacing");
  args.push_back("on");
  args.insert(args.end(), global.simArgs.begin(), global.simArgs.end());
  try {
    process_ = std::make_unique<kpsim::SimProcess>(executable, args);
    control_ = std::make_unique<kpsim::Control>(process_->control_port());
  } catch (const kpsim::SimError& e) {
    std::fprintf(stderr, "kpdev: virtual reader: %s\n", e.what());
    control_.reset();
    process_.reset();
    return false;
  }
  path_ = process_->port_path();
  variable_ = "KPDEV_COM" + std::to_string(port);
  const char* old = std::getenv(variable_.c_str());
  hadValue_ = old != nullptr;
  oldValue_ = old != nullptr ? old : "";
  setenv(variable_.c_str(), path_.c_str(), 1);
  return true;
}

void SimHost::Stop() {
  if (!process_) return;
  control_.reset();
  process_.reset();  // ends the process
  if (hadValue_) {
    setenv(variable_.c_str(), oldValue_.c_str(), 1);
  } else {
    unsetenv(variable_.c_str());
  }
  path_.clear();
}

kpsim::Control& SimHost::control() { return *control_; }

#else

bool SimHost::Start(const GlobalOptions&, const std::string&, int, int) {
  std::fprintf(stderr, "kpdev: this build has no virtual reader (--sim)\n");
  return false;
}

void SimHost::Stop() {}

kpsim::Control& SimHost::control() { std::abort(); }

#endif

// ------------------------------------------------------------ Session

Session::Session(const GlobalOptions& global, const ReaderOptions& reader) : global_(global), reader_(reader) {}

Session::~Session() {
  Close();
  sim_.Stop();
}

std::string Session::PortSpec() const {
  return "COM" + std::to_string(reader_.port) + ":" + std::to_string(reader_.baud) + ":N:8:1";
}

std::string Session::DevicePath() const { return ComDevicePath(reader_.port); }

bool Session::Open() {
  if (global_.sim && !sim_.running()) {
    const std::string family = global_.simFamily.empty() ? FamilyOfType(reader_.type) : global_.simFamily;
    // A type-1 reader is switched to its speed by the module sequence sent
    // at 9600 baud, and a type-2 reader keeps the speed it has; the other
    // readers must already run at the speed they are opened at.
    const int deviceBaud = (reader_.type == 1 || reader_.type == 2) ? 9600 : reader_.baud;
    if (!sim_.Start(global_, family, reader_.port, deviceBaud)) {
      failureExit_ = kExitSimFailed;
      return false;
    }
  }
  int handle = 0;
  const std::string portText = PortSpec();
  const int r = KP_DEV_OpenDevice(reader_.type, portText.c_str(), &handle);
  if (r != 0) {
    ReportFailure("KP_DEV_OpenDevice(" + std::to_string(reader_.type) + ", \"" + portText + "\") on " + DevicePath(),
                  r);
    failureExit_ = kExitOpenFailed;
    return false;
  }
  handle_ = handle;
  return true;
}

int Session::Close() {
  if (handle_ == 0) return 0;
  const int r = KP_DEV_CloseDevice(handle_);
  handle_ = 0;
  return r;
}

}  // namespace kpdev::tool
