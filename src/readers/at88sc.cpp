#include "readers/at88sc.h"
#include "base/results.h"

namespace kp {

using memory::Fields;
using memory::kTimeoutMs;
using memory::Low16;

namespace {

// Longest read the device answers in one command; no address check applies.
constexpr unsigned kMaxRead = 1024;

// The AT88SC1608 status word that reports a locked password; the counter
// of password number 16 is then read instead.
constexpr int kStatusPasswordLocked = 0x6005;
constexpr int kLockedCounterSelect = 0;
constexpr int kLockedCounterSet = 8;
constexpr int kLockedCounterNumber = 16;

// AT88SC102 erase / conditional write actions of command 0x3240.
constexpr int kActionErase = 0x00;
constexpr int kActionConditionalWrite = 0x01;

// How an AT88SC1608 password is named on the wire: its number select + 2 ×
// set where the family knows password sets, else the selector alone.
int PasswordField(const ReaderFamily& family, int pwdSelect, int pwdSet) {
  if (!family.at1608SelectAndSet) return pwdSelect;
  return static_cast<int>((static_cast<unsigned>(pwdSelect) + 2u * static_cast<unsigned>(pwdSet)) & 0xFFFFu);
}

// Seats the AT88SC102/1604 password and counter commands serve.
bool PasswordSeatOk(const ReaderFamily& family, int seat) { return !family.at88PasswordSeat0 || seat == 0; }

}  // namespace

int At88sc::AT88SC102_Fuse(int seat) {
  return Command(memory::kCmdFuse, Fields().Byte(seat).str(), kTimeoutMs, nullptr);
}

int At88sc::AT88SC102_VerifyPwd(int seat, int zone, const char* pwdHex) {
  if (!PasswordSeatOk(family_, seat) || !TextOk(pwdHex)) return kErrParam;
  const Fields data = Fields().Byte(seat).Byte(zone).Byte(memory::ByteCount(pwdHex)).Text(pwdHex);
  return Command(memory::kCmdVerifyPwd, data.str(), kTimeoutMs, nullptr);
}

int At88sc::AT88SC102_ReadPwd(int seat, int zone, char* pwdOut) {
  return ReadPwdData(Fields().Byte(seat).Byte(zone).str(), pwdOut);
}

int At88sc::AT88SC102_ModifyPwd(int seat, int zone, const char* pwdHex) {
  if (!PasswordSeatOk(family_, seat)) return kErrParam;
  return ChangePassword(Fields().Byte(seat).Byte(zone), pwdHex);
}

int At88sc::AT88SC102_ReadERROR(int seat, int zone, int* count) {
  if (!PasswordSeatOk(family_, seat)) return kErrParam;
  return ReadCounter(Fields().Byte(seat).Byte(zone).str(), count);
}

int At88sc::AT88SC102_ReadData(int seat, int address, int length, char* dataOut) {
  if (Low16(length) > kMaxRead) return kErrParam;
  return ReadMemory(memory::kCmdRead, Fields().Byte(seat).Address(address).Word(length).str(), length, dataOut);
}

int At88sc::AT88SC102_WriteData(int seat, int address, const char* dataHex) {
  return WriteMemory(seat, nullptr, address, dataHex);
}

// Address and length travel as one field each.
int At88sc::AT88SC102_ClearData(int seat, int address, int length) {
  const Fields data = Fields().Byte(seat).Byte(kActionErase).Byte(address).Byte(length);
  return Command(memory::kCmdEraseOrConditionalWrite, data.str(), kTimeoutMs, nullptr);
}

int At88sc::AT88SC102_CWriteData(int seat, int address, const char* dataHex) {
  if (!TextOk(dataHex)) return kErrParam;
  const Fields data =
      Fields().Byte(seat).Byte(kActionConditionalWrite).Byte(address).Byte(memory::ByteCount(dataHex)).Text(dataHex);
  return Command(memory::kCmdEraseOrConditionalWrite, data.str(), kTimeoutMs, nullptr);
}

int At88sc::AT88SC1608_VerifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex) {
  // Without password sets the selector travels in the zone field.
  if (!family_.at1608SelectAndSet) return AT88SC102_VerifyPwd(seat, pwdSelect, pwdHex);
  if (!TextOk(pwdHex)) return kErrParam;
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
  return MapStatusWord(reply.status);
}

int At88sc::AT88SC1608_ReadPwd(int seat, int pwdSelect, int pwdSet, char* pwdOut) {
  return ReadPwdData(Fields().Byte(seat).Byte(PasswordField(family_, pwdSelect, pwdSet)).str(), pwdOut);
}

int At88sc::AT88SC1608_ModifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex) {
  return ChangePassword(Fields().Byte(seat).Byte(PasswordField(family_, pwdSelect, pwdSet)), pwdHex);
}

int At88sc::AT88SC1608_ReadERROR(int seat, int pwdSelect, int pwdSet, int* count) {
  const int field = PasswordField(family_, pwdSelect, pwdSet);
  // Password number 16 has no counter byte for the caller: only the status
  // of the read counts, and count is left as it was.
  const bool deliver = !family_.at1608SelectAndSet || field != kLockedCounterNumber;
  return ReadCounter(Fields().Byte(seat).Byte(field).str(), count, deliver);
}

// Without zones the card's memory is addressed linearly.
int At88sc::AT88SC1608_ReadData(int seat, int zone, int address, int length, char* dataOut) {
  if (Low16(length) > kMaxRead) return kErrParam;
  Fields data = Fields().Byte(seat);
  if (family_.at1608SelectAndSet) data.Byte(zone);
  return ReadMemory(memory::kCmdRead, data.Address(address).Word(length).str(), length, dataOut);
}

int At88sc::AT88SC1608_WriteData(int seat, int zone, int address, const char* dataHex) {
  return WriteMemory(seat, family_.at1608SelectAndSet ? &zone : nullptr, address, dataHex);
}

// The authentication texts are the card's cryptograms, passed on as given.
int At88sc::AT88SC1608_InitAuthenticationCard(int seat, const char* authHex) {
  if (authHex == nullptr) return kErrParam;
  return Command(memory::kCmdInitAuthentication, Fields().Byte(seat).Text(authHex).str(), kTimeoutMs, nullptr);
}

int At88sc::AT88SC1608_AuthenticationCard(int seat, const char* authHex) {
  if (authHex == nullptr) return kErrParam;
  return Command(memory::kCmdAuthentication, Fields().Byte(seat).Text(authHex).str(), kTimeoutMs, nullptr);
}

int At88sc::AT88SC1608_ReadFuse(int seat, int* fuse) {
  if (fuse == nullptr) return kErrParam;
  Reply reply;
  const int r = Command(memory::kCmdReadFuse, Fields().Byte(seat).str(), kTimeoutMs, &reply, false);
  if (r != 0) return r;
  // Delivered like a counter: before the status word is judged.
  *fuse = memory::FirstByte(reply.data);
  return MapStatusWord(reply.status);
}

}  // namespace kp
