#include "readers/memory_common.h"

#include <cstdio>
#include <cstring>

#include "base/results.h"
#include "readers/store_card.h"

namespace kp {
namespace memory {

int ByteCount(const char* hex) { return hex ? static_cast<int>(std::strlen(hex) / 2) : 0; }

void Fields::Append(const char* format, unsigned value) {
  char piece[8];
  std::snprintf(piece, sizeof piece, format, value);
  text_ += piece;
}

Fields& Fields::Byte(int value) {
  Append("%02X", Low16(value));
  return *this;
}

Fields& Fields::Word(int value) {
  Append("%04X", Low16(value));
  return *this;
}

Fields& Fields::Address(int value) {
  const unsigned a = Low16(value);
  Append("%02X", a & 0xFFu);
  Append("%02X", a >> 8);
  return *this;
}

Fields& Fields::Text(const char* hex) {
  if (hex) text_ += hex;
  return *this;
}

void AppendExactRead(const Bytes& data, unsigned n, char* out) {
  if (n == 0 || data.size() != n) return;
  BytesToHexZ(data.data(), n, out + std::strlen(out));
}

void DeliverSle4428Read(const Bytes& data, unsigned n, char* dataOut, char* protectOut) {
  const std::size_t withFlags = 2 * std::size_t{n};
  if (n == 0 || (data.size() != n && data.size() != withFlags)) return;
  BytesToHexZ(data.data(), n, dataOut + std::strlen(dataOut));
  if (data.size() != withFlags || protectOut == nullptr) return;
  for (unsigned i = 0; i < n; ++i) {
    // Each flag's print ends in a NUL that the next flag overwrites.
    char digits[4];
    const int len = std::snprintf(digits, sizeof digits, "%d", data[n + i]);
    std::memcpy(protectOut + i, digits, static_cast<std::size_t>(len) + 1);
  }
}

// ------------------------------------------------- the modules' helpers

bool MemoryModule::TextOk(const char* text) const {
  return family_.hexTexts ? CheckHexText(text) == 0 : text != nullptr;
}

int MemoryModule::ReadMemory(int command, const std::string& dataHex, int length, char* dataOut) {
  if (dataOut == nullptr) return kErrParam;
  Reply reply;
  const int r = Command(command, dataHex, kTimeoutMs, &reply);
  if (r != 0) return r;
  AppendExactRead(reply.data, Low16(length), dataOut);
  return kOk;
}

int MemoryModule::ReadCounter(const std::string& dataHex, int* count, bool deliver) {
  if (deliver && count == nullptr) return kErrParam;
  Reply reply;
  const int r = Command(kCmdReadCounter, dataHex, kTimeoutMs, &reply, false);
  if (r != 0) return r;
  // Stored before the status is looked at: a card that refuses still tells
  // how many tries are left.
  if (deliver) *count = FirstByte(reply.data);
  return MapStatusWord(reply.status);
}

int MemoryModule::ReadPwdData(const std::string& dataHex, char* pwdOut) {
  if (pwdOut == nullptr) return kErrParam;
  Reply reply;
  const int r = Command(kCmdReadPwd, dataHex, kTimeoutMs, &reply);
  if (r != 0) return r;
  // An answer without password bytes leaves the caller's text as it was.
  if (!reply.data.empty()) BytesToHexZ(reply.data.data(), reply.data.size(), pwdOut);
  return kOk;
}

int MemoryModule::ChangePassword(Fields head, const char* pwdHex) {
  if (!TextOk(pwdHex)) return kErrParam;
  if (family_.pwdChangeLength) head.Byte(ByteCount(pwdHex));
  return Command(kCmdModifyPwd, head.Text(pwdHex).str(), kTimeoutMs, nullptr);
}

int MemoryModule::WriteMemory(int seat, const int* zone, int address, const char* dataHex) {
  if (family_.plainViaStoreCommands) return Along<StoreCard>(this).IC_WriteStoreData(seat, address, dataHex);
  if (!TextOk(dataHex)) return kErrParam;
  Fields data = Fields().Byte(seat);
  if (zone != nullptr) data.Byte(*zone);
  data.Address(address).Word(ByteCount(dataHex)).Text(dataHex);
  return Command(kCmdWrite, data.str(), kTimeoutMs, nullptr);
}

}  // namespace memory
}  // namespace kp
