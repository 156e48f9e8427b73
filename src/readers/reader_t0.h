// CReaderT0: readers of device type 0.  The card operations it shares with
// the type-1 family are inherited; what differs is overridden here: no
// module checks, no magnetic head (every magnetic operation answers -20),
// answers to reset of seats 16 to 30 cached, a longer card-type timeout, its
// own memory-card commands (texts checked to be upper-case hexadecimal),
// and the identity-card module reached through raw frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "readers/reader_t1.h"

namespace kp {

class CReaderT0 : public CReaderT1 {
 public:
  // device
  int OpenDevice(int deviceType, const PortSpec& target) override;
  int SetBaudRate(int baud) override;
  int GetDeviceVersion(char* version) override;
  int IC_SoftReset(int mode) override;
  // contact
  int IC_PowerOn(int seat, int* atrLen, char* atr) override;
  int IC_PowerOff(int seat) override;
  int IC_SendApdu(int seat, int reserved, const char* apdu, int apduLen, char* response) override;
  int IC_GetCardType(int seat, int* cardType) override;
  // sle44x8
  int SLE4428_VerifyPwd(int seat, const char* pwdHex) override;
  int SLE4428_ReadPwd(int seat, char* pwdOut) override;
  int SLE4428_ModifyPwd(int seat, const char* pwdHex) override;
  int SLE4428_ReadERROR(int seat, int* count) override;
  int SLE4428_ReadData(int seat, int mode, int address, int length, char* dataOut, char* protectOut) override;
  int SLE4428_WriteData(int seat, int mode, int address, const char* dataHex) override;
  int SLE4442_VerifyPwd(int seat, const char* pwdHex) override;
  int SLE4442_ReadPwd(int seat, char* pwdOut) override;
  int SLE4442_ModifyPwd(int seat, const char* pwdHex) override;
  int SLE4442_ReadERROR(int seat, int* count) override;
  int SLE4442_ReadDataForUser(int seat, int address, int length, char* dataOut) override;
  int SLE4442_WriteDataForUser(int seat, int address, const char* dataHex) override;
  int SLE4442_ReadDataForProtection(int seat, int address, int length, char* dataOut) override;
  int SLE4442_WriteDataForProtection(int seat, int address, const char* dataHex) override;
  // at88sc
  int AT88SC102_Fuse(int seat) override;
  int AT88SC102_VerifyPwd(int seat, int zone, const char* pwdHex) override;
  int AT88SC102_ReadPwd(int seat, int zone, char* pwdOut) override;
  int AT88SC102_ModifyPwd(int seat, int zone, const char* pwdHex) override;
  int AT88SC102_ReadERROR(int seat, int zone, int* count) override;
  int AT88SC102_ReadData(int seat, int address, int length, char* dataOut) override;
  int AT88SC102_WriteData(int seat, int address, const char* dataHex) override;
  int AT88SC102_ClearData(int seat, int address, int length) override;
  int AT88SC102_CWriteData(int seat, int address, const char* dataHex) override;
  int AT88SC1604_Fuse(int seat) override;
  int AT88SC1604_VerifyPwd(int seat, int zone, const char* pwdHex) override;
  int AT88SC1604_ReadPwd(int seat, int zone, char* pwdOut) override;
  int AT88SC1604_ModifyPwd(int seat, int zone, const char* pwdHex) override;
  int AT88SC1604_ReadERROR(int seat, int zone, int* count) override;
  int AT88SC1604_ReadData(int seat, int address, int length, char* dataOut) override;
  int AT88SC1604_WriteData(int seat, int address, const char* dataHex) override;
  int AT88SC1608_Fuse(int seat) override;
  int AT88SC1608_VerifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex) override;
  int AT88SC1608_ReadPwd(int seat, int pwdSelect, int pwdSet, char* pwdOut) override;
  int AT88SC1608_ModifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex) override;
  int AT88SC1608_ReadERROR(int seat, int pwdSelect, int pwdSet, int* count) override;
  int AT88SC1608_ReadData(int seat, int zone, int address, int length, char* dataOut) override;
  int AT88SC1608_WriteData(int seat, int zone, int address, const char* dataHex) override;
  int AT88SC1608_InitAuthenticationCard(int seat, const char* authHex) override;
  int AT88SC1608_AuthenticationCard(int seat, const char* authHex) override;
  int AT88SC1608_ReadFuse(int seat, int* fuse) override;
  // at24_at45
  int AT24CXX_ReadData(int seat, int address, int length, char* dataOut) override;
  int AT24CXX_WriteData(int seat, int address, const char* dataHex) override;
  int AT45DB041_ReadData(int seat, int page, int offset, int length, char* dataOut) override;
  int AT45DB041_WriteData(int seat, int page, int offset, const char* dataHex) override;
  // read_all
  int WaitForMagneticSwipe(unsigned int timeoutMs, char* result) override;
  int CancelSwipeWait() override;
  // id_module
  int ID_FindID() override;
  int ID_GetData(int field, char* out) override;
  int ID_Read(int timeLimitMs, char** fields) override;

  // The identity-card module's own frames: sends a command and reads the
  // answer's 7-byte header and the body it announces, into an answer buffer
  // of room bytes.  0 or a serial error; -3 for a body that would not fit.
  // *answerLength is 7 plus the body bytes received, also after a failed
  // body read.
  int ExchangeRaw(const std::uint8_t* command, std::size_t length, std::uint8_t* answer, std::size_t room,
                  std::uint16_t* answerLength, int timeLimitMs);
  // Turns the card's raw photo into the bitmap file photoPath_ names, with
  // the photo decoder found next to this library.  0 or -1.
  int DecodePhoto(const std::uint8_t* photo, std::uint32_t length);
  const char* photoPath() const { return photoPath_; }

 protected:
  bool CardModuleOk() const override { return true; }
  bool MagneticModuleOk() const override { return false; }

  static constexpr int kCachedSeatFirst = 16;
  static constexpr int kCachedSeatLast = 30;
  std::uint8_t atrCached_[15] = {};
  char atrCache_[15][128] = {};
  char photoPath_[260] = {};

 private:
  // Memory-card helpers: a data read appended to dataOut, a counter stored
  // at count (when deliver is set, also on an error status), a password
  // read back into pwdOut, and the plain write with its text check.
  int ReadMemory(int command, const std::string& dataHex, int length, char* dataOut);
  int ReadCounter(const std::string& dataHex, int* count, bool deliver = true);
  int ReadPwdData(const std::string& dataHex, char* pwdOut);
  int WriteMemory(int seat, int address, const char* dataHex);
};

}  // namespace kp
