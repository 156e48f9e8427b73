// The magnetic stripe head of the t1 reader (module B) and of the t61
// reader.
//
// The head speaks raw ESC sequences, not command frames:
//   ESC a                      reset: the head goes idle
//   ESC B ]                    arm for reading
//   ESC 0                      cancel: the head goes idle
//   ESC 4 ESC t T1 GS ESC \ ESC j              arm for writing the first track
//   ESC T 4 ESC t A T2 GS ESC \ ESC j          arm for writing the second track
//   ESC 4 ESC T 4 ESC t T1 A T2 GS ESC \ ESC j arm for writing both tracks
// None of them is answered: the host reads nothing after sending them, and
// any answer would be taken for a swipe.
//
// A card passes the head when the control interface swipes it.  An armed
// head answers that pass once and goes idle:
//   read arm:  ESC s, track 1, A, track 2, ? FS  (an empty track is 7F)
//   write arm: ESC w p after a first-track write, ESC w T p after a
//              second- or two-track write ('T' acknowledges the ESC T 4
//              that addressed the second track); q instead of p when the
//              write failed, and the card then keeps its old tracks.
// A card swiped while the head is idle (or, on the t1 reader, while the
// line is routed to another module) is held at the head and passes at the
// next arm: the swipe request and the host's arm travel on two different
// channels, so the emulator may see them in either order.
#pragma once

#include <optional>
#include <string>

#include "core/bytes.h"
#include "core/device_state.h"

namespace kpsim {

class VirtualReader;

struct MagneticCard {
  Bytes track1;  // track characters as the head reads them; empty: no data
  Bytes track2;
};

enum class HeadArm { kIdle, kRead, kWriteFirst, kWriteSecond, kWriteBoth };

class MagneticHead {
 public:
  // Whether the head hears the line: the t61 reader always, the t1 reader
  // while module B is selected, the t0 reader never (it has no head).
  static bool OnLine(const DeviceState& state);
  static bool Present(const DeviceState& state);

  // Host sequences.
  void Reset() { arm_ = HeadArm::kIdle; }
  void Cancel() { arm_ = HeadArm::kIdle; }
  void ArmRead(VirtualReader& reader);
  void ArmWrite(VirtualReader& reader, HeadArm arm, Bytes track1, Bytes track2);

  // A card passes the head.  Returns what became of it: "read",
  // "written", "write-failed", "held" (head not armed), or "lost" (the
  // head's answer was swallowed by a silent fault; a write is then not
  // done).
  std::string Swipe(VirtualReader& reader, const MagneticCard& card);

  // Withdraws a held card; false when none was held.
  bool DropHeld();
  void FailNextWrites(unsigned count) { failing_writes_ = count; }

  HeadArm arm() const { return arm_; }
  const std::optional<MagneticCard>& held() const { return held_; }
  const std::optional<MagneticCard>& last() const { return last_; }
  unsigned failing_writes() const { return failing_writes_; }

  // The byte stream the head sends for a card passing a read arm.
  static Bytes TrackStream(const MagneticCard& card);

 private:
  void PassHeld(VirtualReader& reader);

  HeadArm arm_ = HeadArm::kIdle;
  MagneticCard order_;  // the tracks of an armed write
  std::optional<MagneticCard> held_;
  std::optional<MagneticCard> last_;  // the card as it left the head
  unsigned failing_writes_ = 0;
};

const char* HeadArmName(HeadArm arm);

}  // namespace kpsim
