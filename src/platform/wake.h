// A wake object a line's wait sleeps on beside its device: on POSIX a
// self-pipe polled together with the descriptor, on Windows a manual-reset
// event waited for together with the overlapped request's event.  Another
// thread wakes the sleeper through it (base/cancel.h lends it to a
// CancelToken for the wait's duration).
#pragma once

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

}  // namespace kp::platform
