// kpdev_bench --service: what kpdevd adds to a read, what it costs while it
// waits, and how fast an event reaches its subscribers.
#pragma once

#include <string>

namespace kpbench {

// The exit status of the benchmark.
int RunService(const std::string& simExecutable, const std::string& serviceExecutable, int rounds);

}  // namespace kpbench
