#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/reader_t61.h"
#include "reader/results.h"

namespace kp {

// (placeholder: this technology is not built yet)

int CReaderT1::IC_ConnectlessActive(int* /*cardType*/, int* /*uidLen*/, char* /*uid*/, int* /*atsLen*/, char* /*ats*/) {
  return kNotImplemented;
}
int CReaderT1::IC_ConnectlessHalt() { return kNotImplemented; }
int CReaderT1::IC_ConnectlessActiveStoreCard(int* /*cardType*/, int* /*uidLen*/, char* /*uid*/, int* /*atsLen*/,
                                             char* /*ats*/) {
  return kNotImplemented;
}
int CReaderT1::IC_ConnectlessCertifySector(int /*sector*/, int /*keyType*/, const char* /*keyHex*/) {
  return kNotImplemented;
}
int CReaderT1::IC_ConnectlessReadBlock(int /*block*/, int* /*dataLen*/, char* /*dataOut*/) { return kNotImplemented; }
int CReaderT1::IC_ConnectlessWriteBlock(int /*block*/, const char* /*dataHex*/) { return kNotImplemented; }
int CReaderT1::IC_ConnectlessReadValueBlock(int /*block*/, float* /*value*/) { return kNotImplemented; }
int CReaderT1::IC_ConnectlessWriteValueBlock(int /*block*/, float /*value*/) { return kNotImplemented; }
int CReaderT1::IC_ConnectlessIncreaseValue(int /*block*/, float /*amount*/) { return kNotImplemented; }
int CReaderT1::IC_ConnectlessDecreaseValue(int /*block*/, float /*amount*/) { return kNotImplemented; }
int CReaderT1::IC_ConnectlessWriteKey(int /*sector*/, int /*keyType*/, const char* /*keyHex*/) {
  return kNotImplemented;
}

int CReaderT0::IC_ConnectlessActive(int* /*cardType*/, int* /*uidLen*/, char* /*uid*/, int* /*atsLen*/, char* /*ats*/) {
  return kNotImplemented;
}
int CReaderT0::IC_ConnectlessHalt() { return kNotImplemented; }
int CReaderT0::IC_ConnectlessActiveStoreCard(int* /*cardType*/, int* /*uidLen*/, char* /*uid*/, int* /*atsLen*/,
                                             char* /*ats*/) {
  return kNotImplemented;
}
int CReaderT0::IC_ConnectlessCertifySector(int /*sector*/, int /*keyType*/, const char* /*keyHex*/) {
  return kNotImplemented;
}
int CReaderT0::IC_ConnectlessReadBlock(int /*block*/, int* /*dataLen*/, char* /*dataOut*/) { return kNotImplemented; }
int CReaderT0::IC_ConnectlessWriteBlock(int /*block*/, const char* /*dataHex*/) { return kNotImplemented; }
int CReaderT0::IC_ConnectlessReadValueBlock(int /*block*/, float* /*value*/) { return kNotImplemented; }
int CReaderT0::IC_ConnectlessWriteValueBlock(int /*block*/, float /*value*/) { return kNotImplemented; }
int CReaderT0::IC_ConnectlessIncreaseValue(int /*block*/, float /*amount*/) { return kNotImplemented; }
int CReaderT0::IC_ConnectlessDecreaseValue(int /*block*/, float /*amount*/) { return kNotImplemented; }
int CReaderT0::IC_ConnectlessWriteKey(int /*sector*/, int /*keyType*/, const char* /*keyHex*/) {
  return kNotImplemented;
}
}  // namespace kp
