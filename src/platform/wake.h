// A wake object a line's wait sleeps on beside its device: on POSIX a
// self-pipe polled together with the descriptor, on Windows a manual-reset
// event waited for together with the overlapped request's event.  Another
// thread wakes the sleeper through it (base/cancel.h lends it to a
// CancelToken for the wait's duration).
#pragma once

#include <memory>

#include "base/cancel.h"

namespace kp::platform {

#if defined(_WIN32)
using WakeHandle = void*;  // HANDLE of the event
#else
using WakeHandle = int;  // read end of the pipe
#endif

class WakeEvent final : public Waker {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // False when the system would not give the object (out of descriptors or
  // handles): a wait then sleeps as if it had none, and a cancel is seen
  // when the wait ends on its own.
  bool Usable() const { return usable_; }
  // What to sleep on: readable (POSIX) or signalled (Windows) once woken.
  WakeHandle handle() const { return read_; }
  void Wake() override;
  // Takes the wake back after the sleeper has seen it.
  void Clear();

 private:
  bool usable_ = false;
  WakeHandle read_{};
  WakeHandle write_{};
};

// The wake object a line's wait that watches `cancel` sleeps on: the one
// in `slot`, made there at the line's first such wait.  nullptr when the
// wait watches nothing or the system gave none.
inline WakeEvent* WakeFor(std::unique_ptr<WakeEvent>* slot, const CancelWatch* cancel) {
  if (cancel == nullptr) return nullptr;
  if (!*slot) *slot = std::make_unique<WakeEvent>();
  return (*slot)->Usable() ? slot->get() : nullptr;
}

}  // namespace kp::platform
