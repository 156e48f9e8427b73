#include <cstdint>
#include <cstring>
#include <vector>

#include "base/results.h"
#include "platform/platform.h"
#include "readers/magnetic.h"

namespace kp {

namespace {

constexpr std::uint8_t kReset[] = {0x1B, 0x61};         // ESC a
constexpr std::uint8_t kAccept[] = {0x1B, 0x42, 0x5D};  // ESC B ]
constexpr std::uint8_t kCancel[] = {0x1B, 0x30};        // ESC 0

// Write messages: head, track text(s), tail.
constexpr std::uint8_t kWriteFirstHead[] = {0x1B, 0x34, 0x1B, 0x74};                   // ESC 4 ESC t
constexpr std::uint8_t kWriteSecondHead[] = {0x1B, 0x54, 0x34, 0x1B, 0x74, 0x41};      // ESC T 4 ESC t A
constexpr std::uint8_t kWriteBothHead[] = {0x1B, 0x34, 0x1B, 0x54, 0x34, 0x1B, 0x74};  // ESC 4 ESC T 4 ESC t
constexpr std::uint8_t kWriteTail[] = {0x1D, 0x1B, 0x5C, 0x1B, 0x6A};                  // GS ESC \ ESC j
constexpr std::uint8_t kTrackSeparator = 0x41;                                         // 'A'
constexpr std::size_t kMaxTrackText = 2070;

// An arm older than this is withdrawn by the next poll.
constexpr std::uint32_t kArmLimitMs = 29000;

// The head sends a swipe's data in one burst; the pause lets all of it
// arrive before it is counted and read.
constexpr unsigned kSwipeSettleMs = 200;
constexpr int kSwipeReadMs = 200;
// Pause after arming on a reader that is armed by every read poll.
constexpr unsigned kArmSettleMs = 100;
constexpr std::size_t kSwipeBuffer = 512;
constexpr std::size_t kMinSwipeBytes = 8;
constexpr std::uint8_t kNoData = 0x7F;  // first character of an unusable track

constexpr int kConfirmReadMs = 1000;
constexpr std::size_t kMinConfirmBytes = 3;
constexpr std::uint8_t kWriteSucceeded = 0x70;  // 'p'
constexpr std::uint8_t kWriteFailed = 0x71;     // 'q'
constexpr int kFirstTrackConfirmLength = 3;
constexpr int kOtherConfirmLength = 4;

bool IsFramingByte(std::uint8_t b) { return b == 0x1B || b == 0x73 || b == 0x3F || b == 0x1C; }

bool ArmExpired(std::uint32_t armTick) {
  return armTick != 0 && static_cast<std::uint32_t>(platform::TickMs() - armTick) > kArmLimitMs;
}

// Splits the head's stream into the two tracks: framing bytes are dropped,
// the separator starts the second track, every other byte is a track
// character.  Nothing is terminated: the caller's buffers come zero-filled.
void SplitTracks(const std::uint8_t* data, std::size_t count, char* track1, char* track2) {
  char* out = track1;
  std::size_t index = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = data[i];
    if (IsFramingByte(b)) continue;
    if (b == kTrackSeparator) {
      out = track2;
      index = 0;
      continue;
    }
    if (out != nullptr) out[index] = static_cast<char>(b);
    ++index;
  }
}

void ClearUnusableTrack(char* track) {
  if (track != nullptr && static_cast<std::uint8_t>(track[0]) == kNoData) std::memset(track, 0, 4);
}

// Reads the swipe waiting for the reader into the two outputs; the common
// tail of both read polls, entered once there is one.  Track data the line
// discipline kept (it came while the reader waited for something else) is
// read first; otherwise the head's burst is given settleMs to arrive.
int ReadSwipe(CSerialPort& port, unsigned settleMs, char* track1, char* track2) {
  if (track1 != nullptr) track1[0] = '\0';
  if (track2 != nullptr) track2[0] = '\0';
  std::uint8_t data[kSwipeBuffer] = {};
  std::size_t got = 0;
  std::vector<std::uint8_t> kept;
  if (port.TakeKept(Unit::kSwipe, &kept)) {
    got = kept.size() < sizeof data ? kept.size() : sizeof data;
    std::memcpy(data, kept.data(), got);
  } else {
    if (settleMs > 0) platform::SleepMs(settleMs);
    std::size_t waiting = port.InputCount();
    // More than the buffer holds is left for a later read rather than lost
    // mid-stream.
    if (waiting > kSwipeBuffer) waiting = kSwipeBuffer;
    std::uint16_t count = 0;
    if (waiting > 0) {
      const int r = port.ReadWhenAvailable(data, waiting, &count, kSwipeReadMs);
      if (r != 0) return r;
    }
    // Read while its first bytes were still arriving: the rest follows.
    got = port.CompleteHeadData(data, count, sizeof data);
  }
  if (got < kMinSwipeBytes) return kErrMagRead;
  SplitTracks(data, got, track1, track2);
  ClearUnusableTrack(track1);
  ClearUnusableTrack(track2);
  return kOk;
}

std::size_t TextLength(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

void Append(std::vector<std::uint8_t>& message, const std::uint8_t* bytes, std::size_t count) {
  message.insert(message.end(), bytes, bytes + count);
}

void AppendText(std::vector<std::uint8_t>& message, const char* text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
  message.insert(message.end(), bytes, bytes + TextLength(text));
}

}  // namespace

int MagneticHead::Magnetic_Reset() {
  port_.PrepareRequest();
  return port_.Write(kReset, sizeof kReset);
}

int MagneticHead::Magnetic_Accept() {
  // A head armed by every read poll has nothing to do here.
  if (family_.armsOnEveryRead) return kOk;
  // Whatever came before belongs to no swipe of this arm.
  port_.Purge();
  port_.DropKept();
  port_.PrepareRequest();
  state_.armTick = platform::TickMs();
  return port_.Write(kAccept, sizeof kAccept);
}

int MagneticHead::Magnetic_CancelAccept() {
  state_.armTick = 0;
  port_.PrepareRequest();
  return port_.Write(kCancel, sizeof kCancel);
}

int MagneticHead::Magnetic_ReadTrack(char* track1, char* track2, const CancelWatch* cancel) {
  if (family_.armsOnEveryRead) return ReadTrackArming(track1, track2, cancel);
  if (ArmExpired(state_.armTick)) {
    Magnetic_CancelAccept();
    return kErrWaitTimeout;
  }
  // Nothing will ever come on a line that has failed; saying "nothing yet"
  // would keep a polling caller waiting for ever.
  if (!port_.HasKept(Unit::kSwipe) && !port_.HasInput()) return port_.LineFailed() ? kErrRead : kNothingYet;
  // The arm stays: later polls still see the 29-second limit.
  return ReadSwipe(port_, kSwipeSettleMs, track1, track2);
}

namespace {

// Composes the write message for one or both tracks (which texts are given
// picks the form), or nothing when the text length is outside 1..2070, both
// texts counted together.
bool ComposeWrite(const char* track1, const char* track2, std::vector<std::uint8_t>* message) {
  const std::size_t total = TextLength(track1) + TextLength(track2);
  if (total < 1 || total > kMaxTrackText) return false;
  message->reserve(total + sizeof kWriteBothHead + 1 + sizeof kWriteTail);
  if (track1 != nullptr && track2 != nullptr) {
    Append(*message, kWriteBothHead, sizeof kWriteBothHead);
    AppendText(*message, track1);
    message->push_back(kTrackSeparator);
    AppendText(*message, track2);
  } else if (track1 != nullptr) {
    Append(*message, kWriteFirstHead, sizeof kWriteFirstHead);
    AppendText(*message, track1);
  } else {
    Append(*message, kWriteSecondHead, sizeof kWriteSecondHead);
    AppendText(*message, track2);
  }
  Append(*message, kWriteTail, sizeof kWriteTail);
  return true;
}

// Sends a write message and arms the head for its confirmation.
int ArmWrite(CSerialPort& port, const char* track1, const char* track2, int confirmLength, std::uint32_t* armTick,
             int* storedConfirmLength) {
  std::vector<std::uint8_t> message;
  if (!ComposeWrite(track1, track2, &message)) return kErrParam;
  // An outcome that came before belongs to no write of this arm.
  port.Purge();
  port.DropKept();
  port.PrepareRequest();
  const int w = port.Write(message.data(), static_cast<std::uint16_t>(message.size()));
  if (w != 0) return w;
  *storedConfirmLength = confirmLength;
  *armTick = platform::TickMs();
  return kOk;
}

// An absent text counts as empty.
const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

int MagneticHead::Magnetic_WaitForWriteFirstTrack(const char* track1) {
  return ArmWrite(port_, OrEmpty(track1), nullptr, kFirstTrackConfirmLength, &state_.armTick, &state_.confirmLength);
}

int MagneticHead::Magnetic_WaitForWriteTrack(const char* track2) {
  return ArmWrite(port_, nullptr, OrEmpty(track2), kOtherConfirmLength, &state_.armTick, &state_.confirmLength);
}

int MagneticHead::Magnetic_WaitForWriteBothTracks(const char* track1, const char* track2) {
  return ArmWrite(port_, OrEmpty(track1), OrEmpty(track2), kOtherConfirmLength, &state_.armTick, &state_.confirmLength);
}

int MagneticHead::Magnetic_ConfirmWriteTrack() {
  if (ArmExpired(state_.armTick)) {
    Magnetic_CancelAccept();
    return kErrWaitTimeout;
  }
  // No write armed yet on this reader: nothing can be confirmed, and
  // whatever is queued is left alone.
  if (state_.confirmLength < static_cast<int>(kMinConfirmBytes)) return kNothingYet;
  std::uint8_t reply[kOtherConfirmLength] = {};
  const std::size_t expected = static_cast<std::size_t>(state_.confirmLength);
  std::size_t got = 0;
  std::vector<std::uint8_t> kept;
  if (port_.TakeKept(Unit::kHeadReply, &kept)) {
    // It came while the reader waited for an answer.
    got = kept.size() < expected ? kept.size() : expected;
    std::memcpy(reply, kept.data(), got);
  } else {
    if (!port_.HasInput()) return kNothingYet;
    // Only the count received matters: a short confirmation is judged by
    // what did arrive.
    (void)port_.ReadExact(reply, expected, &got, kConfirmReadMs);
  }
  if (got < kMinConfirmBytes) return kErrRead;
  switch (reply[expected - 1]) {
    case kWriteSucceeded:
      return kOk;
    case kWriteFailed:
      return kErrMagWrite;
    default:
      return kErrStatus;
  }
}

// A head armed by every read poll rather than by a separate Accept; its
// polls have no age limit.
int MagneticHead::ReadTrackArming(char* track1, char* track2, const CancelWatch* cancel) {
  // A late answer must not be read as track data; a swipe that came
  // meanwhile is kept and read below.
  port_.PrepareRequest();
  state_.armTick = platform::TickMs();
  const int w = port_.Write(kAccept, sizeof kAccept);
  if (w != 0) return w;
  // Input arriving meanwhile is a swipe, and gets the whole settle to
  // arrive; only a cancel of the polling caller ends it early.
  port_.Pause(static_cast<int>(kArmSettleMs), cancel);
  if (!port_.HasKept(Unit::kSwipe) && !port_.HasInput()) return kNothingYet;
  return ReadSwipe(port_, 0, track1, track2);
}

}  // namespace kp
