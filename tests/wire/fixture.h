// The wire tier's fixture: the exported interface seen from the line.
//
// FakeDevice is a scripted device on a pseudo-terminal: it collects one
// request at a time (a frame up to its ETX, or raw bytes up to a short idle
// gap or up to the length the test announced) and answers it with the next
// scripted reply.  ReaderTest opens a reader of one type on it through the
// exports.  SimReader is a kpdev-sim process of one firmware family behind
// COM<n>, for what only a whole device shows: faults, pacing, processes.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kpsim {
class Control;
class SimProcess;
struct WireTraffic;
}  // namespace kpsim

namespace kptest {

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;

// A frame as both directions send it (the project's one frame codec; the
// tests that write frames out byte by byte check it independently).
Bytes ResponseFrame(std::uint16_t status, const Bytes& data = {});
inline Bytes CommandFrame(std::uint16_t command, const Bytes& data = {}) { return ResponseFrame(command, data); }
// Bytes of a hex text such as "02 30 31" or "023031".
Bytes FromHex(const std::string& hex);
// "023031"
std::string ToHexText(const Bytes& bytes);

// ESC '0': the device's acknowledgement of a module escape sequence.
extern const Bytes kEscOk;

class FakeDevice {
 public:
  // Creates the pseudo-terminal and points KPDEV_COM<com> at it.
  explicit FakeDevice(int com);
  ~FakeDevice();
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;

  int com() const { return com_; }
  // "COM<com>:<baud>:N:8:1"
  std::string PortSpec(int baud = 9600) const;

  // Scripts the answer to the next request not yet answered.  A raw request
  // of rawLength bytes is answered as soon as they are in, without waiting
  // for the line to go quiet (for answers the library waits for only
  // briefly).
  void Reply(const Bytes& bytes, std::size_t rawLength = 0);
  void ReplyFrame(std::uint16_t status, const Bytes& data = {}) { Reply(ResponseFrame(status, data)); }
  // The next request gets no answer.
  void NoReply() { Reply({}); }
  // Bytes the device sends at once, unasked, and the wait until n bytes
  // are queued at the library's end of the line.
  void Push(const Bytes& bytes);
  bool WaitQueued(std::size_t n, int timeoutMs = 2000);

  // Requests received so far, one entry per request, and all bytes.
  std::vector<Bytes> Requests();
  Bytes Received();
  // All bytes, once at least n have arrived (or a time bound passed) and
  // the line stayed quiet a moment after.
  Bytes ReceivedSettled(std::size_t n);
  void ClearReceived();
  // Waits until n requests have arrived (false after timeoutMs).
  bool WaitRequests(std::size_t n, int timeoutMs = 2000);

 private:
  struct Script {
    Bytes reply;
    std::size_t rawLength;
  };
  void Run();
  void Complete(Bytes& pending);

  int com_;
  int master_ = -1;
  int slave_ = -1;  // kept open so the master never sees a hang-up
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Script> replies_;
  std::vector<Bytes> requests_;
  Bytes received_;
  bool stop_ = false;
  std::thread thread_;
};

// The requests `dev` received since the last call, one entry per request.
Frames SentBy(FakeDevice& dev);

// A reader of one type opened through the exports on a scripted device: the
// device acknowledges the module switch that types 1 and 2 send when opened
// (and type 1 when closed), and the test scripts the answers and reads back
// the frames each call sent.
class ReaderTest : public ::testing::Test {
 protected:
  explicit ReaderTest(int com) : dev_(com) {}
  void TearDown() override { Close(); }

  // Opens the reader as `type` (closing the one open before) and forgets
  // the traffic of the open.
  int Open(int type, int baud = 9600);
  void Close();
  // The requests since the last call or the open, one entry per request.
  Frames Sent() { return SentBy(dev_); }
  // The one request sent since the last call; empty when there were more.
  Bytes OnlyRequest();
  // Answers the next request with status 0000 and `data`.
  void Ok(const Bytes& data = {}) { dev_.ReplyFrame(0x0000, data); }

  // A call answered with status 0000 that must succeed after sending the
  // one frame of `command` with `data` (hex text).
  struct Call {
    int (*call)(int handle);
    std::uint16_t command;
    const char* data;
  };
  void ExpectFrames(const std::vector<Call>& calls);

  FakeDevice dev_;
  int h_ = -1;
  int type_ = -1;
};

// ---- the virtual reader (kpdev-sim)

// The kpdev-sim executable: $KPDEV_SIM when set, else the one built with
// the tests.
std::string SimExecutable();
// One kpdev-sim process of a family ("t1", "t61", "t0") reachable as COM<n>.
// The destructor closes the handle when still open, stops the process and
// removes the variable.  Environment variables are process-wide: create
// every SimReader a test needs before starting its threads.
class SimReader {
 public:
  explicit SimReader(const std::string& family, const std::vector<std::string>& extra = {});
  ~SimReader();
  SimReader(const SimReader&) = delete;
  SimReader& operator=(const SimReader&) = delete;

  int com() const { return com_; }
  const std::string& path() const;
  kpsim::Control& control() { return *control_; }
  kpsim::SimProcess& process() { return *process_; }

  std::string PortSpec(int baud) const;
  // KP_DEV_OpenDevice(type, PortSpec(baud), &handle): the result; on
  // success the handle is remembered for Close and the destructor.
  int Open(int type, int baud = 9600);
  int handle() const { return handle_; }
  // KP_DEV_CloseDevice of the remembered handle; 0 when none is open.
  int Close();

  // The traffic since the last clear, and a fresh start for the next step.
  kpsim::WireTraffic Traffic();
  void ClearTraffic();

 private:
  int com_;
  std::string variable_;
  std::unique_ptr<kpsim::SimProcess> process_;
  std::unique_ptr<kpsim::Control> control_;
  int handle_ = 0;
};

}  // namespace kptest
