// The magnetic head: raw escape sequences instead of command frames, and a
// two-phase protocol for reading and for writing — one call arms the head,
// the application then polls until the swipe has happened, the head reports
// an outcome, or the arm has grown too old.
#pragma once

#include <cstdint>

#include "readers/module.h"

namespace kp {

// The head's arm, for the life of the reader.
struct MagneticState : ModuleState {
  std::uint32_t armTick = 0;  // tick of the last arming of the head
  int confirmLength = 0;      // length of the expected write confirmation
};

class MagneticHead : public Module {
 public:
  static constexpr Tech kTech = Tech::kMagnetic;
  explicit MagneticHead(CReader& reader) : Module(reader), state_(reader.State<MagneticState>()) {}

  int Magnetic_Reset();
  int Magnetic_Accept();
  int Magnetic_CancelAccept();
  // cancel (may be null) is the watch of a caller that polls until a
  // swipe comes: on a head armed by every read it shortens the arm's
  // settle when a cancel comes.
  int Magnetic_ReadTrack(char* track1, char* track2, const CancelWatch* cancel = nullptr);
  int Magnetic_WaitForWriteFirstTrack(const char* track1);
  int Magnetic_WaitForWriteTrack(const char* track2);
  int Magnetic_WaitForWriteBothTracks(const char* track1, const char* track2);
  int Magnetic_ConfirmWriteTrack();

 private:
  // The arming read poll of the heads armed by every read.
  int ReadTrackArming(char* track1, char* track2, const CancelWatch* cancel);

  MagneticState& state_;
};

}  // namespace kp
