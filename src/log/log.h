// The daily diagnostic log: one time-stamped line per call, appended to
// <root>/LOG/KP606/YYYY-MM-DD.log.  Logging never fails the caller.
#pragma once

#include <string>

namespace kp {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void WriteLog(const char* format, ...);

// Directory that holds the day files (…/LOG/KP606), platform-dependent.
std::string LogDirectory();

}  // namespace kp
