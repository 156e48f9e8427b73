#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/reader_t61.h"
#include "reader/results.h"

namespace kp {

// (placeholder: this technology is not built yet)

int CReaderT1::SLE4428_VerifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::SLE4428_ReadPwd(int /*seat*/, char* /*pwdOut*/) { return -20; }
int CReaderT1::SLE4428_ModifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::SLE4428_ReadERROR(int /*seat*/, int* /*count*/) { return kNotImplemented; }
int CReaderT1::SLE4428_ReadData(int /*seat*/, int /*mode*/, int /*address*/, int /*length*/, char* /*dataOut*/,
                                char* /*protectOut*/) {
  return kNotImplemented;
}
int CReaderT1::SLE4428_WriteData(int /*seat*/, int /*mode*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
int CReaderT1::SLE4442_VerifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::SLE4442_ReadPwd(int /*seat*/, char* /*pwdOut*/) { return -20; }
int CReaderT1::SLE4442_ModifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::SLE4442_ReadERROR(int /*seat*/, int* /*count*/) { return kNotImplemented; }
int CReaderT1::SLE4442_ReadDataForUser(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT1::SLE4442_WriteDataForUser(int /*seat*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
int CReaderT1::SLE4442_ReadDataForProtection(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT1::SLE4442_WriteDataForProtection(int /*seat*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}

int CReaderT0::SLE4428_VerifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::SLE4428_ReadPwd(int /*seat*/, char* /*pwdOut*/) { return kNotImplemented; }
int CReaderT0::SLE4428_ModifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::SLE4428_ReadERROR(int /*seat*/, int* /*count*/) { return kNotImplemented; }
int CReaderT0::SLE4428_ReadData(int /*seat*/, int /*mode*/, int /*address*/, int /*length*/, char* /*dataOut*/,
                                char* /*protectOut*/) {
  return kNotImplemented;
}
int CReaderT0::SLE4428_WriteData(int /*seat*/, int /*mode*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
int CReaderT0::SLE4442_VerifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::SLE4442_ReadPwd(int /*seat*/, char* /*pwdOut*/) { return kNotImplemented; }
int CReaderT0::SLE4442_ModifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::SLE4442_ReadERROR(int /*seat*/, int* /*count*/) { return kNotImplemented; }
int CReaderT0::SLE4442_ReadDataForUser(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT0::SLE4442_WriteDataForUser(int /*seat*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
int CReaderT0::SLE4442_ReadDataForProtection(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT0::SLE4442_WriteDataForProtection(int /*seat*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
}  // namespace kp
