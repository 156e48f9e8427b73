// SLE4428 and SLE4442 memory cards: password check, read-back and change,
// error counter, main memory and (SLE4442) protection memory.  The commands
// carry no chip identifier, so the password and counter operations of the
// two chips run the same code.
#include "base/results.h"
#include "readers/memory_common.h"
#include "readers/reader.h"

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

int CReader::SLE4428_VerifyPwd(int seat, const char* pwdHex) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  if (family_.plainViaStoreCommands) return IC_VerifyPwd(seat, pwdHex);
  if (!TextOk(pwdHex)) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(memory::ByteCount(pwdHex)).Text(pwdHex);
  return Command(memory::kCmdVerifyPwd, data.str(), kTimeoutMs, nullptr);
}

int CReader::SLE4428_ReadPwd(int seat, char* pwdOut) {
  if (const int refused = Gate(Tech::kCard, kPasswordReadBack)) return refused;
  return ReadPwdData(Fields().Byte(seat).str(), pwdOut);
}

int CReader::SLE4428_ModifyPwd(int seat, const char* pwdHex) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  return ChangePassword(Fields().Byte(seat), pwdHex);
}

int CReader::SLE4428_ReadERROR(int seat, int* count) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  return ReadCounter(Fields().Byte(seat).str(), count);
}

int CReader::SLE4428_ReadData(int seat, int mode, int address, int length, char* dataOut, char* protectOut) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  if (!EndsInside(address, length, kSle4428Memory) || dataOut == nullptr) return kErrParam;
  const Fields data = Fields().Byte(seat).Address(address).Word(length).Byte(mode);
  Reply reply;
  const int r = Command(memory::kCmdRead, data.str(), kTimeoutMs, &reply);
  if (r != 0) return r;
  memory::DeliverSle4428Read(reply.data, Low16(length), dataOut, protectOut);
  return kOk;
}

int CReader::SLE4428_WriteData(int seat, int mode, int address, const char* dataHex) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  if (!TextOk(dataHex)) return kErrParam;
  const Fields data = Fields().Byte(seat).Address(address).Word(memory::ByteCount(dataHex)).Byte(mode).Text(dataHex);
  return Command(memory::kCmdWrite, data.str(), kTimeoutMs, nullptr);
}

int CReader::SLE4442_ReadDataForUser(int seat, int address, int length, char* dataOut) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  if (!EndsInside(address, length, kSle4442Memory)) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Address(address).Word(length).str(), length, dataOut);
}

int CReader::SLE4442_WriteDataForUser(int seat, int address, const char* dataHex) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  return WriteMemory(seat, nullptr, address, dataHex);
}

int CReader::SLE4442_ReadDataForProtection(int seat, int address, int length, char* dataOut) {
  if (const int refused = Gate(Tech::kCard)) return refused;
  if (!EndsInside(address, length, kSle4442Protection)) return kErrParam;
  Fields data = Fields().Byte(seat);
  if (family_.narrowProtection) {
    data.Byte(address).Byte(length);
  } else {
    data.Address(address).Word(length);
  }
  return ReadMemory(memory::kCmdReadProtection, data.str(), length, dataOut);
}

int CReader::SLE4442_WriteDataForProtection(int seat, int address, const char* dataHex) {
  if (const int refused = Gate(Tech::kCard)) return refused;
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
