// The operating-system half of the serial port: one open line and its
// primitive operations.  serial_posix.cpp implements it on termios,
// serial_win32.cpp on overlapped Win32 I/O.  Everything above this seam
// (parameter checks, counted reads, timeouts) lives in CSerialPort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/cancel.h"

namespace kp::platform {

struct LineSettings {
  int baud = 9600;
  int dataBits = 8;
  int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int stopBits = 0;  // 0 one, 1 one and a half, 2 two

  // 8 data bits, no parity, one stop bit: the line of every reader.
  static LineSettings Plain(int baud) {
    LineSettings s;
    s.baud = baud;
    return s;
  }
};

// The device that stands for COM port n: on POSIX the value of KPDEV_COM<n>
// when set, else /dev/ttyS<n-1>; on Windows the value of KPDEV_COM<n> when
// it names a network target (rfc2217:// or tcp://), else \\.\COM<n>.  A
// network target is opened by NetworkLine (network_line.h).
std::string SerialDevicePath(int port);

// What the serial port needs of a line.  SerialLine is the operating
// system's; a test or a fuzz target may put its own behind CSerialPort.
class Line {
 public:
  virtual ~Line() = default;
  virtual bool Open(int port, const LineSettings& settings) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual int Write(const std::uint8_t* data, std::size_t length) = 0;
  virtual int ReadQueued(std::uint8_t* buffer, std::size_t room, std::size_t* got) = 0;
  // Blocks until at least atLeast bytes are queued or timeoutMs passes;
  // true when they are.  With a watch (may be null) it also returns, false,
  // as soon as a cancel has come since the watch's mark, from any thread.
  virtual bool WaitInput(std::size_t atLeast, int timeoutMs, const CancelWatch* cancel) = 0;
  virtual std::size_t InputCount() = 0;
  virtual int Purge() = 0;
  // True once the line can never work again (hung up, device gone).  Lines
  // that cannot tell answer false.
  virtual bool Failed() { return false; }
};

// The line every new serial port gets: the operating system's SerialLine,
// or what a factory set with SetLineFactoryOverride makes (a whole-library
// fuzz target puts a scripted device behind every port this way).  nullptr
// restores the system's lines.
using LineFactory = std::unique_ptr<Line> (*)();
void SetLineFactoryOverride(LineFactory factory);
std::unique_ptr<Line> MakeLine();

class SerialLine final : public Line {
 public:
  SerialLine();
  ~SerialLine() override;
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // Opens the port exclusively, raw, with the given settings, DTR and RTS
  // raised.  false on any failure, with the line closed.
  bool Open(int port, const LineSettings& settings) override;
  // Drops RTS and DTR, discards the input queue (output still queued goes
  // out), closes.  No effect when closed.
  void Close() override;
  bool IsOpen() const override;

  // Writes the whole buffer.  0, or -1 after reporting the failing step
  // ("Send -0" .. "Send -4") to DebugTrace; "Send ok" on success.
  int Write(const std::uint8_t* data, std::size_t length) override;
  // Takes what is queued now, at most room bytes, without waiting.
  // 0 with *got >= 1, or -1 after reporting "GetString -k"; a line error
  // (framing, parity, overrun) since the last check fails the read.
  int ReadQueued(std::uint8_t* buffer, std::size_t room, std::size_t* got) override;
  // Sleeps on the descriptor and the line's wake object together (no
  // polling loop).  Bytes already taken from the driver are kept in the
  // line's own queue, so waiting for a count never consumes input.
  // timeoutMs <= 0 only checks.
  bool WaitInput(std::size_t atLeast, int timeoutMs, const CancelWatch* cancel) override;
  // Bytes queued (the line's own queue plus the driver's; 0 on error);
  // also clears a pending line error.
  std::size_t InputCount() override;
  // Discards both queues; non-zero on success, 0 when closed.
  int Purge() override;
  // The other side hung up or the device vanished (POLLHUP, POLLERR,
  // POLLNVAL, or EIO from the driver).
  bool Failed() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kp::platform
