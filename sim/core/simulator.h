// The virtual reader as a running device: a pseudo-terminal for the host's
// serial port, the control server, and one poll loop that serves both,
// with the firmware's pending answers as its timers.
//
// Run() blocks; everything happens on its thread.  Stop() may be called
// from a signal handler or another thread.  Control() lets code in the same
// process send control requests without TCP: from another thread while
// Run() is active (the request is handed to the loop), or directly when the
// loop is not running.  Control() must not be called from the loop's own
// thread (observer callbacks).
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/control_server.h"
#include "core/pty.h"
#include "core/virtual_reader.h"

namespace kpsim {

struct SimOptions {
  ReaderOptions reader;
  int control_port = 0;  // 0: any free port
  std::string link;      // symlink to the slave, none when empty
  bool verbose = false;  // traffic on stderr as it happens
  // Cards put in before the first host byte: "SEAT KIND [ARG...]" each, as
  // the control request "insert" takes them.
  std::vector<std::string> inserts;
  // A descriptor whose end of file ends the process (the program that
  // started it holds the other end of a pipe: when that program ends, in
  // any way, so does the reader); -1 for none.  Read by the program, not
  // by Simulator.
  int lifeline = -1;
};

class Simulator {
 public:
  explicit Simulator(SimOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Creates the pseudo-terminal, the link and the control server.
  bool Start(std::string* error);
  // Serves until Stop() or a "quit" request; then removes the link.
  void Run();
  void Stop();

  std::string Control(const std::string& line);

  const std::string& slave_path() const { return pty_.slave_path(); }
  int control_port() const { return server_.port(); }
  // The firmware; only while Run() is not active.
  VirtualReader& reader() { return reader_; }

 private:
  struct Posted {
    std::string line;
    std::string reply;
    bool done = false;
  };

  std::string Handle(const std::string& line);
  void ReadHost();
  void ServiceLine();
  void WriteHost();
  void DrainWake();
  void RunPosted();
  void RemoveLink();

  SimOptions options_;
  VirtualReader reader_;
  Pty pty_;
  ControlServer server_;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  bool quitting_ = false;
  bool link_made_ = false;
  Bytes to_host_;  // written to the master when it has room

  std::mutex posted_mutex_;
  std::condition_variable posted_done_;
  std::deque<Posted*> posted_;
};

}  // namespace kpsim
