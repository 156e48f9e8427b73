#include "serial/serial_port.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "base/results.h"

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
  if (line_->IsOpen()) line_->Close();
  if (!SetParams(settings.baud, settings.dataBits, settings.parity, settings.stopBits)) return kErrParam;
  return OpenPort(port) ? kOk : kErrOpen;
}

int CSerialPort::Close() {
  line_->Close();
  return kOk;
}

bool CSerialPort::IsOpen() const { return line_->IsOpen(); }

int CSerialPort::Write(const std::uint8_t* data, std::uint16_t length) {
  return line_->Write(data, length) == 0 ? kOk : kErrWrite;
}

int CSerialPort::ReadSome(std::uint8_t* buffer, std::size_t room, std::size_t* count) {
  return line_->ReadQueued(buffer, room, count) == 0 ? kOk : kErrRead;
}

int CSerialPort::ReadExact(std::uint8_t* buffer, std::size_t count, std::size_t* got, int timeoutMs) {
  // The timeout belongs to the whole call, counted from its start.
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  *got = 0;
  // Nothing asked for has all arrived.
  if (count == 0) return kOk;
  for (;;) {
    std::size_t n = 0;
    if (line_->ReadQueued(buffer + *got, count - *got, &n) == 0 && n > 0) {
      *got += n;
      if (*got >= count) return kOk;
      // While input keeps coming the timeout is not looked at: a device in
      // the middle of an answer is allowed to finish it.  On a real line
      // the bytes come one character time apart, and the driver hands them
      // over in bursts, so "keeps coming" means: the next byte follows
      // within the input gap, even after the deadline.
      if (line_->WaitInput(1, std::max(MsUntil(deadline), InputGapMs()))) continue;
      return kErrRead;
    }
    const int left = MsUntil(deadline);
    if (left <= 0) return kErrRead;
    // Returns early only with input queued; otherwise the time is up or the
    // line has failed, and either ends the read.
    if (!line_->WaitInput(1, left)) return kErrRead;
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
  if (!line_->WaitInput(count, timeoutMs)) return kErrWaitTimeout;
  return Read(buffer, count, got, timeoutMs);
}

bool CSerialPort::HasInput() { return line_->InputCount() > 0; }

std::size_t CSerialPort::InputCount() { return line_->InputCount(); }

int CSerialPort::Purge() { return line_->Purge(); }

std::size_t CSerialPort::DropQueuedInput() {
  constexpr std::size_t kMostDropped = std::size_t{64} * 1024;
  std::uint8_t scratch[256];
  std::size_t dropped = 0;
  while (dropped < kMostDropped && line_->InputCount() > 0) {
    std::size_t n = 0;
    if (line_->ReadQueued(scratch, sizeof scratch, &n) != 0 || n == 0) break;
    dropped += n;
  }
  return dropped;
}

}  // namespace kp
