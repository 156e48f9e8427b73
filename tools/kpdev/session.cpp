#include "session.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "decode.h"
#include "kp_dev.h"
#include "wire/com_port.h"
#include "wire/family.h"

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
  // The tool's options allow only types some family answers; t1 otherwise.
  kp::wire::Family family = kp::wire::Family::kT1;
  kp::wire::FamilyOfType(type, &family);
  return kp::wire::FamilyName(family);
}

int ReportFailure(const std::string& call, int code) {
  if (code == KP_DEV_ERR_NO_CARD) {
    Report::Get().CallFailed(call, code, "no card in the seat or field");
    return kExitNoCard;
  }
  if (code == KP_DEV_ERR_READ) {
    Report::Get().CallFailed(call, code, "nothing answered: is the reader attached, powered, and at this speed?");
    return kExitNoReader;
  }
  Report::Get().CallFailed(call, code);
  return kExitCallFailed;
}

// ------------------------------------------------------------ SimHost

namespace {

// Reads the virtual reader's "kpdev-sim: H>D 0230..." lines from `fd` until
// it closes, and prints each frame decoded with the time since the start.
// A paced reader reports bytes as they cross the line, a few at a time, so
// the bytes are put together into frames first (LineStream); what is left
// when the line has been quiet for a moment is printed as it is.
void PrintTrace(int fd) {
  // Longer than the gap between two bytes of one frame at 9600 baud, and
  // than the device's pause between a command and its answer.
  constexpr int kQuietMs = 50;
  const auto start = std::chrono::steady_clock::now();
  LineStream stream;
  auto print = [&start](const std::vector<LineEvent>& events, const char* toDevice, const char* toHost) {
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    for (const LineEvent& event : events) {
      std::fprintf(stderr, "trace %9.3f ms  %s  %s\n", ms, event.toDevice ? toDevice : toHost, event.text.c_str());
    }
  };
  std::string pending;
  char buffer[4096];
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    const int ready = poll(&wait, 1, stream.pending() ? kQuietMs : -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      print(stream.Flush(), "host > reader", "reader > host");
      continue;
    }
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      const std::string prefix = "kpdev-sim: ";
      Bytes bytes;
      const std::string direction = line.size() >= prefix.size() + 4 ? line.substr(prefix.size(), 3) : "";
      if (line.compare(0, prefix.size(), prefix) != 0 ||
          (direction != "H>D" && direction != "D>H" && direction != "H~D" && direction != "D~H") ||
          !HexToBytes(line.substr(prefix.size() + 4), &bytes)) {
        std::fprintf(stderr, "%s\n", line.c_str());
        continue;
      }
      if (direction[1] == '~') {
        // Bytes at the wrong speed: never part of a frame.
        print(stream.Flush(), "host > reader", "reader > host");
        std::vector<LineEvent> noise;
        for (std::string& text : DescribeLine(bytes, direction[0] == 'H')) noise.push_back({direction[0] == 'H', text});
        print(noise, "host > reader (at another speed: noise)", "reader > host (at another speed: lost)");
        continue;
      }
      print(stream.Add(bytes, direction[0] == 'H'), "host > reader", "reader > host");
    }
  }
  print(stream.Flush(), "host > reader", "reader > host");
  close(fd);
}

}  // namespace

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
  // With --sim-trace the virtual reader's stderr is a pipe that a thread
  // of ours reads and decodes; the reader inherits it as its stderr.
  int tracePipe[2] = {-1, -1};
  int savedStderr = -1;
  if (global.simTrace && pipe2(tracePipe, O_CLOEXEC) == 0) {
    std::fflush(stderr);
    savedStderr = dup(2);
    dup2(tracePipe[1], 2);
  }
  try {
    process_ = std::make_unique<kpsim::SimProcess>(executable, args);
    control_ = std::make_unique<kpsim::Control>(process_->control_port());
  } catch (const kpsim::SimError& e) {
    control_.reset();
    process_.reset();
    std::fprintf(stderr, "kpdev: virtual reader: %s\n", e.what());
  }
  if (savedStderr >= 0) {
    dup2(savedStderr, 2);
    close(savedStderr);
    close(tracePipe[1]);
    trace_ = std::thread(PrintTrace, tracePipe[0]);
  }
  if (!process_) {
    return false;
  }
  path_ = process_->port_path();
  variable_ = kp::wire::ComVariable(port);
  const char* old = std::getenv(variable_.c_str());
  hadValue_ = old != nullptr;
  oldValue_ = old != nullptr ? old : "";
  setenv(variable_.c_str(), path_.c_str(), 1);
  return true;
}

void SimHost::Stop() {
  if (!process_) return;
  control_.reset();
  process_.reset();  // ends the process, and with it the trace pipe
  if (trace_.joinable()) trace_.join();
  if (hadValue_) {
    setenv(variable_.c_str(), oldValue_.c_str(), 1);
  } else {
    unsetenv(variable_.c_str());
  }
  path_.clear();
}

kpsim::Control& SimHost::control() { return *control_; }

int SimHost::controlPort() const { return process_ ? process_->control_port() : 0; }

#else

bool SimHost::Start(const GlobalOptions&, const std::string&, int, int) {
  std::fprintf(stderr, "kpdev: this build has no virtual reader (--sim)\n");
  return false;
}

void SimHost::Stop() {}

kpsim::Control& SimHost::control() { std::abort(); }

int SimHost::controlPort() const { return 0; }

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
    const std::string call =
        "KP_DEV_OpenDevice(" + std::to_string(reader_.type) + ", \"" + portText + "\") on " + DevicePath();
    if (r == KP_DEV_ERR_OPEN) {
      const PortDiagnosis why = DiagnosePort(DevicePath());
      if (!why.ok) {
        Report::Get().CallFailed(call, r, DevicePath() + ": " + why.reason);
        if (!why.hint.empty()) Report::Get().Note(why.hint);
        failureExit_ = kExitOpenFailed;
        return false;
      }
    }
    // The port opened, so what failed is the reader's answer to the
    // opening sequence.
    Report::Get().CallFailed(call, r,
                             "no reader answering on " + DevicePath() + " at " + std::to_string(reader_.baud) +
                                 " baud as type " + std::to_string(reader_.type) +
                                 " (try 'kpdev probe', another --baud or --type)");
    failureExit_ = kExitNoReader;
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
