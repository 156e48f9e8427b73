#include "readers/sle44x8.h"
#include "base/results.h"
#include "readers/store_card.h"

namespace kp {

using memory::Fields;
using memory::kTimeoutMs;
using memory::Low16;

namespace {

// Bytes each memory holds; a read must end inside it.
constexpr unsigned kSle4428Memory = 1024;
constexpr unsigned kSle4442Memory = 256;
constexpr unsigned kSle4442Protection = 32;

bool EndsInside(int address, int length, unsigned size) { return Low16(address) + Low16(length) <= size; }

}  // namespace

int Sle44x8::SLE4428_VerifyPwd(int seat, const char* pwdHex) {
  if (family_.plainViaStoreCommands) return Along<StoreCard>(this).IC_VerifyPwd(seat, pwdHex);
  if (!TextOk(pwdHex)) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(memory::ByteCount(pwdHex)).Text(pwdHex);
  return Command(memory::kCmdVerifyPwd, data.str(), kTimeoutMs, nullptr);
}

int Sle44x8::SLE4428_ReadPwd(int seat, char* pwdOut) { return ReadPwdData(Fields().Byte(seat).str(), pwdOut); }

int Sle44x8::SLE4428_ModifyPwd(int seat, const char* pwdHex) { return ChangePassword(Fields().Byte(seat), pwdHex); }

int Sle44x8::SLE4428_ReadERROR(int seat, int* count) { return ReadCounter(Fields().Byte(seat).str(), count); }

int Sle44x8::SLE4428_ReadData(int seat, int mode, int address, int length, char* dataOut, char* protectOut) {
  if (!EndsInside(address, length, kSle4428Memory) || dataOut == nullptr) return kErrParam;
  const Fields data = Fields().Byte(seat).Address(address).Word(length).Byte(mode);
  Reply reply;
  const int r = Command(memory::kCmdRead, data.str(), kTimeoutMs, &reply);
  if (r != 0) return r;
  memory::DeliverSle4428Read(reply.data, Low16(length), dataOut, protectOut);
  return kOk;
}

int Sle44x8::SLE4428_WriteData(int seat, int mode, int address, const char* dataHex) {
  if (!TextOk(dataHex)) return kErrParam;
  const Fields data = Fields().Byte(seat).Address(address).Word(memory::ByteCount(dataHex)).Byte(mode).Text(dataHex);
  return Command(memory::kCmdWrite, data.str(), kTimeoutMs, nullptr);
}

int Sle44x8::SLE4442_ReadDataForUser(int seat, int address, int length, char* dataOut) {
  if (!EndsInside(address, length, kSle4442Memory)) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Address(address).Word(length).str(), length, dataOut);
}

int Sle44x8::SLE4442_WriteDataForUser(int seat, int address, const char* dataHex) {
  return WriteMemory(seat, nullptr, address, dataHex);
}

int Sle44x8::SLE4442_ReadDataForProtection(int seat, int address, int length, char* dataOut) {
  if (!EndsInside(address, length, kSle4442Protection)) return kErrParam;
  Fields data = Fields().Byte(seat);
  if (family_.narrowProtection) {
    data.Byte(address).Byte(length);
  } else {
    data.Address(address).Word(length);
  }
  return ReadMemory(memory::kCmdReadProtection, data.str(), length, dataOut);
}

int Sle44x8::SLE4442_WriteDataForProtection(int seat, int address, const char* dataHex) {
  if (!TextOk(dataHex)) return kErrParam;
  Fields data = Fields().Byte(seat);
  if (family_.narrowProtection) {
    data.Byte(address).Byte(memory::ByteCount(dataHex));
  } else {
    data.Address(address).Word(memory::ByteCount(dataHex));
  }
  return Command(memory::kCmdWriteProtection, data.Text(dataHex).str(), kTimeoutMs, nullptr);
}

}  // namespace kp
