#include "core/pacing.h"

#include <cctype>
#include <cstdio>

namespace kpsim {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr int kBitsPerByte = 10;  // start, 8 data, stop

bool IsHex4(const std::string& text) {
  if (text.size() != 4) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) || std::islower(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::chrono::nanoseconds WireTime(std::size_t bytes, int baud) {
  if (baud <= 0) return std::chrono::nanoseconds(0);
  const long long bits = static_cast<long long>(bytes) * kBitsPerByte;
  return std::chrono::nanoseconds(bits * 1000000000LL / baud);
}

// Defaults, chosen as typical figures for a reader of this class: a command
// the controller answers from its own state takes about 2 ms; a contact
// power-on resets the card and receives its answer to reset over the card's
// own line (about 30 ms); an APDU costs the card interface 5 ms plus the
// card's thinking; the identity module's find and select take 20 ms and
// reading text and photo from the card 400 ms.
DeviceTimes::DeviceTimes() {
  times_["frame"] = milliseconds(2);
  times_["escape"] = milliseconds(1);
  times_["raw"] = milliseconds(1);
  times_["think"] = milliseconds(20);
  times_["3222"] = milliseconds(30);
  times_["3226"] = milliseconds(5);
  times_["id-2001"] = milliseconds(20);
  times_["id-2002"] = milliseconds(20);
  times_["id-3001"] = milliseconds(400);
}

bool DeviceTimes::ValidKey(const std::string& key) {
  if (key == "frame" || key == "escape" || key == "raw" || key == "think") return true;
  if (key.rfind("id-", 0) == 0) return IsHex4(key.substr(3));
  return IsHex4(key);
}

microseconds DeviceTimes::ForKey(const std::string& key) const {
  const auto found = times_.find(key);
  if (found != times_.end()) return found->second;
  if (key.rfind("id-", 0) == 0) return ForKey("raw");
  return IsHex4(key) ? ForKey("frame") : microseconds(0);
}

microseconds DeviceTimes::ForCommand(unsigned code) const {
  char key[8];
  std::snprintf(key, sizeof key, "%04X", code & 0xFFFFu);
  microseconds time = ForKey(key);
  if (code == 0x3226) time += ForKey("think");
  return time;
}

bool DeviceTimes::Set(const std::string& key, microseconds time) {
  if (!ValidKey(key) || time.count() < 0) return false;
  times_[key] = time;
  return true;
}

std::string DeviceTimes::Describe() const {
  std::string text;
  for (const auto& entry : times_) {
    char value[32];
    const long long us = entry.second.count();
    if (us % 1000 == 0) {
      std::snprintf(value, sizeof value, "%lld", us / 1000);
    } else {
      std::snprintf(value, sizeof value, "%lld.%03lld", us / 1000, us % 1000);
    }
    if (!text.empty()) text += ' ';
    text += entry.first + "=" + value;
  }
  return text;
}

}  // namespace kpsim
