#include "log/log.h"

#include <cstdarg>
#include <cstdio>

#include "log/mask.h"
#include "platform/platform.h"

namespace kp {
namespace {

// Prefix and message together; a longer message is cut to fit.
constexpr std::size_t kLineBuffer = 2048;

// Creates every level of the log root (which ends in a separator), so a
// fresh machine gets its log tree on the first line; levels that exist (or
// cannot be made) are passed over and keep their mode: they are the user's
// ($HOME, $XDG_STATE_HOME or $KPDEV_LOG_ROOT).  LOG and KP606 are the log's
// own and hold card traffic: they are made, or narrowed, for their owner
// only.
void MakeDirectories(const std::string& root, char sep) {
  for (std::size_t pos = root.find(sep, 1); pos != std::string::npos; pos = root.find(sep, pos + 1)) {
    platform::MakeDir(root.substr(0, pos));
  }
  platform::MakePrivateDir(root + "LOG");
  platform::MakePrivateDir(root + "LOG" + sep + "KP606");
}

}  // namespace

std::string LogDirectory() {
  const char sep = platform::PathSeparator();
  return platform::LogRoot() + "LOG" + sep + "KP606";
}

// printf-style on purpose: the format attribute in log.h lets the compiler
// check every call's arguments against its format.
void WriteLog(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  if (format == nullptr) return;
  const LogMode mode = CurrentLogMode();
  if (mode == LogMode::kOff) return;
  const std::string dir = LogDirectory();
  const char sep = platform::PathSeparator();
  MakeDirectories(platform::LogRoot(), sep);

  const platform::LocalTime t = platform::Now();
  char name[48];
  std::snprintf(name, sizeof name, "%04d-%02d-%02d.log", t.year, t.month, t.day);
  const std::string path = dir + sep + name;

  std::FILE* file = platform::OpenAppendPrivate(path);
  if (file == nullptr) return;

  char line[kLineBuffer];
  int prefix = std::snprintf(line, sizeof line, "%02d:%02d:%02d %03d | ", t.hour, t.minute, t.second, t.millisecond);
  if (prefix < 0) prefix = 0;
  if (static_cast<std::size_t>(prefix) >= sizeof line) prefix = static_cast<int>(sizeof line - 1);
  line[prefix] = '\0';
  va_list args;
  va_start(args, format);
  // vsnprintf cuts at the buffer's end and always terminates.
  std::vsnprintf(line + prefix, sizeof line - static_cast<std::size_t>(prefix), format, args);
  va_end(args);

  if (mode == LogMode::kMasked) {
    const std::string masked = MaskAccountNumbers(line);
    std::fputs(masked.c_str(), file);
  } else {
    std::fputs(line, file);
  }
  std::fputs("\n", file);
  std::fclose(file);
}

}  // namespace kp
