#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/platform.h"

namespace kp::platform {

namespace {
const ClockOverride* g_clockOverride = nullptr;
}  // namespace

void SetClockOverride(const ClockOverride* clock) { g_clockOverride = clock; }

std::uint32_t TickMs() {
  if (g_clockOverride != nullptr) return g_clockOverride->tickMs();
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  // Truncation to 32 bits gives the same wrap-around as the Windows tick.
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

void SleepMs(unsigned ms) {
  if (g_clockOverride != nullptr) return g_clockOverride->sleepMs(ms);
  timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec rest{};
  while (nanosleep(&request, &rest) != 0 && errno == EINTR) request = rest;
}

LocalTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  const time_t seconds = ts.tv_sec;
  localtime_r(&seconds, &local);
  return LocalTime{local.tm_year + 1900,
                   local.tm_mon + 1,
                   local.tm_mday,
                   local.tm_hour,
                   local.tm_min,
                   local.tm_sec,
                   static_cast<int>(ts.tv_nsec / 1000000L)};
}

void MakeDir(const std::string& path) {
  if (path.empty()) return;
  // The log tree holds card traffic: nobody but the owner looks inside.
  (void)mkdir(path.c_str(), 0700);
}

namespace {

// A file or directory made by an older version, by hand or under another
// umask may let the group or others in; the log's own keep their owner only.
// Only the caller's own are changed: a shared tree someone set up stays.
void NarrowToOwner(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 077) == 0) return;
  (void)fchmod(fd, st.st_mode & 07700);
}

}  // namespace

void MakePrivateDir(const std::string& path) {
  if (path.empty()) return;
  if (mkdir(path.c_str(), 0700) == 0) return;
  // O_NOFOLLOW: a link to a directory elsewhere is not the log's to change.
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  NarrowToOwner(fd);
  ::close(fd);
}

std::FILE* OpenAppendPrivate(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  NarrowToOwner(fd);
  std::FILE* file = ::fdopen(fd, "a");
  if (file == nullptr) ::close(fd);
  return file;
}

std::string LogRoot() {
  std::string root = GetEnv("KPDEV_LOG_ROOT");
  if (!root.empty()) {
    if (root.back() != '/') root += '/';
    return root;
  }
  root = GetEnv("XDG_STATE_HOME");
  if (!root.empty()) {
    if (root.back() != '/') root += '/';
    return root + "kpdev/";
  }
  root = GetEnv("HOME");
  if (!root.empty()) {
    if (root.back() != '/') root += '/';
    return root + ".local/state/kpdev/";
  }
  return "/tmp/kpdev-" + std::to_string(static_cast<unsigned long>(getuid())) + "/";
}

char PathSeparator() { return '/'; }

std::string GetEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace kp::platform
