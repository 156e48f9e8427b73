// AT45DB041 flash cards (page and offset): plain reads and writes, which
// only the families that know the chip serve.
#pragma once

#include "readers/memory_common.h"

namespace kp {

class At45db041 : public memory::MemoryModule {
 public:
  static constexpr unsigned kFeature = kAt45db041;
  using MemoryModule::MemoryModule;

  int AT45DB041_ReadData(int seat, int page, int offset, int length, char* dataOut);
  int AT45DB041_WriteData(int seat, int page, int offset, const char* dataHex);
};

}  // namespace kp
