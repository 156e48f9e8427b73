#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/reader_t61.h"
#include "reader/results.h"

namespace kp {

// (placeholder: this technology is not built yet)

int CReaderT1::IC_InitializeKey(int /*seat*/, const char* /*keyHex*/) { return kNotImplemented; }
int CReaderT1::IC_VerifyPwdEXAT1604(int /*seat*/, int /*selectorLow*/, int /*selectorHigh*/, const char* /*pwdHex*/) {
  return kNotImplemented;
}
int CReaderT1::IC_VerifyPwdEXAT1608(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::IC_VerifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT1::IC_ReadStoreDataEXAT1608(int /*seat*/, int /*zone*/, int /*address*/, int /*length*/,
                                        char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT1::IC_ReadStoreData(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT1::IC_WriteStoreDataEXAT1608(int /*seat*/, int /*zone*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
int CReaderT1::IC_WriteStoreData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kNotImplemented; }

int CReaderT0::IC_InitializeKey(int /*seat*/, const char* /*keyHex*/) { return kNotImplemented; }
int CReaderT0::IC_VerifyPwdEXAT1604(int /*seat*/, int /*selectorLow*/, int /*selectorHigh*/, const char* /*pwdHex*/) {
  return kNotImplemented;
}
int CReaderT0::IC_VerifyPwdEXAT1608(int /*seat*/, int /*zone*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::IC_VerifyPwd(int /*seat*/, const char* /*pwdHex*/) { return kNotImplemented; }
int CReaderT0::IC_ReadStoreDataEXAT1608(int /*seat*/, int /*zone*/, int /*address*/, int /*length*/,
                                        char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT0::IC_ReadStoreData(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT0::IC_WriteStoreDataEXAT1608(int /*seat*/, int /*zone*/, int /*address*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
int CReaderT0::IC_WriteStoreData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kNotImplemented; }
}  // namespace kp
