// A cancel that reaches work running on another thread, and is never lost.
//
// The token counts cancels.  Work remembers the count when it starts and is
// cancelled once the count has moved: a cancel made at any moment after the
// start is seen however long the work takes to look, and a cancel made
// before the start does not end it.
//
// A wait that sleeps on the operating system (a line waiting for input)
// would see a cancel only when it wakes on its own.  So a sleeping wait may
// lend the token a Waker for its duration: a cancel then also wakes it.  The
// count stays the truth; the wake only ends the sleep early, and a waiter
// looks at the count again after every wake.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kp {

// Something a wait sleeps on that any thread may wake (platform/wake.h).
class Waker {
 public:
  // Callable from any thread, at any moment; a wake that finds nobody
  // asleep makes the next sleep end at once.
  virtual void Wake() = 0;

 protected:
  Waker() = default;
  ~Waker() = default;
  Waker(const Waker&) = default;
  Waker& operator=(const Waker&) = default;
};

class CancelToken {
 public:
  // What work remembers when it starts.
  using Mark = std::uint32_t;

  Mark Start() const { return count_.load(std::memory_order_acquire); }
  bool CancelledSince(Mark start) const { return count_.load(std::memory_order_acquire) != start; }
  // Callable from any thread, at any moment.  The count moves first, so a
  // waiter woken here finds it moved.
  void Cancel() {
    count_.fetch_add(1, std::memory_order_acq_rel);
    std::lock_guard<std::mutex> lock(mutex_);
    for (Waker* waker : wakers_) waker->Wake();
  }

 private:
  friend class WakeOnCancel;
  void Attach(Waker* waker) {
    std::lock_guard<std::mutex> lock(mutex_);
    wakers_.push_back(waker);
  }
  void Detach(Waker* waker) {
    std::lock_guard<std::mutex> lock(mutex_);
    wakers_.erase(std::find(wakers_.begin(), wakers_.end(), waker));
  }

  std::atomic<Mark> count_{0};
  std::mutex mutex_;
  // The wakers of the waits asleep now: one per waiting thread.
  std::vector<Waker*> wakers_;
};

// What a wait watches: a token and the mark of the work the wait belongs
// to.  A wait given one returns as soon as a cancel has come since the mark.
struct CancelWatch {
  CancelToken* token;
  CancelToken::Mark mark;
  bool Cancelled() const { return token->CancelledSince(mark); }
};

// While it lives, a cancel of the watched token wakes `waker`.  It is made
// before the wait's first look at the count, so a cancel either comes
// before that look (and is seen there) or finds the waker lent (and wakes
// it): none falls between the two.  A null watch or waker lends nothing.
class WakeOnCancel {
 public:
  WakeOnCancel(const CancelWatch* watch, Waker* waker)
      : token_(watch != nullptr && waker != nullptr ? watch->token : nullptr), waker_(waker) {
    if (token_ != nullptr) token_->Attach(waker_);
  }
  ~WakeOnCancel() {
    if (token_ != nullptr) token_->Detach(waker_);
  }
  WakeOnCancel(const WakeOnCancel&) = delete;
  WakeOnCancel& operator=(const WakeOnCancel&) = delete;

 private:
  CancelToken* token_;
  Waker* waker_;
};

}  // namespace kp
