// Contactless cards: activation of a processor card or of a sector-organised
// store card, halt, sector authentication, 16-byte blocks, value blocks and
// sector keys.  The library keeps no contactless state: field, active card
// and authenticated sector are the device's.
#pragma once

#include "readers/module.h"

namespace kp {

class Contactless : public Module {
 public:
  static constexpr Tech kTech = Tech::kCard;
  using Module::Module;

  int IC_ConnectlessActive(int* cardType, int* uidLen, char* uid, int* atsLen, char* ats);
  int IC_ConnectlessHalt();
  int IC_ConnectlessActiveStoreCard(int* cardType, int* uidLen, char* uid, int* atsLen, char* ats);
  int IC_ConnectlessCertifySector(int sector, int keyType, const char* keyHex);
  int IC_ConnectlessReadBlock(int block, int* dataLen, char* dataOut);
  int IC_ConnectlessWriteBlock(int block, const char* dataHex);
  int IC_ConnectlessReadValueBlock(int block, float* value);
  int IC_ConnectlessWriteValueBlock(int block, float value);
  int IC_ConnectlessWriteKey(int sector, int keyType, const char* keyHex);
  // Increase or decrease of a value block as a read followed by a write of
  // the new value; nothing is held in between, and no bound is checked.
  int AdjustValueBlock(int block, float amount, bool increase);
};

}  // namespace kp
