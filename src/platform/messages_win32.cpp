#include <windows.h>

#include "platform/messages.h"

namespace kp::platform {

void PumpOneMessage() {
  MSG message;
  // Any window of the thread, any message; taken off the queue.
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace kp::platform
