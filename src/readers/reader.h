// CReader: one reader on one serial port.  Every device operation is written
// once; where the reader families differ, the operation consults the
// family it was made for (readers/family.h, where the differences stand
// side by side).  The operations live in one file per technology.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/convert.h"
#include "readers/family.h"
#include "serial/port_text.h"
#include "serial/serial_port.h"

namespace kp {

// Work buffers of command and response texts.
constexpr std::size_t kTextBuffer = 2080;
// Longest command data text: frame text and its NUL must fit kTextBuffer.
constexpr int kMaxDataChars = 2066;
// Restarts of an exchange whose answer does not begin with STX.
constexpr int kMaxNonStxRestarts = 3;
constexpr int kDefaultTimeoutMs = 800;

// Baud code of the device commands and escape sequences:
// 19200 → 1, 38400 → 2, 57600 → 3, 115200 → 4, anything else → 0.
int BaudCode(int baud);
// Device status word → result code (0, -305 … -328, or -9).
int MapStatusWord(int status);
// What is left of timeoutMs since the tick `start` (0 once it has passed).
int RemainingMs(std::uint32_t start, int timeoutMs);

// Value blocks are addressed by sector and block in the interface and by
// one absolute block number on the device.  Any argument values are
// accepted: the arithmetic wraps as 32-bit two's complement (what callers
// of the original platform got), computed unsigned so it never overflows.
inline int AbsoluteBlock(int sector, int block) {
  const std::uint32_t wrapped = static_cast<std::uint32_t>(sector) * 4u + static_cast<std::uint32_t>(block);
  return static_cast<int>(wrapped);
}

namespace memory {
class Fields;
}

class CReader {
 public:
  explicit CReader(const ReaderFamily& family) : family_(family) {}
  ~CReader() = default;  // closes the serial port, sends nothing
  CReader(const CReader&) = delete;
  CReader& operator=(const CReader&) = delete;

  const ReaderFamily& family() const { return family_; }

  // ---- device (device.cpp)
  int OpenDevice(int deviceType, const PortSpec& target);
  int CloseDevice();
  int SetBaudRate(int baud);
  int SetDeviceModule(int module);
  int CheckIsOpen() const { return openedType; }
  int GetDeviceVersion(char* version);
  int IC_SoftReset(int mode);
  int IC_Voice(int on);
  // Command 0xC003, which prepares the contact switch and ends a halt.
  int PrepareContactSwitch();
  int SelectModuleB();
  int SelectModuleI(int baudCode);
  int SelectModuleS(int baudCode);
  int ReadModuleReply();

  // ---- contact CPU cards (contact.cpp)
  int IC_GetStatus(int seat, int* state);
  int IC_SetBaudRate(int seat, int baud);
  int IC_PowerOn(int seat, int* atrLen, char* atr);
  int IC_PowerOff(int seat);
  int IC_SendApdu(int seat, int reserved, const char* apdu, int apduLen, char* response);
  int IC_SetCardType(int seat, int cardType);
  int IC_GetCardType(int seat, int* cardType);

  // ---- store cards in a contact seat (store_card.cpp)
  int IC_InitializeKey(int seat, const char* keyHex);
  int IC_VerifyPwdEXAT1604(int seat, int selectorLow, int selectorHigh, const char* pwdHex);
  int IC_VerifyPwdEXAT1608(int seat, int zone, const char* pwdHex);
  int IC_VerifyPwd(int seat, const char* pwdHex);
  int IC_ReadStoreDataEXAT1608(int seat, int zone, int address, int length, char* dataOut);
  int IC_ReadStoreData(int seat, int address, int length, char* dataOut);
  int IC_WriteStoreDataEXAT1608(int seat, int zone, int address, const char* dataHex);
  int IC_WriteStoreData(int seat, int address, const char* dataHex);

  // ---- contactless cards (contactless.cpp)
  int IC_ConnectlessActive(int* cardType, int* uidLen, char* uid, int* atsLen, char* ats);
  int IC_ConnectlessHalt();
  int IC_ConnectlessActiveStoreCard(int* cardType, int* uidLen, char* uid, int* atsLen, char* ats);
  int IC_ConnectlessCertifySector(int sector, int keyType, const char* keyHex);
  int IC_ConnectlessReadBlock(int block, int* dataLen, char* dataOut);
  int IC_ConnectlessWriteBlock(int block, const char* dataHex);
  int IC_ConnectlessReadValueBlock(int block, float* value);
  int IC_ConnectlessWriteValueBlock(int block, float value);
  int IC_ConnectlessWriteKey(int sector, int keyType, const char* keyHex);

  // ---- magnetic head (magnetic.cpp)
  int Magnetic_Reset();
  int Magnetic_Accept();
  int Magnetic_CancelAccept();
  int Magnetic_ReadTrack(char* track1, char* track2);
  int Magnetic_WaitForWriteFirstTrack(const char* track1);
  int Magnetic_WaitForWriteTrack(const char* track2);
  int Magnetic_WaitForWriteBothTracks(const char* track1, const char* track2);
  int Magnetic_ConfirmWriteTrack();

  // ---- SLE4428 and SLE4442 (sle44x8.cpp)
  int SLE4428_VerifyPwd(int seat, const char* pwdHex);
  int SLE4428_ReadPwd(int seat, char* pwdOut);
  int SLE4428_ModifyPwd(int seat, const char* pwdHex);
  int SLE4428_ReadERROR(int seat, int* count);
  int SLE4428_ReadData(int seat, int mode, int address, int length, char* dataOut, char* protectOut);
  int SLE4428_WriteData(int seat, int mode, int address, const char* dataHex);
  int SLE4442_VerifyPwd(int seat, const char* pwdHex) { return SLE4428_VerifyPwd(seat, pwdHex); }
  int SLE4442_ReadPwd(int seat, char* pwdOut) { return SLE4428_ReadPwd(seat, pwdOut); }
  int SLE4442_ModifyPwd(int seat, const char* pwdHex) { return SLE4428_ModifyPwd(seat, pwdHex); }
  int SLE4442_ReadERROR(int seat, int* count) { return SLE4428_ReadERROR(seat, count); }
  int SLE4442_ReadDataForUser(int seat, int address, int length, char* dataOut);
  int SLE4442_WriteDataForUser(int seat, int address, const char* dataHex);
  int SLE4442_ReadDataForProtection(int seat, int address, int length, char* dataOut);
  int SLE4442_WriteDataForProtection(int seat, int address, const char* dataHex);

  // ---- AT88SC102, AT88SC1604, AT88SC1608 (at88sc.cpp).  The AT88SC102 and
  // AT88SC1604 commands carry no chip identifier: the two chips share them.
  int AT88SC102_Fuse(int seat);
  int AT88SC102_VerifyPwd(int seat, int zone, const char* pwdHex);
  int AT88SC102_ReadPwd(int seat, int zone, char* pwdOut);
  int AT88SC102_ModifyPwd(int seat, int zone, const char* pwdHex);
  int AT88SC102_ReadERROR(int seat, int zone, int* count);
  int AT88SC102_ReadData(int seat, int address, int length, char* dataOut);
  int AT88SC102_WriteData(int seat, int address, const char* dataHex);
  int AT88SC102_ClearData(int seat, int address, int length);
  int AT88SC102_CWriteData(int seat, int address, const char* dataHex);
  int AT88SC1604_Fuse(int seat) { return AT88SC102_Fuse(seat); }
  int AT88SC1604_VerifyPwd(int seat, int zone, const char* p) { return AT88SC102_VerifyPwd(seat, zone, p); }
  int AT88SC1604_ReadPwd(int seat, int zone, char* out) { return AT88SC102_ReadPwd(seat, zone, out); }
  int AT88SC1604_ModifyPwd(int seat, int zone, const char* p) { return AT88SC102_ModifyPwd(seat, zone, p); }
  int AT88SC1604_ReadERROR(int seat, int zone, int* count) { return AT88SC102_ReadERROR(seat, zone, count); }
  int AT88SC1604_ReadData(int seat, int a, int n, char* out) { return AT88SC102_ReadData(seat, a, n, out); }
  int AT88SC1604_WriteData(int seat, int a, const char* d) { return AT88SC102_WriteData(seat, a, d); }
  int AT88SC1608_Fuse(int seat) { return AT88SC102_Fuse(seat); }
  int AT88SC1608_VerifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex);
  int AT88SC1608_ReadPwd(int seat, int pwdSelect, int pwdSet, char* pwdOut);
  int AT88SC1608_ModifyPwd(int seat, int pwdSelect, int pwdSet, const char* pwdHex);
  int AT88SC1608_ReadERROR(int seat, int pwdSelect, int pwdSet, int* count);
  int AT88SC1608_ReadData(int seat, int zone, int address, int length, char* dataOut);
  int AT88SC1608_WriteData(int seat, int zone, int address, const char* dataHex);
  int AT88SC1608_InitAuthenticationCard(int seat, const char* authHex);
  int AT88SC1608_AuthenticationCard(int seat, const char* authHex);
  int AT88SC1608_ReadFuse(int seat, int* fuse);

  // ---- AT24Cxx and AT45DB041 (at24_at45.cpp)
  int AT24CXX_ReadData(int seat, int address, int length, char* dataOut);
  int AT24CXX_WriteData(int seat, int address, const char* dataHex);
  int AT45DB041_ReadData(int seat, int page, int offset, int length, char* dataOut);
  int AT45DB041_WriteData(int seat, int page, int offset, const char* dataHex);

  // ---- identity-card module (idcard/id_module.cpp)
  int ID_FindID();
  int ID_GetData(int field, char* out);
  int ID_Read(int timeLimitMs, char** fields);

  // ---- the frame exchange (reader.cpp)
  // One command frame and its answer; response receives the body text and
  // has kTextBuffer bytes of room.
  int Exchange(int command, const char* data, int length, char* response, int timeoutMs);

  // One decoded answer of the command pattern.
  struct Reply {
    int status = 0;  // device status word
    Bytes data;      // body bytes after the status word
  };

  // The command pattern shared by nearly every device operation: exchange
  // the command, decode the answer, map its status word.  Returns the
  // exchange's failure, else (when mapStatus) the mapped status word; the
  // reply is filled whenever the exchange itself succeeded.
  int Command(int command, const std::string& dataHex, int timeoutMs, Reply* reply, bool mapStatus = true);

  CSerialPort& serialPort() { return port_; }
  int portNumber() const { return portNumber_; }
  int baudRate() const { return baudRate_; }

  // Device type of the last open (type 5 stored as 0 where the family says
  // so), -1 before: it names the module the open switched the reader to
  // (1 the IC module, 2 the magnetic head, 3 the S module; 0, 61 and 62
  // have no module switch).  KP_DEV_CheckIsOpen reports it as the "module".
  int openedType = -1;

 protected:
  // 0 when this reader, as opened, serves tech and knows feature; else -20.
  int Gate(Tech tech, unsigned feature = kNoFeature) const;

  // Exchange with an explicit response room.  An answer that announces more
  // body than room - 1 characters is refused with -8 and the input is
  // discarded.
  int ExchangeInto(int command, const char* data, int length, char* response, std::size_t room, int timeoutMs);
  // Reads and drops count bytes, giving up at the first read that times
  // out; true when all came.
  bool DiscardInput(std::size_t count, int timeoutMs);
  // The answer being read broke off or was garbled: the line is out of step
  // until it has been quiet.  Returns result.
  int Broken(int result);
  // Writes raw bytes, then reads the module reply.
  int SendEscape(const std::uint8_t* bytes, std::uint16_t length);

  // Device-level helpers.
  int ReadRawVersion(char* version);
  // Magnetic helpers: the arming read poll of the heads armed by every read.
  int ReadTrackArming(char* track1, char* track2);

  // Memory-card helpers (memory_common.cpp): a data read appended to
  // dataOut; a counter stored at count (when deliver, also on an error
  // status); a password read back into pwdOut; a password change; a plain
  // write; the text check of the family.
  int ReadMemory(int command, const std::string& dataHex, int length, char* dataOut);
  int ReadCounter(const std::string& dataHex, int* count, bool deliver = true);
  int ReadPwdData(const std::string& dataHex, char* pwdOut);
  int ChangePassword(memory::Fields head, const char* pwdHex);
  int WriteMemory(int seat, const int* zone, int address, const char* dataHex);
  bool TextOk(const char* text) const;

  // Identity-card module frames: sends a command and reads the answer's
  // 7-byte header and the body it announces, into an answer buffer of room
  // bytes.  0 or a serial error; -3 for a body that would not fit.
  // *answerLength is 7 plus the body bytes received, also after a failed
  // body read.
  int ExchangeRaw(const std::uint8_t* command, std::size_t length, std::uint8_t* answer, std::size_t room,
                  std::uint16_t* answerLength, int timeLimitMs);
  // Turns the card's raw photo into the bitmap file photoPath_ names, with
  // the photo decoder found next to this library.  0 or -1.
  int DecodePhoto(const std::uint8_t* photo, std::uint32_t length);

  const ReaderFamily& family_;
  CSerialPort port_;
  int portNumber_ = 0;
  int baudRate_ = 0;

  // Magnetic head.
  std::uint32_t magArmTick_ = 0;  // tick of the last arming of the head
  int magConfirmLength_ = 0;      // length of the expected write confirmation

  // Answers to reset of the family's cached seats, as hex text.
  std::uint8_t atrCached_[kMaxCachedAtrSeats] = {};
  char atrCache_[kMaxCachedAtrSeats][128] = {};

  // Path of the bitmap of the last identity card read.
  char photoPath_[260] = {};
};

// Increase or decrease of a value block as a read followed by a write of the
// new value; nothing is held in between, and no bound is checked.
int AdjustValueBlock(CReader& reader, int block, float amount, bool increase);

}  // namespace kp
