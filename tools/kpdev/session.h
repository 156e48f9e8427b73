// A reader opened for one subcommand, on a real port or, with --sim, on a
// virtual reader started for the occasion.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "ports.h"    // DiagnosePort
#include "watcher.h"  // ComDevicePath

namespace kpsim {
class SimProcess;
class Control;
}  // namespace kpsim

namespace kpdev::tool {

// The kpdev-sim executable: $KPDEV_SIM, else kpdev-sim next to this
// program, else the one of the build tree kpdev came from; empty when none
// exists.
std::string FindSimExecutable();

// The firmware family that answers a device type: t0 for 0, t61 for 61
// and 62, t1 for the rest.
std::string FamilyOfType(int type);

// A kpdev-sim process serving COM<port>: KPDEV_COM<port> points at its
// pseudo-terminal while the object lives (the earlier value comes back
// afterwards).
class SimHost {
 public:
  SimHost();
  ~SimHost();
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  // false with a message on stderr.  deviceBaud: the device's speed at
  // start-up.
  bool Start(const GlobalOptions& global, const std::string& family, int port, int deviceBaud);
  void Stop();

  bool running() const { return process_ != nullptr; }
  const std::string& path() const { return path_; }
  // The TCP port of the control interface on 127.0.0.1; only while running.
  int controlPort() const;
  // The control interface; only while running.
  kpsim::Control& control();

 private:
  std::unique_ptr<kpsim::SimProcess> process_;
  std::unique_ptr<kpsim::Control> control_;
  std::string path_;
  std::string variable_;
  bool hadValue_ = false;
  std::string oldValue_;
  // --sim-trace: the virtual reader's byte log, read from its stderr and
  // printed decoded on ours.
  std::thread trace_;
};

class Session {
 public:
  Session(const GlobalOptions& global, const ReaderOptions& reader);
  ~Session();  // closes the reader, then stops the virtual reader
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Starts the virtual reader when asked for and opens the reader through
  // the library.  false after printing why on stderr; FailureExit() then
  // tells the exit code.
  bool Open();
  int FailureExit() const { return failureExit_; }
  // KP_DEV_CloseDevice; its result (0 when nothing is open).
  int Close();

  int handle() const { return handle_; }
  const ReaderOptions& reader() const { return reader_; }
  // "COM<n>:<baud>:N:8:1"
  std::string PortSpec() const;
  // The device COM<n> stands for, as the library will resolve it.
  std::string DevicePath() const;
  bool simulated() const { return sim_.running(); }
  SimHost& sim() { return sim_; }

 private:
  GlobalOptions global_;
  ReaderOptions reader_;
  SimHost sim_;
  int handle_ = 0;
  int failureExit_ = kExitOk;
};

// Reports a failed library call (stderr, and the JSON document) and returns
// its exit code: kExitNoCard for an empty seat, kExitNoReader when nothing
// answered, else kExitCallFailed.
int ReportFailure(const std::string& call, int code);

}  // namespace kpdev::tool
