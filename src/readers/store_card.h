// Store cards in a contact seat: the generic memory-card command family (key
// set-up, password checks, reads and writes at an address) for a card whose
// family was set beforehand with the card type of the seat.
#pragma once

#include "readers/module.h"

namespace kp {

class StoreCard : public Module {
 public:
  static constexpr Tech kTech = Tech::kCard;
  using Module::Module;

  int IC_InitializeKey(int seat, const char* keyHex);
  int IC_VerifyPwdEXAT1604(int seat, int selectorLow, int selectorHigh, const char* pwdHex);
  int IC_VerifyPwdEXAT1608(int seat, int zone, const char* pwdHex);
  int IC_VerifyPwd(int seat, const char* pwdHex);
  int IC_ReadStoreDataEXAT1608(int seat, int zone, int address, int length, char* dataOut);
  int IC_ReadStoreData(int seat, int address, int length, char* dataOut);
  int IC_WriteStoreDataEXAT1608(int seat, int zone, int address, const char* dataHex);
  int IC_WriteStoreData(int seat, int address, const char* dataHex);
};

}  // namespace kp
