// KP_DEV_CancelReadAll from another thread, at random moments of a
// read-any-card call: every call ends with "nothing yet" after its own
// cancel, none needs a second one.  A cancel races the line's wait as it
// lends its wake object to the cancel token and takes it back; these also
// run under ThreadSanitizer (scripts/test.sh --tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "kp_dev.h"
#include "wire/fixture.h"

using kptest::SimReader;

namespace {

using Clock = std::chrono::steady_clock;

struct Call {
  const char* family;
  int (*read)(int port);
  int latestMs;  // cancels come within this long of the call's start
};

int ReadAll(int port) {
  int kind = -1;
  char result[2048] = {};
  // Below 300 ms the magnetic wait has no end of its own: only the cancel
  // ends it.
  return KP_DEV_ReadAll(port, 0, 100, 1, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 1, 0, &kind, result);
}

// Only the magnetic look in each pass: a pass without a card is short, so
// the cancels fall into passes and pauses alike.
int ReadAllRepeat(int port) {
  int kind = -1;
  char result[2048] = {};
  return KP_DEV_ReadAll_A(port, 0, 600000, 0, 1, 0, 0x60, "FFFFFFFFFFFF", 0, 0, 0, &kind, result);
}

TEST(Cancel, AtAnyMomentFromAnotherThreadIsNeverLost) {
  const Call calls[] = {{"t1", ReadAll, 700}, {"t61", ReadAllRepeat, 500}};
  std::mt19937 random(std::random_device{}());
  for (const Call& call : calls) {
    SCOPED_TRACE(call.family);
    SimReader reader(call.family);
    for (int i = 0; i < 15; ++i) {
      // A cancel made before the call took its start does not end it, by
      // design; the earliest cancel leaves the call time to start.
      const int delayMs = std::uniform_int_distribution<int>(50, call.latestMs)(random);
      std::atomic<bool> returned{false};
      bool rescued = false;
      std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        KP_DEV_CancelReadAll();
        // A lost cancel would hold the call for ever: cancel again, and say so.
        for (const auto limit = Clock::now() + std::chrono::seconds(10); !returned;) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
          if (!rescued && Clock::now() > limit) {
            rescued = true;
            KP_DEV_CancelReadAll();
          }
        }
      });
      EXPECT_EQ(call.read(reader.com()), -101) << "cancel after " << delayMs << " ms";
      returned = true;
      canceller.join();
      ASSERT_FALSE(rescued) << "cancel after " << delayMs << " ms was lost";
    }
  }
}

}  // namespace
