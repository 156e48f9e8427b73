// AT24Cxx serial EEPROM cards (16-bit byte address): plain reads and writes.
#pragma once

#include "readers/memory_common.h"

namespace kp {

class At24cxx : public memory::MemoryModule {
 public:
  using MemoryModule::MemoryModule;

  int AT24CXX_ReadData(int seat, int address, int length, char* dataOut);
  int AT24CXX_WriteData(int seat, int address, const char* dataHex);
};

}  // namespace kp
