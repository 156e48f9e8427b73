// What comes in from a reader, cut into the units the device sends.
//
// The device answers strictly in order, one answer per request: a frame
// per command frame, ESC and one byte per module escape sequence, the
// identity module's own frames, text up to a NUL for the raw version
// request, nothing for buzzer frames and magnetic head sequences.  Besides
// answers, only the magnetic head speaks on its own: the track data of a
// swipe (ESC s ... FS) and the outcome of an armed write (ESC w [T] p|q).
// Every unit except a module reply and a text announces itself (STX, the
// identity preamble, ESC s, ESC w) and its end (the length a frame or an
// identity frame announces, the FS that ends track data), so the parser
// needs to be told only when one of those two is owed.
//
// Pure: no line, no clock.  The caller feeds bytes as they come and decides
// how long to wait for the rest of a unit that has begun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kp {

enum class Unit : std::uint8_t {
  kNone,         // nothing (completed by this byte), or no answer owed
  kFrame,        // STX, four length characters, 2L body characters, checksum, ETX
  kModuleReply,  // ESC and one byte
  kText,         // raw text up to and with its NUL
  kIdentity,     // AA AA AA 96 69, a 16-bit length, that many bytes
  kSwipe,        // ESC s, the tracks, FS
  kHeadReply,    // ESC w p|q, or ESC w T p|q
};

// Longest track data the head sends for one swipe (the read buffer of the
// magnetic read); data that runs on without its FS ends there.
constexpr std::size_t kMaxHeadUnit = 512;
// Longest text answer collected (a work buffer less its NUL).
constexpr std::size_t kMaxTextUnit = 2079;

class InboundParser {
 public:
  // `owed`: the answer expected next (kNone when none is).
  explicit InboundParser(Unit owed = Unit::kNone) : owed_(owed) {}

  // The answer expected from now on.
  void Owe(Unit owed) { owed_ = owed; }

  // Takes one byte.  Returns the unit the byte completes, or kNone while a
  // unit is still open or when the byte belongs to none (it is counted as
  // noise).  Completing the owed answer leaves nothing owed.
  Unit Feed(std::uint8_t byte);

  // True while a unit has begun and not ended.
  bool Open() const { return state_ != State::kIdle; }

  // The bytes of the last magnetic head unit completed (only head units are
  // collected: they are kept for the next magnetic read).
  const std::vector<std::uint8_t>& headUnit() const { return head_; }

  // Ends an open unit whose rest will not come (the line went quiet): its
  // bytes count as noise.
  void Abandon();

  // Bytes that belonged to no unit since the last call.
  std::size_t TakeNoise();

 private:
  enum class State : std::uint8_t {
    kIdle,
    kEsc,
    kSwipe,
    kHeadReply,
    kFrameHead,
    kFrameRest,
    kIdPreamble,
    kIdLength,
    kIdRest,
    kText,
  };

  Unit Start(std::uint8_t byte);
  // The bytes of the open unit were not one after all: they count as noise
  // and `byte` is looked at afresh.
  Unit Mismatch(std::uint8_t byte);
  Unit Complete(Unit unit);

  Unit owed_;
  State state_ = State::kIdle;
  std::size_t have_ = 0;  // bytes of the open unit so far
  std::size_t need_ = 0;  // bytes still to come (frames, identity frames)
  std::size_t length_ = 0;
  std::vector<std::uint8_t> head_;
  std::size_t noise_ = 0;
};

}  // namespace kp
