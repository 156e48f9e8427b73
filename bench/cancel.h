// kpdev_bench --cancel: how soon KP_DEV_CancelReadAll ends the read-any-card
// calls, and that no cancel is lost.
#pragma once

#include <string>

namespace kpbench {

// `moments` cancels per call at random moments, and as many (at least 100)
// for the never-lost loop.  The exit status of the benchmark.
int RunCancel(const std::string& simExecutable, int moments);

}  // namespace kpbench
