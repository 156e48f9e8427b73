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
  int IC_SendApdu(int seat, int reserved, const char* apdu, int apduLen, char* response);
  int IC_SetCardType(int seat, int cardType);
  int IC_GetCardType(int seat, int* cardType);

 private:
  void PrepareSwitchedSeat(int seat);
};

}  // namespace kp
