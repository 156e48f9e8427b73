#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/reader_t61.h"
#include "reader/results.h"

namespace kp {

// (placeholder: this technology is not built yet)

int CReaderT1::ReadAll(unsigned int /*timeoutMs*/, char* /*result*/) { return kNotImplemented; }
int CReaderT1::CancelReadAll() {
  readAllCancel_ = 1;
  return 0;
}

int CReaderT0::ReadAll(unsigned int /*timeoutMs*/, char* /*result*/) { return 0; }
int CReaderT0::CancelReadAll() { return 0; }
}  // namespace kp
