// Client side of the virtual reader, for tests and tools written in C++:
//
//   kpsim::SimProcess sim(KPDEV_SIM_PATH, {"--family", "t0"});
//   kpsim::Control control(sim.control_port());
//   kpsim::HostPort port(sim.port_path(), 9600);   // or open it with the library
//   control.Fault("nonstx");
//   ...
//   kpsim::WireTraffic traffic = control.Traffic();
//
// Every call throws kpsim::SimError when the process, the connection or a
// reply is not what it must be.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "wire/bytes.h"

namespace kpsim {

using kp::wire::Bytes;

class SimError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A kpdev-sim process.  The constructor starts it and waits for its
// "port", "control" and "ready" lines; the destructor stops it.  Unless
// `args` hold "--pacing", the process is started with "--pacing off".
// The emulator as a child process.  It is given a lifeline (a pipe on its
// standard input): when this process ends, however it ends, the emulator
// sees the pipe close and ends too, so none is left behind.
class SimProcess {
 public:
  explicit SimProcess(const std::string& executable, const std::vector<std::string>& args = {},
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& port_path() const { return port_path_; }
  int control_port() const { return control_port_; }
  pid_t pid() const { return pid_; }

  // SIGTERM, then SIGKILL if the process has not ended within `timeout`.
  // Returns the wait status (as waitpid gives it), or -1 when the process
  // was already collected.
  int Terminate(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Waits up to `timeout` for the process to end by itself (after "quit").
  // The wait status, or -1 when it is still running.
  int Wait(std::chrono::milliseconds timeout);

 private:
  void CloseLifeline();

  pid_t pid_ = -1;
  std::string port_path_;
  int control_port_ = 0;
  int lifeline_ = -1;  // our end of the child's lifeline
};

// One run of bytes in one direction, as the traffic log reports it.
struct WireSegment {
  std::string tag;  // "H>D", "H~D", "D>H" or "D~H"
  Bytes bytes;
};

struct WireTraffic {
  std::vector<WireSegment> segments;  // in order
  Bytes host_to_device;               // all H>D bytes, concatenated
  Bytes device_to_host;               // all D>H bytes
  Bytes host_noise;                   // all H~D bytes (sent at the wrong speed)
  Bytes device_lost;                  // all D~H bytes (answers the host could not hear)
};

struct SimStatus {
  std::map<std::string, std::string> values;  // every key=value of the reply

  std::string Get(const std::string& key) const;
  // The value as a number; throws when missing or not a number.
  long long Number(const std::string& key) const;
};

// A connection to the control interface.
class Control {
 public:
  explicit Control(int port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Sends one request line, returns the reply line (without newline).
  std::string Request(const std::string& line);
  // As Request, but throws unless the reply is "ok ..."; returns the text
  // after "ok " ("" for a bare "ok").
  std::string Ok(const std::string& line);

  SimStatus Status();
  WireTraffic Traffic();
  void Clear() { Ok("clear"); }
  // "fault " + words, e.g. Fault("status 6003"), Fault("delay 900 2").
  void Fault(const std::string& words) { Ok("fault " + words); }
  void ClearFaults() { Ok("fault clear"); }
  void SetVersion(const std::string& text) { Ok("version " + text); }
  void SetVersionBytes(const Bytes& bytes);
  void SetFamily(const std::string& family) { Ok("family " + family); }
  void SetDeviceBaud(int baud) { Ok("baud " + std::to_string(baud)); }
  void Quit() { Ok("quit"); }

 private:
  int fd_ = -1;
  std::chrono::milliseconds timeout_;
  std::string pending_;
};

// The host's end of the serial line, opened raw, for wire-level tests.
class HostPort {
 public:
  HostPort(const std::string& path, int baud);
  ~HostPort();
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;

  void SetBaud(int baud);
  void Write(const Bytes& bytes);
  // Reads until `count` bytes arrived or `timeout` passed; returns what came.
  Bytes Read(std::size_t count, std::chrono::milliseconds timeout);
  // Reads whatever arrives until the line has been quiet for `quiet`.
  Bytes ReadUntilQuiet(std::chrono::milliseconds quiet);
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A device server in front of a serial device: Debian's ser2net, started in
// the foreground with a configuration of its own that listens on 127.0.0.1
// only.  For tests and benchmarks of the library's network targets
// (KPDEV_COM<n>=rfc2217://... or tcp://...).  Throws SimError when ser2net
// cannot be started or does not listen within a few seconds.
class DeviceServer {
 public:
  enum class Protocol { kRfc2217, kRawTcp };
  // The ser2net program: $KPDEV_SER2NET when set, else the first ser2net in
  // /usr/sbin, /usr/bin or $PATH; "" when there is none.
  static std::string Executable();

  // Serves `device` (at deviceBaud, 8N1, modem lines ignored) on
  // 127.0.0.1:port, 0 taking a free port.  Each of `options` is one line of
  // the connection's options ("chardelay: false").
  DeviceServer(const std::string& device, Protocol protocol, int deviceBaud = 9600, int port = 0,
               const std::vector<std::string>& options = {});
  ~DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;

  int port() const { return port_; }
  // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
  std::string Url() const;
  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }

  // Ends the server at once (SIGKILL), as a device server that dies or is
  // switched off: its connections end without a word.
  void Kill();
  // Starts it again on the same port.
  void Start();

 private:
  std::string dir_;  // configuration, pid file and log
  std::string executable_;
  std::string device_;
  Protocol protocol_;
  int deviceBaud_;
  int port_;
  std::vector<std::string> options_;
  pid_t pid_ = -1;
};

std::string ToHexText(const Bytes& bytes);
Bytes FromHexText(const std::string& text);  // throws on bad text

}  // namespace kpsim
