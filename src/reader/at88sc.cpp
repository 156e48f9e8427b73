#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/reader_t61.h"
#include "reader/results.h"

namespace kp {

// (placeholder: this technology is not built yet)

int CReaderT1::AT88SC102_Fuse(int /*seat*/) { return kNotImplemented; }
int CReaderT1::AT88SC102_VerifyPwd(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::AT88SC102_ReadPwd(int /*seat*/, int /*zone*/, char* /*pwdOut*/) { return -20; }
int CReaderT1::AT88SC102_ModifyPwd(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::AT88SC102_ReadERROR(int /*seat*/, int /*zone*/, int* /*count*/) { return kNotImplemented; }
int CReaderT1::AT88SC102_ReadData(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT1::AT88SC102_WriteData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kNotImplemented; }
int CReaderT1::AT88SC102_ClearData(int /*seat*/, int /*address*/, int /*length*/) { return -20; }
int CReaderT1::AT88SC102_CWriteData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return -20; }
int CReaderT1::AT88SC1604_Fuse(int /*seat*/) { return kNotImplemented; }
int CReaderT1::AT88SC1604_VerifyPwd(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::AT88SC1604_ReadPwd(int /*seat*/, int /*zone*/, char* /*pwdOut*/) { return -20; }
int CReaderT1::AT88SC1604_ModifyPwd(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::AT88SC1604_ReadERROR(int /*seat*/, int /*zone*/, int* /*count*/) { return kNotImplemented; }
int CReaderT1::AT88SC1604_ReadData(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT1::AT88SC1604_WriteData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kNotImplemented; }
int CReaderT1::AT88SC1608_Fuse(int /*seat*/) { return kNotImplemented; }
int CReaderT1::AT88SC1608_VerifyPwd(int /*seat*/, int /*pwdSelect*/, int /*pwdSet*/, const char* /*pwdHex*/) {
  return kNotImplemented;
}
int CReaderT1::AT88SC1608_ReadPwd(int /*seat*/, int /*pwdSelect*/, int /*pwdSet*/, char* /*pwdOut*/) { return -20; }
int CReaderT1::AT88SC1608_ModifyPwd(int /*seat*/, int /*pwdSelect*/, int /*pwdSet*/, const char* /*pwdHex*/) {
  return kNotImplemented;
}
int CReaderT1::AT88SC1608_ReadERROR(int /*seat*/, int /*pwdSelect*/, int /*pwdSet*/, int* /*count*/) {
  return kNotImplemented;
}
int CReaderT1::AT88SC1608_ReadData(int /*seat*/, int /*zone*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT1::AT88SC1608_WriteData(int /*seat*/, int /*zone*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
int CReaderT1::AT88SC1608_InitAuthenticationCard(int /*seat*/, const char* /*authHex*/) { return -20; }
int CReaderT1::AT88SC1608_AuthenticationCard(int /*seat*/, const char* /*authHex*/) { return -20; }
int CReaderT1::AT88SC1608_ReadFuse(int /*seat*/, int* /*fuse*/) { return -20; }

int CReaderT0::AT88SC102_Fuse(int /*seat*/) { return kNotImplemented; }
int CReaderT0::AT88SC102_VerifyPwd(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::AT88SC102_ReadPwd(int /*seat*/, int /*zone*/, char* /*pwdOut*/) { return kNotImplemented; }
int CReaderT0::AT88SC102_ModifyPwd(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::AT88SC102_ReadERROR(int /*seat*/, int /*zone*/, int* /*count*/) { return kNotImplemented; }
int CReaderT0::AT88SC102_ReadData(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT0::AT88SC102_WriteData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kNotImplemented; }
int CReaderT0::AT88SC102_ClearData(int /*seat*/, int /*address*/, int /*length*/) { return kNotImplemented; }
int CReaderT0::AT88SC102_CWriteData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kNotImplemented; }
int CReaderT0::AT88SC1604_Fuse(int /*seat*/) { return kNotImplemented; }
int CReaderT0::AT88SC1604_VerifyPwd(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::AT88SC1604_ReadPwd(int /*seat*/, int /*zone*/, char* /*pwdOut*/) { return kNotImplemented; }
int CReaderT0::AT88SC1604_ModifyPwd(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::AT88SC1604_ReadERROR(int /*seat*/, int /*zone*/, int* /*count*/) { return kNotImplemented; }
int CReaderT0::AT88SC1604_ReadData(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT0::AT88SC1604_WriteData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kNotImplemented; }
int CReaderT0::AT88SC1608_Fuse(int /*seat*/) { return kNotImplemented; }
int CReaderT0::AT88SC1608_VerifyPwd(int /*seat*/, int /*pwdSelect*/, int /*pwdSet*/, const char* /*pwdHex*/) {
  return kNotImplemented;
}
int CReaderT0::AT88SC1608_ReadPwd(int /*seat*/, int /*pwdSelect*/, int /*pwdSet*/, char* /*pwdOut*/) {
  return kNotImplemented;
}
int CReaderT0::AT88SC1608_ModifyPwd(int /*seat*/, int /*pwdSelect*/, int /*pwdSet*/, const char* /*pwdHex*/) {
  return kNotImplemented;
}
int CReaderT0::AT88SC1608_ReadERROR(int /*seat*/, int /*pwdSelect*/, int /*pwdSet*/, int* /*count*/) {
  return kNotImplemented;
}
int CReaderT0::AT88SC1608_ReadData(int /*seat*/, int /*zone*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT0::AT88SC1608_WriteData(int /*seat*/, int /*zone*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
int CReaderT0::AT88SC1608_InitAuthenticationCard(int /*seat*/, const char* /*authHex*/) { return kNotImplemented; }
int CReaderT0::AT88SC1608_AuthenticationCard(int /*seat*/, const char* /*authHex*/) { return kNotImplemented; }
int CReaderT0::AT88SC1608_ReadFuse(int /*seat*/, int* /*fuse*/) { return kNotImplemented; }
}  // namespace kp
