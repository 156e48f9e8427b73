#include "core/traffic_log.h"

#include <algorithm>

namespace kpsim {

const char* DirectionTag(Direction direction) {
  switch (direction) {
    case Direction::kHostToDevice:
      return "H>D";
    case Direction::kHostNoise:
      return "H~D";
    case Direction::kDeviceToHost:
      return "D>H";
    case Direction::kDeviceLost:
      return "D~H";
  }
  return "?";
}

void TrafficLog::Record(Direction direction, const std::uint8_t* data, std::size_t size) {
  const std::size_t room = kCapacity - bytes_;
  if (size > room) {
    truncated_ = true;
    size = room;
  }
  if (size == 0) return;
  if (runs_.empty() || runs_.back().direction != direction) runs_.push_back(TrafficRun{direction, {}});
  Bytes& run = runs_.back().bytes;
  run.insert(run.end(), data, data + size);
  bytes_ += size;
}

void TrafficLog::Clear() {
  runs_.clear();
  bytes_ = 0;
  truncated_ = false;
}

std::string TrafficLog::Format() const {
  std::string text;
  text.reserve(bytes_ * 2 + runs_.size() * 5);
  for (const TrafficRun& run : runs_) {
    text += ' ';
    text += DirectionTag(run.direction);
    text += ' ';
    text += ToHex(run.bytes);
  }
  return text;
}

}  // namespace kpsim
