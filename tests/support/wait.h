// Waiting for the virtual reader to catch up with what the library did
// without a reply (buzzer frames, a close): the condition is checked again
// whenever it fails, until the deadline.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kptest {

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // The condition is a control request to another process; there is no
    // descriptor to wait on here, so ask again after a short pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace kptest
