// SLE4428 and SLE4442 memory cards: password check, read-back and change,
// error counter, main memory and (SLE4442) protection memory.  The commands
// carry no chip identifier, so the password and counter operations of the
// two chips run the same code.  The password read-back is a feature a
// family may refuse (kPasswordReadBack, named by the export).
#pragma once

#include "readers/memory_common.h"

namespace kp {

class Sle44x8 : public memory::MemoryModule {
 public:
  using MemoryModule::MemoryModule;

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
};

}  // namespace kp
