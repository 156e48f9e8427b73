// A cancel that reaches work running on another thread, and is never lost.
//
// The token counts cancels.  Work remembers the count when it starts and is
// cancelled once the count has moved: a cancel made at any moment after the
// start is seen however long the work takes to look, and a cancel made
// before the start does not end it.
#pragma once

#include <atomic>
#include <cstdint>

namespace kp {

class CancelToken {
 public:
  // What work remembers when it starts.
  using Mark = std::uint32_t;

  Mark Start() const { return count_.load(std::memory_order_acquire); }
  bool CancelledSince(Mark start) const { return count_.load(std::memory_order_acquire) != start; }
  // Callable from any thread, at any moment.
  void Cancel() { count_.fetch_add(1, std::memory_order_acq_rel); }

 private:
  std::atomic<Mark> count_{0};
};

}  // namespace kp
