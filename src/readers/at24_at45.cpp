// AT24Cxx serial EEPROM cards (16-bit byte address) and AT45DB041 flash
// cards (page and offset): plain reads and writes.
#include "base/results.h"
#include "readers/memory_common.h"
#include "readers/reader.h"

namespace kp {

using memory::Fields;
using memory::kTimeoutMs;
using memory::Low16;

namespace {

// Longest AT24Cxx read in one command; the address is the card's concern.
constexpr unsigned kMaxAt24Read = 1024;
// AT45DB041: 2048 pages; a read stays within one page of 256 bytes, a
// write starts inside it.
constexpr unsigned kLastAt45Page = 2047;
constexpr unsigned kMaxAt45Read = 256;
constexpr unsigned kLastAt45Offset = 255;

}  // namespace

int CReader::AT24CXX_ReadData(int seat, int address, int length, char* dataOut) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  if (Low16(length) > kMaxAt24Read) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Address(address).Word(length).str(), length, dataOut);
}

int CReader::AT24CXX_WriteData(int seat, int address, const char* dataHex) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  return WriteMemory(seat, nullptr, address, dataHex);
}

// The read offset is not checked: the device decides where a page ends.
int CReader::AT45DB041_ReadData(int seat, int page, int offset, int length, char* dataOut) {
  if (const int refused = Gate(Tech::kCard, kAt45db041)) return refused;
  if (Low16(length) > kMaxAt45Read || Low16(page) > kLastAt45Page) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(offset).Address(page).Word(length);
  return ReadMemory(memory::kCmdRead, data.str(), length, dataOut);
}

// How many bytes of a page one write may carry is the device's concern.
int CReader::AT45DB041_WriteData(int seat, int page, int offset, const char* dataHex) {
  if (const int refused = Gate(Tech::kCard, kAt45db041)) return refused;
  if (!TextOk(dataHex) || Low16(offset) > kLastAt45Offset || Low16(page) > kLastAt45Page) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(offset).Address(page).Word(memory::ByteCount(dataHex)).Text(dataHex);
  return Command(memory::kCmdWrite, data.str(), kTimeoutMs, nullptr);
}

}  // namespace kp
