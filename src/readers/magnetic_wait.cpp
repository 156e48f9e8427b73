// The reader's own wait for a magnetic card, used by the read-any-card
// service.
#include "base/results.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "readers/reader.h"
#include "readers/tracks.h"

namespace kp {

namespace {

// Longest pause between two polls of the head; a swipe arriving earlier
// ends the pause at once.
constexpr int kPollPauseMs = 300;

}  // namespace

// Arms the head (a type-61 reader arms it with every read and answers the
// arm with 0 at once), then polls it until a swipe has been read, the call
// was cancelled, or timeoutMs has passed.  A cancel that came before the
// wait began ends it after its first poll, as one during the wait does at
// the next.
int CReader::WaitForMagneticSwipe(unsigned int timeoutMs, char* result, const CancelToken& cancel,
                                  CancelToken::Mark started) {
  // A reader without a head has nothing to wait for.
  if (family_.magnetic == Serves::kNever) return kOk;
  const int armed = Magnetic_Accept();
  if (armed != 0) return armed;
  const std::uint32_t start = platform::TickMs();
  for (;;) {
    char track1[kSwipeRoom] = {};
    char track2[kSwipeRoom] = {};
    const int r = Magnetic_ReadTrack(track1, track2);
    if (r == 0) {
      if (result != nullptr) JoinTracks(track1, track2, result);
      return kOk;
    }
    // A dead line makes every wait return at once; polling on would spin.
    if (port_.LineFailed()) return r == kErrWrite ? kErrWrite : kErrRead;
    platform::PumpOneMessage();
    if (cancel.CancelledSince(started)) return kNothingYet;
    if (static_cast<std::uint32_t>(platform::TickMs() - start) > timeoutMs) return kNothingYet;
    port_.WaitForInput(1, kPollPauseMs);
  }
}

}  // namespace kp
