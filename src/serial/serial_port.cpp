#include "serial/serial_port.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>

#include "base/results.h"
#include "platform/platform.h"

namespace kp {
namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 32;

bool IsAcceptedBaud(int baud) {
  static constexpr int kBauds[] = {110,   300,   1200,   2400,   4800,   9600,  19200,
                                   38400, 57600, 115200, 230400, 460800, 921600};
  for (int b : kBauds) {
    if (b == baud) return true;
  }
  return false;
}

using Clock = std::chrono::steady_clock;

// Whole milliseconds until the deadline, rounded up so that a wait never
// ends before it; 0 once it has passed.
int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace

// The defaults (9600 baud, 8 data bits, even parity, one stop bit) only
// fill the fields; every caller sets its own line parameters with Open.
CSerialPort::CSerialPort() : CSerialPort(platform::MakeLine()) {}

CSerialPort::CSerialPort(std::unique_ptr<platform::Line> line) : line_(std::move(line)) { SetParams(9600, 8, 2, 0); }

CSerialPort::~CSerialPort() { line_->Close(); }

bool CSerialPort::SetParams(int baud, int dataBits, int parity, int stopBits) {
  if (line_->IsOpen()) return false;
  if (!IsAcceptedBaud(baud)) return false;
  if (dataBits < 4 || dataBits > 8) return false;
  if (parity < 0 || parity > 4) return false;
  if (stopBits < 0 || stopBits > 2) return false;
  baud_ = baud;
  dataBits_ = dataBits;
  parity_ = parity;
  stopBits_ = stopBits;
  return true;
}

bool CSerialPort::OpenPort(int port) {
  if (port < kFirstPort || port > kLastPort) return false;
  if (line_->IsOpen()) line_->Close();
  held_.clear();
  platform::LineSettings settings;
  settings.baud = baud_;
  settings.dataBits = dataBits_;
  settings.parity = parity_;
  settings.stopBits = stopBits_;
  if (!line_->Open(port, settings)) return false;
  port_ = port;
  return true;
}

int CSerialPort::Open(int port, const platform::LineSettings& settings) {
  if (line_->IsOpen()) Close();
  if (!SetParams(settings.baud, settings.dataBits, settings.parity, settings.stopBits)) return kErrParam;
  if (!OpenPort(port)) return kErrOpen;
  Attach();
  return kOk;
}

int CSerialPort::Close() {
  // What arrived and was not read yet may hold a swipe: it is kept.
  if (line_->IsOpen()) Settle(false);
  line_->Close();
  held_.clear();
  return kOk;
}

bool CSerialPort::IsOpen() const { return line_->IsOpen(); }

int CSerialPort::Write(const std::uint8_t* data, std::uint16_t length) {
  return line_->Write(data, length) == 0 ? kOk : kErrWrite;
}

std::size_t CSerialPort::TakeQueued(std::uint8_t* buffer, std::size_t room) {
  std::size_t n = 0;
  while (n < room && !held_.empty()) {
    buffer[n++] = held_.front();
    held_.pop_front();
  }
  std::size_t more = 0;
  if (n < room && line_->InputCount() > 0 && line_->ReadQueued(buffer + n, room - n, &more) == 0) n += more;
  return n;
}

bool CSerialPort::Hold(std::size_t n) {
  while (held_.size() < n) {
    std::uint8_t chunk[64];
    std::size_t got = 0;
    if (line_->InputCount() == 0 || line_->ReadQueued(chunk, sizeof chunk, &got) != 0 || got == 0) return false;
    held_.insert(held_.end(), chunk, chunk + got);
  }
  return true;
}

bool CSerialPort::WaitForInput(std::size_t n, int timeoutMs, const CancelWatch* cancel) {
  if (held_.size() >= n) return true;
  return line_->WaitInput(n - held_.size(), timeoutMs, cancel);
}

void CSerialPort::Pause(int ms, const CancelWatch* cancel) {
  if (ms <= 0) return;
  if (cancel == nullptr) {
    platform::SleepMs(static_cast<unsigned>(ms));
    return;
  }
  // Waiting for more input than a line ever queues is a sleep that only
  // the time, a cancel or a failed line ends.
  (void)line_->WaitInput(SIZE_MAX, ms, cancel);
}

int CSerialPort::ReadSome(std::uint8_t* buffer, std::size_t room, std::size_t* count) {
  *count = 0;
  if (room == 0) return kErrRead;
  if (held_.empty()) return line_->ReadQueued(buffer, room, count) == 0 ? kOk : kErrRead;
  *count = TakeQueued(buffer, room);
  return kOk;
}

int CSerialPort::ReadExact(std::uint8_t* buffer, std::size_t count, std::size_t* got, int timeoutMs) {
  // The timeout belongs to the whole call, counted from its start.
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  *got = 0;
  // Nothing asked for has all arrived.
  if (count == 0) return kOk;
  for (;;) {
    std::size_t n = 0;
    if (ReadSome(buffer + *got, count - *got, &n) == 0 && n > 0) {
      *got += n;
      if (*got >= count) return kOk;
      // While input keeps coming the timeout is not looked at: a device in
      // the middle of an answer is allowed to finish it.  On a real line
      // the bytes come one character time apart, and the driver hands them
      // over in bursts, so "keeps coming" means: the next byte follows
      // within the input gap, even after the deadline.  A read of n bytes
      // therefore ends at the latest n input gaps after its timeout.
      if (WaitForInput(1, std::max(MsUntil(deadline), InputGapMs()))) continue;
      return kErrRead;
    }
    const int left = MsUntil(deadline);
    if (left <= 0) return kErrRead;
    // Returns early only with input queued; otherwise the time is up or the
    // line has failed, and either ends the read.
    if (!WaitForInput(1, left)) return kErrRead;
  }
}

int CSerialPort::InputGapMs() const {
  // Sixteen character times (a receive FIFO's worth), and never less than
  // 100 ms: on a busy machine either end of the line may be held up longer
  // than a character time, and a device that stalls that long has stopped.
  constexpr int kMinGapMs = 100;
  return std::max(kMinGapMs, WireTimeMs(16));
}

int CSerialPort::Read(std::uint8_t* buffer, std::size_t count, std::uint16_t* got, int timeoutMs) {
  std::size_t n = 0;
  const int result = ReadExact(buffer, count, &n, timeoutMs);
  if (result == kOk) *got = static_cast<std::uint16_t>(n);
  return result;
}

int CSerialPort::ReadWhenAvailable(std::uint8_t* buffer, std::size_t count, std::uint16_t* got, int timeoutMs) {
  if (!WaitForInput(count, timeoutMs)) return kErrWaitTimeout;
  return Read(buffer, count, got, timeoutMs);
}

bool CSerialPort::HasInput() { return !held_.empty() || line_->InputCount() > 0; }

std::size_t CSerialPort::InputCount() { return held_.size() + line_->InputCount(); }

int CSerialPort::Purge() {
  held_.clear();
  return line_->Purge();
}

}  // namespace kp
