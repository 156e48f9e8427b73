// Operating-system services other than the serial line: clocks, local
// time, directories.  One implementation file per operating system
// (platform_posix.cpp, platform_win32.cpp); nothing else in the library
// includes an operating-system header.
#pragma once

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kp::platform {

// Whole milliseconds until the deadline, rounded up so that a wait never
// ends before it; 0 once it has passed.
inline int MsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Milliseconds since an arbitrary start; wraps like the Windows tick count.
std::uint32_t TickMs();
void SleepMs(unsigned ms);

// A clock of the caller's in place of the system's, for programs that drive
// the library faster than real time (the whole-library fuzz target): both
// functions are then answered by it.  nullptr restores the system clock.
// Not for use while other threads call into the library.
struct ClockOverride {
  std::uint32_t (*tickMs)();
  void (*sleepMs)(unsigned ms);
};
void SetClockOverride(const ClockOverride* clock);

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime Now();

// Creates one directory, readable by its owner only where the system has
// owners; failures (it exists, no permission) are ignored.
void MakeDir(const std::string& path);
// As MakeDir; a directory that already exists, belongs to the caller and
// lets others in is narrowed to its owner.  A symbolic link or another
// user's directory is left as it is.
void MakePrivateDir(const std::string& path);
// Opens a file for appending text, creating it readable and writable by its
// owner only where the system has owners; an existing file of the caller's
// that others may read is narrowed to its owner.  nullptr on failure.
std::FILE* OpenAppendPrivate(const std::string& path);

// Root of the diagnostic log tree ("D:\" on Windows; on POSIX
// $KPDEV_LOG_ROOT or the per-user state directory), with a trailing
// separator.
std::string LogRoot();
char PathSeparator();

// Value of an environment variable, empty when unset.
std::string GetEnv(const char* name);

}  // namespace kp::platform
