// Everything that crossed the line since the last clear, in order, merged
// into runs of one direction.  The control interface renders it as
// "TAG HEX" pairs so that a test can compare the exact bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/bytes.h"

namespace kpsim {

enum class Direction {
  kHostToDevice,  // "H>D": heard by the device at its own speed
  kHostNoise,     // "H~D": sent by the host at another speed, noise to the device
  kDeviceToHost,  // "D>H": sent by the device at the host's speed
  kDeviceLost,    // "D~H": sent by the device while the host listened at another speed
};

const char* DirectionTag(Direction direction);

struct TrafficRun {
  Direction direction;
  Bytes bytes;
};

class TrafficLog {
 public:
  // The log stops growing at this many bytes, so a forgotten session cannot
  // eat the machine; status then reports traffic_truncated=1.
  static constexpr std::size_t kCapacity = 4u << 20;

  void Record(Direction direction, const std::uint8_t* data, std::size_t size);
  void Clear();

  const std::vector<TrafficRun>& runs() const { return runs_; }
  bool truncated() const { return truncated_; }
  std::size_t size() const { return bytes_; }

  // " H>D 0230... D>H 0230..." (a leading space before every tag), or "".
  std::string Format() const;

 private:
  std::vector<TrafficRun> runs_;
  std::size_t bytes_ = 0;
  bool truncated_ = false;
};

}  // namespace kpsim
