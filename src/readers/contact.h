// Contact CPU cards: the state of a seat, the card speed, power on (answer
// to reset) and off, the APDU exchange and the card type of a seat.
#pragma once

#include <cstdint>

#include "readers/module.h"

namespace kp {

// Answers to reset of the family's cached seats, as hex text, for the life
// of the reader.
struct ContactState : ModuleState {
  std::uint8_t atrCached[kMaxCachedAtrSeats] = {};
  char atrCache[kMaxCachedAtrSeats][128] = {};
};

class ContactCard : public Module {
 public:
  static constexpr Tech kTech = Tech::kCard;
  using Module::Module;

  int IC_GetStatus(int seat, int* state);
  int IC_SetBaudRate(int seat, int baud);
  int IC_PowerOn(int seat, int* atrLen, char* atr);
  int IC_PowerOff(int seat);
  // The exported form: the card's answer as hex text into response, whose
  // room is the caller's to provide (the first four characters are cleared
  // first, so a failed exchange never leaves an earlier answer readable).
  int IC_SendApdu(int seat, int reserved, const char* apdu, int apduLen, char* response);
  // The exchange itself.  The command is the caller's text and travels as
  // it stands (a text that is not hex reaches the device as it always has);
  // *answer receives the card's data and SW1 SW2, and stays empty when the
  // exchange fails.
  int Transceive(int seat, const char* apdu, Bytes* answer);
  int IC_SetCardType(int seat, int cardType);
  int IC_GetCardType(int seat, int* cardType);

 private:
  void PrepareSwitchedSeat(int seat);
};

}  // namespace kp
