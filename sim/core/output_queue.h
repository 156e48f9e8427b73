// Bytes the device has decided to send, each with the earliest moment it may
// go out.  The line is serial, so a later answer never overtakes an earlier
// one: an entry is due no sooner than the one before it.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "core/bytes.h"

namespace kpsim {

using SimClock = std::chrono::steady_clock;
using TimePoint = SimClock::time_point;

struct Transmission {
  TimePoint due;
  Bytes bytes;
  // Runs once the bytes are on the line (a speed change that must not
  // garble the answer that announces it).
  std::function<void()> after_send;
};

class OutputQueue {
 public:
  // The queue holds at most this many bytes; beyond it new transmissions are
  // refused (Schedule returns false), as a device's transmit buffer would.
  static constexpr std::size_t kCapacity = 1u << 20;

  bool Schedule(TimePoint earliest, Bytes bytes, std::function<void()> after_send);
  std::optional<TimePoint> NextDue() const;
  // Removes and returns the transmissions due at `now`, oldest first.
  std::vector<Transmission> TakeDue(TimePoint now);
  // Removes and returns the oldest transmission when it is due at `now`.
  std::optional<Transmission> TakeNext(TimePoint now);
  void Clear();
  bool empty() const { return queue_.empty(); }

 private:
  std::deque<Transmission> queue_;
  std::size_t bytes_ = 0;
};

}  // namespace kpsim
