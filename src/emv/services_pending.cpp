// (placeholder: the financial services, the read-any-card loop and the
// automatic open are not built yet; they answer like an unsupported
// operation)
#include "emv/services.h"
#include "reader/results.h"

namespace kp {

std::atomic<std::uint8_t> g_readAllCancel{0};
std::atomic<int> g_readAllHandle{0};
std::atomic<int> g_readAllType{0};

int SendApduChained(int, int, int, const char*, char*) { return kNotImplemented; }
int ReadFinanceICTrack2(int, int, int, char*) { return kNotImplemented; }
int ReadICCardInfo(int, int, int, char*, char*, char*) { return kNotImplemented; }
int ReadICCardGPOData(int, int, int, char*, int) { return kNotImplemented; }
int GetICTraceInfo(int, int, int, const char*, const char*, const char*, char*) { return kNotImplemented; }
int FindSubStr(const char*, const char*, char*) { return kNotImplemented; }
int ReadAll(const ReadAllArgs&) { return kNotImplemented; }
int ReadAllRepeat(const ReadAllArgs&) { return kNotImplemented; }
int AutoOpenDevice(int*, int*, int*, int) { return kNotImplemented; }

}  // namespace kp
