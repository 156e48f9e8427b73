// CReader: the abstract reader.  The export layer reaches every device
// operation through one of these virtual operations; their order is fixed
// (the slot number in the comment), and every reader class implements all
// of them, answering with a constant where it does not support one.
#pragma once

#include <cstdint>

#include "serial/port_text.h"

namespace kp {

// Value blocks are addressed by sector and block in the interface and by
// one absolute block number on the device.  Any argument values are
// accepted: the arithmetic wraps as 32-bit two's complement (what callers
// of the original platform got), computed unsigned so it never overflows.
inline int AbsoluteBlock(int sector, int block) {
  const std::uint32_t wrapped = static_cast<std::uint32_t>(sector) * 4u + static_cast<std::uint32_t>(block);
  return static_cast<int>(wrapped);
}

class CReader {
 public:
  virtual ~CReader() = default;  // slot 0: closes the serial port, sends nothing

  /*   2 */ virtual int SelectModuleB() = 0;
  /*   3 */ virtual int SelectModuleI(int baudCode) = 0;
  /*   4 */ virtual int SelectModuleS(int baudCode) = 0;
  /*   5 */ virtual int ReadModuleReply() = 0;
  /*   6 */ virtual int OpenDevice(int deviceType, const PortSpec& target) = 0;
  /*   7 */ virtual int SetBaudRate(int baud) = 0;
  /*   8 */ virtual int SetDeviceModule(int module) = 0;
  /*   9 */ virtual int CloseDevice() = 0;
  /*  10 */ virtual int CheckIsOpen() = 0;
  /*  11 */ virtual int GetDeviceVersion(char* version) = 0;
  /*  13 */ virtual int IC_SoftReset(int mode) = 0;
  /*  14 */ virtual int IC_Voice(int on) = 0;
  /*  15 */ virtual int IC_GetStatus(int seat, int* state) = 0;
  /*  16 */ virtual int PrepareContactSwitch() = 0;
  /*  17 */ virtual int MapStatus(int status) = 0;
  /*  18 */ virtual int IC_SetBaudRate(int seat, int baud) = 0;
  /*  19 */ virtual int IC_PowerOn(int seat, int* atrLen, char* atr) = 0;
  /*  20 */ virtual int IC_PowerOff(int seat) = 0;
  /*  21 */ virtual int IC_ConnectlessActive(int* cardType, int* uidLen, char* uid, int* atsLen, char* ats) = 0;
  /*  22 */ virtual int IC_ConnectlessHalt() = 0;
  /*  23 */ virtual int IC_SendApdu(int seat, int reserved, const char* apdu, int apduLen, char* response) = 0;
  /*  24 */ virtual int IC_SetCardType(int seat, int cardType) = 0;
  /*  25 */ virtual int IC_GetCardType(int seat, int* cardType) = 0;
  /*  26 */ virtual int IC_InitializeKey(int seat, const char* keyHex) = 0;
  /*  27 */ virtual int IC_VerifyPwdEXAT1604(int seat, int selectorLow, int selectorHigh, const char* pwdHex) = 0;
  /*  28 */ virtual int IC_VerifyPwdEXAT1608(int seat, int zone, const char* pwdHex) = 0;
  /*  29 */ virtual int IC_VerifyPwd(int seat, const char* pwdHex) = 0;
  /*  30 */ virtual int IC_ReadStoreDataEXAT1608(int seat, int zone, int address, int length, char* dataOut) = 0;
  /*  31 */ virtual int IC_ReadStoreData(int seat, int address, int length, char* dataOut) = 0;
  /*  32 */ virtual int IC_WriteStoreDataEXAT1608(int seat, int zone, int address, const char* dataHex) = 0;
  /*  33 */ virtual int IC_WriteStoreData(int seat, int address, const char* dataHex) = 0;
  /*  34 */ virtual int IC_ConnectlessActiveStoreCard(int* cardType, int* uidLen, char* uid, int* atsLen,
                                                      char* ats) = 0;
  /*  35 */ virtual int IC_ConnectlessCertifySector(int sector, int keyType, const char* keyHex) = 0;
  /*  36 */ virtual int IC_ConnectlessReadBlock(int block, int* dataLen, char* dataOut) = 0;
  /*  37 */ virtual int IC_ConnectlessWriteBlock(int block, const char* dataHex) = 0;
  /*  38 */ virtual int IC_ConnectlessReadValueBlock(int block, float* value) = 0;
  /*  39 */ virtual int IC_ConnectlessWriteValueBlock(int block, float value) = 0;
  /*  42 */ virtual int IC_ConnectlessWriteKey(int sector, int keyType, const char* keyHex) = 0;
  /*  43 */ virtual int Magnetic_Reset() = 0;
  /*  44 */ virtual int Magnetic_Accept() = 0;
  /*  45 */ virtual int Magnetic_CancelAccept() = 0;
  /*  46 */ virtual int Magnetic_ReadTrack(char* track1, char* track2) = 0;
  /*  47 */ virtual int Magnetic_WaitForWriteFirstTrack(const char* track1) = 0;
  /*  48 */ virtual int Magnetic_WaitForWriteTrack(const char* track2) = 0;
  /*  49 */ virtual int Magnetic_WaitForWriteBothTracks(const char* track1, const char* track2) = 0;
  /*  50 */ virtual int Magnetic_ConfirmWriteTrack() = 0;
  /*  51 */ virtual int SLE4428_VerifyPwd(int seat, const char* pwdHex) = 0;
  /*  52 */ virtual int SLE4428_ReadPwd(int seat, char* pwdOut) = 0;
  /*  53 */ virtual int SLE4428_ModifyPwd(int seat, const char* pwdHex) = 0;
  /*  54 */ virtual int SLE4428_ReadERROR(int seat, int* count) = 0;
  /*  55 */ virtual int SLE4428_ReadData(int seat, int mode, int address, int length, char* dataOut,
                                         char* protectOut) = 0;
  /*  56 */ virtual int SLE4428_WriteData(int seat, int mode, int address, const char* dataHex) = 0;
  /*  57 */ virtual int SLE4442_VerifyPwd(int seat, const char* pwdHex) = 0;
  /*  58 */ virtual int SLE4442_ReadPwd(int seat, char* pwdOut) = 0;
  /*  59 */ virtual int SLE4442_ModifyPwd(int seat, const char* pwdHex) = 0;
  /*  60 */ virtual int SLE4442_ReadERROR(int seat, int* count) = 0;
  /*  61 */ virtual int SLE4442_ReadDataForUser(int seat, int address, int length, char* dataOut) = 0;
  /*  62 */ virtual int SLE4442_WriteDataForUser(int seat, int address, const char* dataHex) = 0;
  /*  63 */ virtual int SLE4442_ReadDataForProtection(int seat, int address, int length, char* dataOut) = 0;
  /*  64 */ virtual int SLE4442_WriteDataForProtection(int seat, int address, const char* dataHex) = 0;
  /*  65 */ virtual int AT24CXX_ReadData(int seat, int address, int length, char* dataOut) = 0;
  /*  66 */ virtual int AT24CXX_WriteData(int seat, int address, const char* dataHex) = 0;
  /*  67 */ virtual int AT88SC102_Fuse(int seat) = 0;
  /*  68 */ virtual int AT88SC102_VerifyPwd(int seat, int zone, const char* pwdHex) = 0;
  /*  69 */ virtual int AT88SC102_ReadPwd(int seat, int zone, char* pwdOut) = 0;
  /*  70 */ virtual int AT88SC102_ModifyPwd(int seat, int zone, const char* pwdHex) = 0;
  /*  71 */ virtual int AT88SC102_ReadERROR(int seat, int zone, int* count) = 0;
  /*  72 */ virtual int AT88SC102_ReadData(int seat, int address, int length, char* dataOut) = 0;
  /*  73 */ virtual int AT88SC102_WriteData(int seat, int address, const char* dataHex) = 0;
  /*  74 */ virtual int AT88SC102_ClearData(int seat, int address, int length) = 0;
  /*  75 */ virtual int AT88SC102_CWriteData(int seat, int address, const char* dataHex) = 0;
  /*  76 */ virtual int AT88SC1604_Fuse(int seat) = 0;
  /*  77 */ virtual int AT88SC1604_VerifyPwd(int seat, int zone, const char* pwdHex) = 0;
  /*  78 */ virtual int AT88SC1604_ReadPwd(int seat, int zone, char* pwdOut) = 0;
  /*  79 */ virtual int AT88SC1604_ModifyPwd(int seat, int zone, const char* pwdHex) = 0;
  /*  80 */ virtual int AT88SC1604_ReadERROR(int seat, int zone, int* count) = 0;
  /*  81 */ virtual int AT88SC1604_ReadData(int seat, int address, int length, char* dataOut) = 0;
  /*  82 */ virtual int AT88SC1604_WriteData(int seat, int address, const char* dataHex) = 0;
  /*  83 */ virtual int AT88SC1608_Fuse(int seat) = 0;
  /*  84 */ virtual int AT88SC1608_VerifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex) = 0;
  /*  85 */ virtual int AT88SC1608_ReadPwd(int seat, int pwdSelect, int pwdSet, char* pwdOut) = 0;
  /*  86 */ virtual int AT88SC1608_ModifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex) = 0;
  /*  87 */ virtual int AT88SC1608_ReadERROR(int seat, int pwdSelect, int pwdSet, int* count) = 0;
  /*  88 */ virtual int AT88SC1608_ReadData(int seat, int zone, int address, int length, char* dataOut) = 0;
  /*  89 */ virtual int AT88SC1608_WriteData(int seat, int zone, int address, const char* dataHex) = 0;
  /*  90 */ virtual int AT88SC1608_InitAuthenticationCard(int seat, const char* authHex) = 0;
  /*  91 */ virtual int AT88SC1608_AuthenticationCard(int seat, const char* authHex) = 0;
  /*  92 */ virtual int AT88SC1608_ReadFuse(int seat, int* fuse) = 0;
  /*  93 */ virtual int AT45DB041_ReadData(int seat, int page, int offset, int length, char* dataOut) = 0;
  /*  94 */ virtual int AT45DB041_WriteData(int seat, int page, int offset, const char* dataHex) = 0;
  /*  95 */ virtual int WaitForMagneticSwipe(unsigned int timeoutMs, char* result) = 0;
  /*  96 */ virtual int CancelSwipeWait() = 0;
  /*  97 */ virtual int ID_FindID() = 0;
  /*  98 */ virtual int ID_GetData(int field, char* out) = 0;
  /*  99 */ virtual int ID_Read(int timeLimitMs, char** fields) = 0;
  /* 100 */ virtual int Exchange(int command, const char* data, int length, char* response, int timeoutMs) = 0;

  // Device type of the last open (type 5 stored as 0), -1 before: it names
  // the module the open switched the reader to (1 the IC module, 2 the
  // magnetic head, 3 the S module; 0, 61 and 62 have no module switch).
  // KP_DEV_CheckIsOpen reports it as the "module".
  int openedType = -1;
};

// Increase or decrease of a value block as a read followed by a write of the
// new value; nothing is held in between, and no bound is checked.
int AdjustValueBlock(CReader& reader, int block, float amount, bool increase);

}  // namespace kp
