// Real-time behaviour of the line and the device.
//
// With pacing on, every byte takes its wire time at the speed of the side
// that sends it (start bit, 8 data bits, stop bit: 10 bit times), so the
// device acts on a command only once its last byte would have arrived, and
// an answer trickles out at the device's speed.  On top of that the device
// takes a processing time per kind of command before it starts to answer;
// an APDU adds the card's own thinking time.
#pragma once

#include <chrono>
#include <map>
#include <string>

namespace kpsim {

// Wire time of `bytes` bytes at `baud` (10 bit times each).
std::chrono::nanoseconds WireTime(std::size_t bytes, int baud);

// Processing times in microseconds, by key:
//   a command code as four upper-case hex digits ("3226"), for framed commands;
//   "frame"     any framed command without a time of its own;
//   "escape"    the reply to a module escape sequence;
//   "raw"       any other raw answer (t61 version text, magnetic head);
//   "id-XXXX"   an identity-module command (XXXX its command bytes in hex);
//   "think"     the card's time for one APDU, added to "3226".
class DeviceTimes {
 public:
  DeviceTimes();

  std::chrono::microseconds ForKey(const std::string& key) const;
  // A framed command's time (its own entry or "frame", plus "think" for APDUs).
  std::chrono::microseconds ForCommand(unsigned code) const;
  // false for a key that is neither a known name nor a command code.
  bool Set(const std::string& key, std::chrono::microseconds time);
  // "key=ms ..." with the times in milliseconds (three decimals at most).
  std::string Describe() const;

  static bool ValidKey(const std::string& key);

 private:
  std::map<std::string, std::chrono::microseconds> times_;
};

}  // namespace kpsim
