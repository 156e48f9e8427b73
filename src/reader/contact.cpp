#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/reader_t61.h"
#include "reader/results.h"

namespace kp {

// (placeholder: this technology is not built yet)

int CReaderT1::IC_GetStatus(int /*seat*/, int* /*state*/) { return kNotImplemented; }
int CReaderT1::IC_SetBaudRate(int /*seat*/, int /*baud*/) { return kNotImplemented; }
int CReaderT1::IC_PowerOn(int /*seat*/, int* /*atrLen*/, char* /*atr*/) { return kNotImplemented; }
int CReaderT1::IC_PowerOff(int /*seat*/) { return kNotImplemented; }
int CReaderT1::IC_SendApdu(int /*seat*/, int /*reserved*/, const char* /*apdu*/, int /*apduLen*/, char* /*response*/) {
  return kNotImplemented;
}
int CReaderT1::IC_SetCardType(int /*seat*/, int /*cardType*/) { return kNotImplemented; }
int CReaderT1::IC_GetCardType(int /*seat*/, int* /*cardType*/) { return kNotImplemented; }

int CReaderT0::IC_GetStatus(int /*seat*/, int* /*state*/) { return kNotImplemented; }
int CReaderT0::IC_SetBaudRate(int /*seat*/, int /*baud*/) { return kNotImplemented; }
int CReaderT0::IC_PowerOn(int /*seat*/, int* /*atrLen*/, char* /*atr*/) { return kNotImplemented; }
int CReaderT0::IC_PowerOff(int /*seat*/) { return kNotImplemented; }
int CReaderT0::IC_SendApdu(int /*seat*/, int /*reserved*/, const char* /*apdu*/, int /*apduLen*/, char* /*response*/) {
  return kNotImplemented;
}
int CReaderT0::IC_SetCardType(int /*seat*/, int /*cardType*/) { return kNotImplemented; }
int CReaderT0::IC_GetCardType(int /*seat*/, int* /*cardType*/) { return kNotImplemented; }
}  // namespace kp
