// AT88SC102, AT88SC1604 and AT88SC1608 memory cards: fuse, zone passwords
// and their error counters, memory reads and writes, and on the type-0
// reader the AT88SC102 erase / conditional write and the AT88SC1608
// authentication and fuse read.  The AT88SC102 and AT88SC1604 commands
// carry no chip identifier, so the two chips share their code.
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

// Longest read the device answers in one command; no address check applies.
constexpr unsigned kMaxRead = 1024;

// The AT88SC1608 status word that reports a locked password; the type-0
// reader then reads the counter of password number 16 instead.
constexpr int kStatusPasswordLocked = 0x6005;
constexpr int kLockedCounterSelect = 0;
constexpr int kLockedCounterSet = 8;
constexpr unsigned kLockedCounterNumber = 16;

// AT88SC102 erase / conditional write actions of command 0x3240.
constexpr int kActionErase = 0x00;
constexpr int kActionConditionalWrite = 0x01;

// The type-0 reader numbers the AT88SC1608 passwords select + 2 × set.
unsigned PasswordNumber(int pwdSelect, int pwdSet) {
  return (static_cast<unsigned>(pwdSelect) + 2u * static_cast<unsigned>(pwdSet)) & 0xFFFFu;
}

}  // namespace

// ------------------------------------------------------ types 1, 2, 5, 61
// These readers know neither the password read-back, the AT88SC102 erase
// and conditional write, nor the AT88SC1608 authentication and fuse read,
// and address the AT88SC1608 by password selector and plain address only.

int CReaderT1::AT88SC102_Fuse(int seat) {
  if (!CardModuleOk()) return kErrNotSupported;
  return Command(memory::kCmdFuse, Fields().Byte(seat).str(), kTimeoutMs, nullptr);
}

int CReaderT1::AT88SC102_VerifyPwd(int seat, int zone, const char* pwdHex) {
  if (!CardModuleOk()) return kErrNotSupported;
  if (pwdHex == nullptr) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(zone).Byte(memory::ByteCount(pwdHex)).Text(pwdHex);
  return Command(memory::kCmdVerifyPwd, data.str(), kTimeoutMs, nullptr);
}

int CReaderT1::AT88SC102_ReadPwd(int /*seat*/, int /*zone*/, char* /*pwdOut*/) { return kErrNotSupported; }

int CReaderT1::AT88SC102_ModifyPwd(int seat, int zone, const char* pwdHex) {
  if (!CardModuleOk()) return kErrNotSupported;
  if (pwdHex == nullptr) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(zone).Byte(memory::ByteCount(pwdHex)).Text(pwdHex);
  return Command(memory::kCmdModifyPwd, data.str(), kTimeoutMs, nullptr);
}

int CReaderT1::AT88SC102_ReadERROR(int seat, int zone, int* count) {
  if (!CardModuleOk()) return kErrNotSupported;
  return ReadCounter(Fields().Byte(seat).Byte(zone).str(), count);
}

int CReaderT1::AT88SC102_ReadData(int seat, int address, int length, char* dataOut) {
  if (!CardModuleOk()) return kErrNotSupported;
  if (Low16(length) > kMaxRead) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Address(address).Word(length).str(), length, dataOut);
}

int CReaderT1::AT88SC102_WriteData(int seat, int address, const char* dataHex) {
  if (!CardModuleOk()) return kErrNotSupported;
  return IC_WriteStoreData(seat, address, dataHex);
}

int CReaderT1::AT88SC102_ClearData(int /*seat*/, int /*address*/, int /*length*/) { return kErrNotSupported; }

int CReaderT1::AT88SC102_CWriteData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kErrNotSupported; }

int CReaderT1::AT88SC1604_Fuse(int seat) { return CReaderT1::AT88SC102_Fuse(seat); }

int CReaderT1::AT88SC1604_VerifyPwd(int seat, int zone, const char* pwdHex) {
  return CReaderT1::AT88SC102_VerifyPwd(seat, zone, pwdHex);
}

int CReaderT1::AT88SC1604_ReadPwd(int /*seat*/, int /*zone*/, char* /*pwdOut*/) { return kErrNotSupported; }

int CReaderT1::AT88SC1604_ModifyPwd(int seat, int zone, const char* pwdHex) {
  return CReaderT1::AT88SC102_ModifyPwd(seat, zone, pwdHex);
}

int CReaderT1::AT88SC1604_ReadERROR(int seat, int zone, int* count) {
  return CReaderT1::AT88SC102_ReadERROR(seat, zone, count);
}

int CReaderT1::AT88SC1604_ReadData(int seat, int address, int length, char* dataOut) {
  return CReaderT1::AT88SC102_ReadData(seat, address, length, dataOut);
}

int CReaderT1::AT88SC1604_WriteData(int seat, int address, const char* dataHex) {
  return CReaderT1::AT88SC102_WriteData(seat, address, dataHex);
}

int CReaderT1::AT88SC1608_Fuse(int seat) { return CReaderT1::AT88SC102_Fuse(seat); }

// The password selector travels in the zone field; the set is not sent.
int CReaderT1::AT88SC1608_VerifyPwd(int seat, int pwdSelect, int /*pwdSet*/, const char* pwdHex) {
  return CReaderT1::AT88SC102_VerifyPwd(seat, pwdSelect, pwdHex);
}

int CReaderT1::AT88SC1608_ReadPwd(int /*seat*/, int /*pwdSelect*/, int /*pwdSet*/, char* /*pwdOut*/) {
  return kErrNotSupported;
}

int CReaderT1::AT88SC1608_ModifyPwd(int seat, int pwdSelect, int /*pwdSet*/, const char* pwdHex) {
  return CReaderT1::AT88SC102_ModifyPwd(seat, pwdSelect, pwdHex);
}

int CReaderT1::AT88SC1608_ReadERROR(int seat, int pwdSelect, int /*pwdSet*/, int* count) {
  return CReaderT1::AT88SC102_ReadERROR(seat, pwdSelect, count);
}

// The zone is not sent: these readers address the card's memory linearly.
int CReaderT1::AT88SC1608_ReadData(int seat, int /*zone*/, int address, int length, char* dataOut) {
  return CReaderT1::AT88SC102_ReadData(seat, address, length, dataOut);
}

int CReaderT1::AT88SC1608_WriteData(int seat, int /*zone*/, int address, const char* dataHex) {
  return CReaderT1::AT88SC102_WriteData(seat, address, dataHex);
}

int CReaderT1::AT88SC1608_InitAuthenticationCard(int /*seat*/, const char* /*authHex*/) { return kErrNotSupported; }

int CReaderT1::AT88SC1608_AuthenticationCard(int /*seat*/, const char* /*authHex*/) { return kErrNotSupported; }

int CReaderT1::AT88SC1608_ReadFuse(int /*seat*/, int* /*fuse*/) { return kErrNotSupported; }

// ----------------------------------------------------------------- type 0
// Password and data texts must be upper-case hex.  The AT88SC102 and
// AT88SC1604 password and counter commands serve seat 0 only and always
// send 00 as the seat; the password change carries no length byte.

int CReaderT0::AT88SC102_Fuse(int seat) {
  return Command(memory::kCmdFuse, Fields().Byte(seat).str(), kTimeoutMs, nullptr);
}

int CReaderT0::AT88SC102_VerifyPwd(int seat, int zone, const char* pwdHex) {
  if (seat != 0 || CheckHexText(pwdHex) != 0) return kErrParam;
  const Fields data = Fields().Byte(0).Byte(zone).Byte(memory::ByteCount(pwdHex)).Text(pwdHex);
  return Command(memory::kCmdVerifyPwd, data.str(), kTimeoutMs, nullptr);
}

int CReaderT0::AT88SC102_ReadPwd(int seat, int zone, char* pwdOut) {
  return ReadPwdData(Fields().Byte(seat).Byte(zone).str(), pwdOut);
}

int CReaderT0::AT88SC102_ModifyPwd(int seat, int zone, const char* pwdHex) {
  if (seat != 0 || CheckHexText(pwdHex) != 0) return kErrParam;
  return Command(memory::kCmdModifyPwd, Fields().Byte(0).Byte(zone).Text(pwdHex).str(), kTimeoutMs, nullptr);
}

int CReaderT0::AT88SC102_ReadERROR(int seat, int zone, int* count) {
  if (seat != 0) return kErrParam;
  return ReadCounter(Fields().Byte(0).Byte(zone).str(), count);
}

int CReaderT0::AT88SC102_ReadData(int seat, int address, int length, char* dataOut) {
  if (Low16(length) > kMaxRead) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Address(address).Word(length).str(), length, dataOut);
}

int CReaderT0::AT88SC102_WriteData(int seat, int address, const char* dataHex) {
  return WriteMemory(seat, address, dataHex);
}

// Address and length travel as one field each.
int CReaderT0::AT88SC102_ClearData(int seat, int address, int length) {
  const Fields data = Fields().Byte(seat).Byte(kActionErase).Byte(address).Byte(length);
  return Command(memory::kCmdEraseOrConditionalWrite, data.str(), kTimeoutMs, nullptr);
}

int CReaderT0::AT88SC102_CWriteData(int seat, int address, const char* dataHex) {
  if (CheckHexText(dataHex) != 0) return kErrParam;
  const Fields data =
      Fields().Byte(seat).Byte(kActionConditionalWrite).Byte(address).Byte(memory::ByteCount(dataHex)).Text(dataHex);
  return Command(memory::kCmdEraseOrConditionalWrite, data.str(), kTimeoutMs, nullptr);
}

int CReaderT0::AT88SC1604_Fuse(int seat) { return CReaderT0::AT88SC102_Fuse(seat); }

int CReaderT0::AT88SC1604_VerifyPwd(int seat, int zone, const char* pwdHex) {
  return CReaderT0::AT88SC102_VerifyPwd(seat, zone, pwdHex);
}

int CReaderT0::AT88SC1604_ReadPwd(int seat, int zone, char* pwdOut) {
  return CReaderT0::AT88SC102_ReadPwd(seat, zone, pwdOut);
}

int CReaderT0::AT88SC1604_ModifyPwd(int seat, int zone, const char* pwdHex) {
  return CReaderT0::AT88SC102_ModifyPwd(seat, zone, pwdHex);
}

int CReaderT0::AT88SC1604_ReadERROR(int seat, int zone, int* count) {
  return CReaderT0::AT88SC102_ReadERROR(seat, zone, count);
}

int CReaderT0::AT88SC1604_ReadData(int seat, int address, int length, char* dataOut) {
  return CReaderT0::AT88SC102_ReadData(seat, address, length, dataOut);
}

int CReaderT0::AT88SC1604_WriteData(int seat, int address, const char* dataHex) {
  return WriteMemory(seat, address, dataHex);
}

int CReaderT0::AT88SC1608_Fuse(int seat) { return CReaderT0::AT88SC102_Fuse(seat); }

int CReaderT0::AT88SC1608_VerifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex) {
  if (CheckHexText(pwdHex) != 0) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(memory::ByteCount(pwdHex)).Byte(pwdSelect).Byte(pwdSet).Text(pwdHex);
  Reply reply;
  const int r = Command(memory::kCmdVerifyPwd, data.str(), kTimeoutMs, &reply, false);
  if (r != 0) return r;
  if (reply.status == kStatusPasswordLocked) {
    // The answer to a locked password is what the device says about the
    // counter of password number 16; the counter value itself is dropped.
    int scratch = 0;
    return AT88SC1608_ReadERROR(seat, kLockedCounterSelect, kLockedCounterSet, &scratch);
  }
  return MapStatus(reply.status);
}

int CReaderT0::AT88SC1608_ReadPwd(int seat, int pwdSelect, int pwdSet, char* pwdOut) {
  return ReadPwdData(Fields().Byte(seat).Byte(static_cast<int>(PasswordNumber(pwdSelect, pwdSet))).str(), pwdOut);
}

int CReaderT0::AT88SC1608_ModifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex) {
  if (CheckHexText(pwdHex) != 0) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(static_cast<int>(PasswordNumber(pwdSelect, pwdSet))).Text(pwdHex);
  return Command(memory::kCmdModifyPwd, data.str(), kTimeoutMs, nullptr);
}

int CReaderT0::AT88SC1608_ReadERROR(int seat, int pwdSelect, int pwdSet, int* count) {
  const unsigned number = PasswordNumber(pwdSelect, pwdSet);
  // Password number 16 has no counter byte for the caller: only the status
  // of the read counts, and count is left as it was.
  return ReadCounter(Fields().Byte(seat).Byte(static_cast<int>(number)).str(), count, number != kLockedCounterNumber);
}

int CReaderT0::AT88SC1608_ReadData(int seat, int zone, int address, int length, char* dataOut) {
  if (Low16(length) > kMaxRead) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Byte(zone).Address(address).Word(length).str(), length,
                    dataOut);
}

int CReaderT0::AT88SC1608_WriteData(int seat, int zone, int address, const char* dataHex) {
  if (CheckHexText(dataHex) != 0) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(zone).Address(address).Word(memory::ByteCount(dataHex)).Text(dataHex);
  return Command(memory::kCmdWrite, data.str(), kTimeoutMs, nullptr);
}

// The authentication texts are the card's cryptograms, passed on as given.
int CReaderT0::AT88SC1608_InitAuthenticationCard(int seat, const char* authHex) {
  if (authHex == nullptr) return kErrParam;
  return Command(memory::kCmdInitAuthentication, Fields().Byte(seat).Text(authHex).str(), kTimeoutMs, nullptr);
}

int CReaderT0::AT88SC1608_AuthenticationCard(int seat, const char* authHex) {
  if (authHex == nullptr) return kErrParam;
  return Command(memory::kCmdAuthentication, Fields().Byte(seat).Text(authHex).str(), kTimeoutMs, nullptr);
}

int CReaderT0::AT88SC1608_ReadFuse(int seat, int* fuse) {
  if (fuse == nullptr) return kErrParam;
  Reply reply;
  const int r = Command(memory::kCmdReadFuse, Fields().Byte(seat).str(), kTimeoutMs, &reply, false);
  if (r != 0) return r;
  // Delivered like a counter: before the status word is judged.
  *fuse = memory::FirstByte(reply.data);
  return MapStatus(reply.status);
}

}  // namespace kp
