#include "readers/at45.h"
#include "base/results.h"

namespace kp {

using memory::Fields;
using memory::kTimeoutMs;
using memory::Low16;

namespace {

// AT45DB041: 2048 pages; a read stays within one page of 256 bytes, a
// write starts inside it.
constexpr unsigned kLastAt45Page = 2047;
constexpr unsigned kMaxAt45Read = 256;
constexpr unsigned kLastAt45Offset = 255;

}  // namespace

// The read offset is not checked: the device decides where a page ends.
int At45db041::AT45DB041_ReadData(int seat, int page, int offset, int length, char* dataOut) {
  if (Low16(length) > kMaxAt45Read || Low16(page) > kLastAt45Page) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(offset).Address(page).Word(length);
  return ReadMemory(memory::kCmdRead, data.str(), length, dataOut);
}

// How many bytes of a page one write may carry is the device's concern.
int At45db041::AT45DB041_WriteData(int seat, int page, int offset, const char* dataHex) {
  if (!TextOk(dataHex) || Low16(offset) > kLastAt45Offset || Low16(page) > kLastAt45Page) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(offset).Address(page).Word(memory::ByteCount(dataHex)).Text(dataHex);
  return Command(memory::kCmdWrite, data.str(), kTimeoutMs, nullptr);
}

}  // namespace kp
