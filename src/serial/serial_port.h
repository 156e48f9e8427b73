// CSerialPort: one serial port of a reader, with the fixed line settings,
// counted reads with timeouts and the step traces the reader layer relies
// on.  Waiting is done on the line's descriptor, never by sleeping.
//
// The port also keeps the host in step with the device (the line
// discipline, line_discipline.cpp): it knows which answer the device still
// owes, drops late answers instead of handing them to the next command, and
// keeps what the magnetic head sends on its own for the next magnetic read.
// That state belongs to the COM port, not to this object, so it outlives a
// reader that is closed and opened again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/serial_line.h"
#include "serial/inbound.h"

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
  // True once the line has failed for good: the other side hung up or the
  // device went away.  Every later read or write would fail at once.
  bool LineFailed() { return line_->Failed(); }
  // Sleeps on the line until at least n bytes are queued or timeoutMs
  // passes; true when they are.  Never consumes input.  With a watch (may
  // be null) it also ends, false, once a cancel has come since the watch's
  // mark, within a few milliseconds of the cancel from any thread.
  bool WaitForInput(std::size_t n, int timeoutMs, const CancelWatch* cancel = nullptr);
  // Sleeps ms without taking input: what arrives meanwhile stays queued
  // for the next read.  With a watch (may be null) a cancel since its mark
  // ends the pause early, as it ends WaitForInput.
  void Pause(int ms, const CancelWatch* cancel = nullptr);

  // ---- in step with the device (line_discipline.cpp)
  //
  // Every request goes out through PrepareRequest, and every request that
  // is answered is followed by Expect and, once its answer has been read,
  // by AnswerComplete (or AnswerBroken).  An answer for which neither is
  // called counts as not come: the device still owes it.

  // Brings the line in step before a request is written.  Normally this
  // only takes what is queued (no wait): the head's data is kept, anything
  // else is dropped and traced.  After a fault it first waits, on the line,
  // until the owed answer has come and been dropped, or until the device
  // can no longer send it (kLongestAnswerMs after the request reached it;
  // only for a device that has answered at this speed before: a port probed
  // for a reader that is not there owes nothing worth waiting for); after a
  // broken answer, until the line has been quiet for one input gap.
  void PrepareRequest();
  // The request just written is answered by `answer`; requestBytes is its
  // length on the wire.
  void Expect(Unit answer, std::size_t requestBytes);
  // The answer arrived whole: the line is in step.
  void AnswerComplete();
  // Part of the answer arrived, or it was garbled: the rest may still be on
  // its way, and the line is in step again once it has been quiet.
  void AnswerBroken();
  // Waits up to timeoutMs for the first byte of an answer.  Track data or a
  // write outcome the magnetic head sends first is taken whole and kept,
  // not mistaken for the answer.  False when nothing else came in time.
  bool AwaitAnswer(int timeoutMs);
  // The oldest kept unit of the head (Unit::kSwipe or Unit::kHeadReply) not
  // older than kKeptForMs; false when there is none.
  bool TakeKept(Unit unit, std::vector<std::uint8_t>* bytes);
  bool HasKept(Unit unit);
  // Forgets the head's kept units: an arm that starts afresh.
  void DropKept();
  // Listens for ms without sending anything: what the head sends is kept,
  // anything else dropped (a unit under way at the end is read to its end).
  // A cancel since the watch's mark (may be null) ends it as the end of ms
  // would: only the quiet wait between units is cut short, never a unit.
  void Listen(int ms, const CancelWatch* cancel = nullptr);
  // Reads the rest of head data whose first bytes are in `data` (count
  // bytes, room bytes of room): up to its FS, while the line keeps it
  // coming.  Returns the new count.
  std::size_t CompleteHeadData(std::uint8_t* data, std::size_t count, std::size_t room);

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

  // How long the device may take to begin an answer after the request
  // reached it: the longest any command can take (the identity module's
  // read of a card, which the library allows 3 s).  An answer not begun by
  // then is no longer waited for.
  static constexpr int kLongestAnswerMs = 3000;
  // How long the head's data is kept for a magnetic read: the head's own
  // arm limit (29 s) and a little more.
  static constexpr int kKeptForMs = 30000;
  // Head units kept per port; the oldest goes first.
  static constexpr std::size_t kMostKept = 4;

 private:
  // Longest pause between two bytes of one answer that still counts as the
  // answer coming in.
  int InputGapMs() const;
  // true when open and configured; false with the port closed.
  bool OpenPort(int port);
  // Takes up to room bytes of what is queued now (held bytes first).
  std::size_t TakeQueued(std::uint8_t* buffer, std::size_t room);
  // Moves queued bytes into held_ until it holds n; false when fewer are
  // queued.
  bool Hold(std::size_t n);
  // Takes up the COM port's line state after an open at baud_: what was
  // owed at another speed can no longer arrive readably.
  void Attach();
  // Parses what comes in until the line is in step (line_discipline.cpp).
  // waitForOwed: wait for an owed answer and for a broken one's quiet;
  // otherwise only a unit that has begun is read to its end.
  void Settle(bool waitForOwed);
  void Keep(const std::vector<std::uint8_t>& unit);
  // Length of the magnetic head's unit at the front of the input (held
  // once this returns), 0 when the input does not begin with one.
  std::size_t HeadUnitAhead();

  std::unique_ptr<platform::Line> line_;
  // Bytes taken from the line to look at, not yet consumed.
  std::deque<std::uint8_t> held_;
  int port_ = 0;
  int baud_ = 9600;
  int dataBits_ = 8;
  int parity_ = 2;
  int stopBits_ = 0;
};

// Forgets what every COM port's line owes and keeps (for programs that
// drive the library through fake lines, one run after another).
void ForgetLineStates();

}  // namespace kp
