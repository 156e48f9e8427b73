#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/results.h"

namespace kp {

// (placeholder: this technology is not built yet)

int CReaderT1::ID_FindID() { return -20; }
int CReaderT1::ID_GetData(int /*field*/, char* /*out*/) { return -20; }
int CReaderT1::ID_Read(int /*timeLimitMs*/, char** /*fields*/) { return -20; }

int CReaderT0::ID_FindID() { return kNotImplemented; }
int CReaderT0::ID_GetData(int /*field*/, char* /*out*/) { return kNotImplemented; }
int CReaderT0::ID_Read(int /*timeLimitMs*/, char** /*fields*/) { return kNotImplemented; }
}  // namespace kp
