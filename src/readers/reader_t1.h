// CReaderT1: readers of device types 1, 2 and 5.  The open module decides
// what the reader serves: modules 0 and 1 the contact, contactless and
// memory cards, module 2 the magnetic stripe; other operations answer -20
// before any device traffic.
#pragma once

#include <atomic>
#include <cstdint>

#include "readers/reader_base.h"

namespace kp {

// One decoded answer of a card command.
using Reply = CReaderBase::Reply;

class CReaderT1 : public CReaderBase {
 public:
  // device
  int OpenDevice(int deviceType, const PortSpec& target) override;
  int SetBaudRate(int baud) override;
  int CloseDevice() override;
  int GetDeviceVersion(char* version) override;
  int IC_SoftReset(int mode) override;
  int PrepareContactSwitch() override;
  // contact
  int IC_GetStatus(int seat, int* state) override;
  int IC_SetBaudRate(int seat, int baud) override;
  int IC_PowerOn(int seat, int* atrLen, char* atr) override;
  int IC_PowerOff(int seat) override;
  int IC_SendApdu(int seat, int reserved, const char* apdu, int apduLen, char* response) override;
  int IC_SetCardType(int seat, int cardType) override;
  int IC_GetCardType(int seat, int* cardType) override;
  // store
  int IC_InitializeKey(int seat, const char* keyHex) override;
  int IC_VerifyPwdEXAT1604(int seat, int selectorLow, int selectorHigh, const char* pwdHex) override;
  int IC_VerifyPwdEXAT1608(int seat, int zone, const char* pwdHex) override;
  int IC_VerifyPwd(int seat, const char* pwdHex) override;
  int IC_ReadStoreDataEXAT1608(int seat, int zone, int address, int length, char* dataOut) override;
  int IC_ReadStoreData(int seat, int address, int length, char* dataOut) override;
  int IC_WriteStoreDataEXAT1608(int seat, int zone, int address, const char* dataHex) override;
  int IC_WriteStoreData(int seat, int address, const char* dataHex) override;
  // contactless
  int IC_ConnectlessActive(int* cardType, int* uidLen, char* uid, int* atsLen, char* ats) override;
  int IC_ConnectlessHalt() override;
  int IC_ConnectlessActiveStoreCard(int* cardType, int* uidLen, char* uid, int* atsLen, char* ats) override;
  int IC_ConnectlessCertifySector(int sector, int keyType, const char* keyHex) override;
  int IC_ConnectlessReadBlock(int block, int* dataLen, char* dataOut) override;
  int IC_ConnectlessWriteBlock(int block, const char* dataHex) override;
  int IC_ConnectlessReadValueBlock(int block, float* value) override;
  int IC_ConnectlessWriteValueBlock(int block, float value) override;
  int IC_ConnectlessWriteKey(int sector, int keyType, const char* keyHex) override;
  // magnetic
  int Magnetic_Reset() override;
  int Magnetic_Accept() override;
  int Magnetic_CancelAccept() override;
  int Magnetic_ReadTrack(char* track1, char* track2) override;
  int Magnetic_WaitForWriteFirstTrack(const char* track1) override;
  int Magnetic_WaitForWriteTrack(const char* track2) override;
  int Magnetic_WaitForWriteBothTracks(const char* track1, const char* track2) override;
  int Magnetic_ConfirmWriteTrack() override;
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

 protected:
  // Module checks; CReaderT61 has none and overrides both to true.
  virtual bool CardModuleOk() const { return openedType == 0 || openedType == 1; }
  virtual bool MagneticModuleOk() const { return openedType == 2; }

  // Set by CancelSwipeWait, possibly from another thread, read by
  // WaitForMagneticSwipe.
  std::atomic<std::uint8_t> readAllCancel_{0};
  std::uint32_t magArmTick_ = 0;  // tick of the last arming of the head
  int magConfirmLength_ = 0;      // length of the expected write confirmation

 private:
  // Memory-card reads: a data read appended to dataOut, a counter stored
  // at count (also when the device reports an error).
  int ReadMemory(int command, const std::string& dataHex, int length, char* dataOut);
  int ReadCounter(const std::string& dataHex, int* count);
};

}  // namespace kp
