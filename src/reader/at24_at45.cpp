#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/reader_t61.h"
#include "reader/results.h"

namespace kp {

// (placeholder: this technology is not built yet)

int CReaderT1::AT24CXX_ReadData(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT1::AT24CXX_WriteData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kNotImplemented; }
int CReaderT1::AT45DB041_ReadData(int /*seat*/, int /*page*/, int /*offset*/, int /*length*/, char* /*dataOut*/) {
  return -20;
}
int CReaderT1::AT45DB041_WriteData(int /*seat*/, int /*page*/, int /*offset*/, const char* /*dataHex*/) { return -20; }

int CReaderT0::AT24CXX_ReadData(int /*seat*/, int /*address*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT0::AT24CXX_WriteData(int /*seat*/, int /*address*/, const char* /*dataHex*/) { return kNotImplemented; }
int CReaderT0::AT45DB041_ReadData(int /*seat*/, int /*page*/, int /*offset*/, int /*length*/, char* /*dataOut*/) {
  return kNotImplemented;
}
int CReaderT0::AT45DB041_WriteData(int /*seat*/, int /*page*/, int /*offset*/, const char* /*dataHex*/) {
  return kNotImplemented;
}
}  // namespace kp
