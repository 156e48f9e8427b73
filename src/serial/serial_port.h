// CSerialPort: one serial port of a reader, with the fixed line settings,
// counted reads with timeouts and the step traces the reader layer relies
// on.  Waiting is done on the line's descriptor, never by sleeping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/serial_line.h"

namespace kp {

class CSerialPort {
 public:
  CSerialPort();
  // A port on a line of the caller's (a fake line in tests).
  explicit CSerialPort(std::unique_ptr<platform::Line> line);
  ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // true when stored; false when refused (port open, or a value outside
  // the accepted sets).
  bool SetParams(int baud, int dataBits, int parity, int stopBits);
  // 0; -5 settings refused; -1 port not opened.
  int Open(int port, const platform::LineSettings& settings);
  int Close();  // 0
  bool IsOpen() const;

  int Write(const std::uint8_t* data, std::uint16_t length);                 // 0 or -3
  int ReadSome(std::uint8_t* buffer, std::size_t room, std::size_t* count);  // 0 or -4
  // 0 when all count bytes arrived within timeoutMs, else -4; *got holds
  // the bytes received so far in every case.
  int ReadExact(std::uint8_t* buffer, std::size_t count, std::size_t* got, int timeoutMs);
  int Read(std::uint8_t* buffer, std::size_t count, std::uint16_t* got, int timeoutMs);
  // Waits until count bytes are queued (-2 when they are not in time), then
  // as ReadExact.
  int ReadWhenAvailable(std::uint8_t* buffer, std::size_t count, std::uint16_t* got, int timeoutMs);
  bool HasInput();
  std::size_t InputCount();
  int Purge();  // result of the purge, 0 when closed
  // Reads and drops whatever input is queued now (a late answer, noise),
  // without waiting and without touching output still being sent; returns
  // the count dropped.  Bounded, so a device that never stops talking
  // cannot hold the caller.
  std::size_t DropQueuedInput();
  // True once the line has failed for good: the other side hung up or the
  // device went away.  Every later read or write would fail at once.
  bool LineFailed() { return line_->Failed(); }
  // Sleeps on the line until at least n bytes are queued or timeoutMs
  // passes; true when they are.  Never consumes input.
  bool WaitForInput(std::size_t n, int timeoutMs) { return line_->WaitInput(n, timeoutMs); }

  // Milliseconds that `bytes` take on the line at the port's speed (10 bit
  // times each, rounded up).  A read that must first wait for bytes the
  // host has just written to reach the device adds this to its timeout:
  // the port's write returns once the bytes are queued, not once they are sent.
  int WireTimeMs(std::size_t bytes) const {
    return baud_ > 0 ? static_cast<int>((bytes * 10000 + static_cast<std::size_t>(baud_) - 1) /
                                        static_cast<std::size_t>(baud_))
                     : 0;
  }

  int port() const { return port_; }
  int baud() const { return baud_; }

 private:
  // true when open and configured; false with the port closed.
  bool OpenPort(int port);
  // Longest pause between two bytes of one answer that still counts as the
  // answer coming in.
  int InputGapMs() const;

  std::unique_ptr<platform::Line> line_;
  int port_ = 0;
  int baud_ = 9600;
  int dataBits_ = 8;
  int parity_ = 2;
  int stopBits_ = 0;
};

}  // namespace kp
