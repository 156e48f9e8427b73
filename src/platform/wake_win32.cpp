#include <windows.h>

#include "platform/wake.h"

namespace kp::platform {

// One manual-reset event: it stays signalled until the sleeper clears it,
// so a wake that comes before the sleep is not lost.
WakeEvent::WakeEvent() {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return;
  read_ = event;
  write_ = event;
  usable_ = true;
}

WakeEvent::~WakeEvent() {
  if (usable_) CloseHandle(read_);
}

void WakeEvent::Wake() {
  if (usable_) SetEvent(write_);
}

void WakeEvent::Clear() {
  if (usable_) ResetEvent(read_);
}

}  // namespace kp::platform
