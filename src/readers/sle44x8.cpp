// SLE4428 and SLE4442 memory cards: password check, read-back and change,
// error counter, main memory and (SLE4442) protection memory, for the
// three reader classes.  The commands carry no chip identifier, so the
// password and counter operations of the two chips run the same code.
#include "base/results.h"
#include "readers/memory_common.h"
#include "readers/reader_t0.h"
#include "readers/reader_t1.h"
#include "readers/reader_t61.h"

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

// ------------------------------------------------------ types 1, 2, 5, 61

int CReaderT1::SLE4428_VerifyPwd(int seat, const char* pwdHex) {
  if (!CardModuleOk()) return kErrNotSupported;
  return IC_VerifyPwd(seat, pwdHex);
}

// The firmware of these readers cannot read a password back.
int CReaderT1::SLE4428_ReadPwd(int /*seat*/, char* /*pwdOut*/) { return kErrNotSupported; }

int CReaderT1::SLE4428_ModifyPwd(int seat, const char* pwdHex) {
  if (!CardModuleOk()) return kErrNotSupported;
  if (pwdHex == nullptr) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(memory::ByteCount(pwdHex)).Text(pwdHex);
  return Command(memory::kCmdModifyPwd, data.str(), kTimeoutMs, nullptr);
}

int CReaderT1::SLE4428_ReadERROR(int seat, int* count) {
  if (!CardModuleOk()) return kErrNotSupported;
  return ReadCounter(Fields().Byte(seat).str(), count);
}

int CReaderT1::SLE4428_ReadData(int seat, int mode, int address, int length, char* dataOut, char* protectOut) {
  if (!CardModuleOk()) return kErrNotSupported;
  if (!EndsInside(address, length, kSle4428Memory) || dataOut == nullptr) return kErrParam;
  const Fields data = Fields().Byte(seat).Address(address).Word(length).Byte(mode);
  Reply reply;
  const int r = Command(memory::kCmdRead, data.str(), kTimeoutMs, &reply);
  if (r != 0) return r;
  memory::DeliverSle4428Read(reply.data, Low16(length), dataOut, protectOut);
  return kOk;
}

int CReaderT1::SLE4428_WriteData(int seat, int mode, int address, const char* dataHex) {
  if (!CardModuleOk()) return kErrNotSupported;
  if (dataHex == nullptr) return kErrParam;
  const Fields data = Fields().Byte(seat).Address(address).Word(memory::ByteCount(dataHex)).Byte(mode).Text(dataHex);
  return Command(memory::kCmdWrite, data.str(), kTimeoutMs, nullptr);
}

int CReaderT1::SLE4442_VerifyPwd(int seat, const char* pwdHex) { return CReaderT1::SLE4428_VerifyPwd(seat, pwdHex); }

int CReaderT1::SLE4442_ReadPwd(int /*seat*/, char* /*pwdOut*/) { return kErrNotSupported; }

int CReaderT1::SLE4442_ModifyPwd(int seat, const char* pwdHex) { return CReaderT1::SLE4428_ModifyPwd(seat, pwdHex); }

int CReaderT1::SLE4442_ReadERROR(int seat, int* count) { return CReaderT1::SLE4428_ReadERROR(seat, count); }

int CReaderT1::SLE4442_ReadDataForUser(int seat, int address, int length, char* dataOut) {
  if (!CardModuleOk()) return kErrNotSupported;
  if (!EndsInside(address, length, kSle4442Memory)) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Address(address).Word(length).str(), length, dataOut);
}

int CReaderT1::SLE4442_WriteDataForUser(int seat, int address, const char* dataHex) {
  if (!CardModuleOk()) return kErrNotSupported;
  return IC_WriteStoreData(seat, address, dataHex);
}

int CReaderT1::SLE4442_ReadDataForProtection(int seat, int address, int length, char* dataOut) {
  if (!CardModuleOk()) return kErrNotSupported;
  if (!EndsInside(address, length, kSle4442Protection)) return kErrParam;
  return ReadMemory(memory::kCmdReadProtection, Fields().Byte(seat).Address(address).Word(length).str(), length,
                    dataOut);
}

int CReaderT1::SLE4442_WriteDataForProtection(int seat, int address, const char* dataHex) {
  if (!CardModuleOk()) return kErrNotSupported;
  if (dataHex == nullptr) return kErrParam;
  const Fields data = Fields().Byte(seat).Address(address).Word(memory::ByteCount(dataHex)).Text(dataHex);
  return Command(memory::kCmdWriteProtection, data.str(), kTimeoutMs, nullptr);
}

// ----------------------------------------------------------------- type 0
// Every password and data text must be upper-case hex before anything is
// sent; the password change carries no length byte, and the protection
// memory is addressed with one-byte address and length fields.

int CReaderT0::SLE4428_VerifyPwd(int seat, const char* pwdHex) {
  if (CheckHexText(pwdHex) != 0) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(memory::ByteCount(pwdHex)).Text(pwdHex);
  return Command(memory::kCmdVerifyPwd, data.str(), kTimeoutMs, nullptr);
}

int CReaderT0::SLE4428_ReadPwd(int seat, char* pwdOut) { return ReadPwdData(Fields().Byte(seat).str(), pwdOut); }

int CReaderT0::SLE4428_ModifyPwd(int seat, const char* pwdHex) {
  if (CheckHexText(pwdHex) != 0) return kErrParam;
  return Command(memory::kCmdModifyPwd, Fields().Byte(seat).Text(pwdHex).str(), kTimeoutMs, nullptr);
}

int CReaderT0::SLE4428_ReadERROR(int seat, int* count) { return ReadCounter(Fields().Byte(seat).str(), count); }

int CReaderT0::SLE4428_ReadData(int seat, int mode, int address, int length, char* dataOut, char* protectOut) {
  if (!EndsInside(address, length, kSle4428Memory) || dataOut == nullptr) return kErrParam;
  const Fields data = Fields().Byte(seat).Address(address).Word(length).Byte(mode);
  Reply reply;
  const int r = Command(memory::kCmdRead, data.str(), kTimeoutMs, &reply);
  if (r != 0) return r;
  memory::DeliverSle4428Read(reply.data, Low16(length), dataOut, protectOut);
  return kOk;
}

int CReaderT0::SLE4428_WriteData(int seat, int mode, int address, const char* dataHex) {
  if (CheckHexText(dataHex) != 0) return kErrParam;
  const Fields data = Fields().Byte(seat).Address(address).Word(memory::ByteCount(dataHex)).Byte(mode).Text(dataHex);
  return Command(memory::kCmdWrite, data.str(), kTimeoutMs, nullptr);
}

int CReaderT0::SLE4442_VerifyPwd(int seat, const char* pwdHex) { return CReaderT0::SLE4428_VerifyPwd(seat, pwdHex); }

int CReaderT0::SLE4442_ReadPwd(int seat, char* pwdOut) { return CReaderT0::SLE4428_ReadPwd(seat, pwdOut); }

int CReaderT0::SLE4442_ModifyPwd(int seat, const char* pwdHex) { return CReaderT0::SLE4428_ModifyPwd(seat, pwdHex); }

int CReaderT0::SLE4442_ReadERROR(int seat, int* count) { return CReaderT0::SLE4428_ReadERROR(seat, count); }

int CReaderT0::SLE4442_ReadDataForUser(int seat, int address, int length, char* dataOut) {
  if (!EndsInside(address, length, kSle4442Memory)) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Address(address).Word(length).str(), length, dataOut);
}

int CReaderT0::SLE4442_WriteDataForUser(int seat, int address, const char* dataHex) {
  return WriteMemory(seat, address, dataHex);
}

int CReaderT0::SLE4442_ReadDataForProtection(int seat, int address, int length, char* dataOut) {
  if (!EndsInside(address, length, kSle4442Protection)) return kErrParam;
  return ReadMemory(memory::kCmdReadProtection, Fields().Byte(seat).Byte(address).Byte(length).str(), length, dataOut);
}

int CReaderT0::SLE4442_WriteDataForProtection(int seat, int address, const char* dataHex) {
  if (CheckHexText(dataHex) != 0) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(address).Byte(memory::ByteCount(dataHex)).Text(dataHex);
  return Command(memory::kCmdWriteProtection, data.str(), kTimeoutMs, nullptr);
}

}  // namespace kp
