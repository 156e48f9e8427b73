// AT88SC102, AT88SC1604 and AT88SC1608 memory cards: fuse, zone passwords
// and their error counters, memory reads and writes, the AT88SC102 erase /
// conditional write and the AT88SC1608 authentication and fuse read.  The
// AT88SC102 and AT88SC1604 commands carry no chip identifier: the two chips
// share them.  The password read-back, the erase and the AT88SC1608 extras
// are features a family may refuse (named by the export).
#pragma once

#include "readers/memory_common.h"

namespace kp {

class At88sc : public memory::MemoryModule {
 public:
  using MemoryModule::MemoryModule;

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
};

}  // namespace kp
