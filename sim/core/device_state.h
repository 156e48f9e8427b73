// What the firmware remembers about itself, and what it counts.
#pragma once

#include <cstdint>

#include "core/baud.h"
#include "core/bytes.h"
#include "core/family.h"

namespace kpsim {

struct Counters {
  std::uint64_t frames = 0;   // complete command frames received
  std::uint64_t answers = 0;  // answers queued for the host
  std::uint64_t unknown_commands = 0;
  std::uint64_t bad_checksums = 0;
  std::uint64_t bad_frames = 0;     // malformed, overlong or abandoned frames
  std::uint64_t escapes = 0;        // raw ESC sequences recognised
  std::uint64_t swallowed = 0;      // requests dropped by the silent fault
  std::uint64_t noise_bytes = 0;    // host bytes sent at another speed
  std::uint64_t ignored_bytes = 0;  // bytes no protocol recognised
  std::uint64_t lost_bytes = 0;     // device bytes the host could not hear
  std::uint64_t beeps = 0;          // buzzer switched on
  std::uint64_t soft_resets = 0;
  std::uint64_t c003 = 0;
  std::uint64_t device_us = 0;  // processing time the device took before its answers (paced)
};

// The host's end of the line as last observed.
struct HostLine {
  int baud = 0;    // 0 when the speed could not be read
  int opens = -1;  // descriptors the host holds on the port; -1 unknown
};

struct DeviceState {
  Family family = Family::kT1;
  Module module = Module::kIc;
  int baud = kStartupBaud;
  Bytes version;
  bool buzzer = false;
  Counters counters;
  HostLine host;
};

}  // namespace kpsim
