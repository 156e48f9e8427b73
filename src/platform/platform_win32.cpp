#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <vector>

#include "platform/platform.h"

namespace kp::platform {

// The Windows tick count: milliseconds since boot, wrapping after 49.7 days.
// Every timeout of the library is an unsigned difference of two ticks, so
// the wrap does no harm.
namespace {
const ClockOverride* g_clockOverride = nullptr;
}  // namespace

void SetClockOverride(const ClockOverride* clock) { g_clockOverride = clock; }

std::uint32_t TickMs() { return g_clockOverride != nullptr ? g_clockOverride->tickMs() : GetTickCount(); }

void SleepMs(unsigned ms) {
  if (g_clockOverride != nullptr) return g_clockOverride->sleepMs(ms);
  Sleep(ms);
}

LocalTime Now() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

void MakeDir(const std::string& path) {
  if (path.empty()) return;
  (void)CreateDirectoryA(path.c_str(), nullptr);
}

// The log's directories and files on drive D inherit their access rights
// from there: nothing to narrow.
void MakePrivateDir(const std::string& path) { MakeDir(path); }

std::FILE* OpenAppendPrivate(const std::string& path) { return std::fopen(path.c_str(), "a"); }

// The log tree is D:\LOG\KP606 on every Windows machine; without a drive D
// the directories cannot be made, the file cannot be opened and logging
// stays silent.
std::string LogRoot() { return "D:\\"; }

char PathSeparator() { return '\\'; }

std::string GetEnv(const char* name) {
  if (name == nullptr) return std::string();
  char small[256];
  DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
  if (n == 0) return std::string();
  if (n < sizeof small) return std::string(small, n);
  // Too long for the small buffer: n is the size needed, terminator included.
  // The variable may change between the calls; retry until it fits.
  for (;;) {
    std::vector<char> big(n);
    const DWORD m = GetEnvironmentVariableA(name, big.data(), n);
    if (m == 0) return std::string();
    if (m < n) return std::string(big.data(), m);
    n = m;
  }
}

}  // namespace kp::platform
