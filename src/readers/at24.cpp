#include "readers/at24.h"
#include "base/results.h"

namespace kp {

using memory::Fields;
using memory::Low16;

namespace {

// Longest AT24Cxx read in one command; the address is the card's concern.
constexpr unsigned kMaxAt24Read = 1024;

}  // namespace

int At24cxx::AT24CXX_ReadData(int seat, int address, int length, char* dataOut) {
  if (Low16(length) > kMaxAt24Read) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Address(address).Word(length).str(), length, dataOut);
}

int At24cxx::AT24CXX_WriteData(int seat, int address, const char* dataHex) {
  return WriteMemory(seat, nullptr, address, dataHex);
}

}  // namespace kp
