// The identity-card security module (type-0 readers): find, select and read
// a resident identity card with the module's own frames, decode its text
// into the shared identity record and its photo into a bitmap file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "readers/module.h"

namespace kp {

// Path of the bitmap of the last identity card read, for the life of the
// reader.
struct IdState : ModuleState {
  char photoPath[260] = {};
};

class IdModule : public Module {
 public:
  static constexpr Tech kTech = Tech::kIdentity;
  explicit IdModule(CReader& reader) : Module(reader), state_(reader.State<IdState>()) {}

  int ID_FindID();
  int ID_GetData(int field, char* out);
  int ID_Read(int timeLimitMs, char** fields);

 private:
  // Sends a command frame (wire/id_frame.h) and reads the answer's 7-byte
  // header and the body it announces, into an answer buffer of room bytes.
  // 0 or a serial error; -3 for a body that would not fit.  *answerLength
  // is 7 plus the body bytes received, also after a failed body read.
  int ExchangeRaw(std::uint16_t command, std::uint8_t* answer, std::size_t room, std::uint16_t* answerLength,
                  int timeLimitMs);
  // Turns the card's raw photo into the bitmap file state_.photoPath names,
  // with the photo decoder found next to this library.  0 or -1.
  int DecodePhoto(const std::uint8_t* photo, std::uint32_t length);

  IdState& state_;
};

}  // namespace kp
