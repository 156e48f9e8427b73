// A scripted device on a pseudo-terminal, for unit tests that drive the
// library's exports and need to see and answer exact wire bytes without the
// virtual reader process.  The device thread collects one request at a
// time (a frame up to its ETX, or raw bytes up to a short idle gap) and
// answers it with the next scripted reply.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kptest {

using Bytes = std::vector<std::uint8_t>;

// Response frame as the device sends it: STX, body length as four nibble
// characters, status word and data as nibble characters, XOR checksum of
// the body, ETX.
Bytes ResponseFrame(std::uint16_t status, const Bytes& data = {});
// Command frame as the host must send it (for expected values).
Bytes CommandFrame(std::uint16_t command, const Bytes& data = {});
// Bytes from a hex text such as "02 30 31" or "023031".
Bytes FromHex(const std::string& hex);
std::string ToHexText(const Bytes& bytes);

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

  // Scripts the answer to the next request not yet answered.
  void Reply(const Bytes& bytes);
  void ReplyFrame(std::uint16_t status, const Bytes& data = {}) { Reply(ResponseFrame(status, data)); }
  // The next request gets no answer.
  void NoReply() { Reply({}); }
  // Bytes the device sends at once, unasked.
  void Push(const Bytes& bytes);

  // Requests received so far, one entry per request, and all bytes.
  std::vector<Bytes> Requests();
  Bytes Received();
  void ClearReceived();
  // Waits until n requests have arrived (false after timeoutMs).
  bool WaitRequests(std::size_t n, int timeoutMs = 2000);

 private:
  void Run();
  void Complete(Bytes& pending);

  int com_;
  int master_ = -1;
  int slave_ = -1;  // kept open so the master never sees a hang-up
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Bytes> replies_;
  std::vector<Bytes> requests_;
  Bytes received_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kptest
