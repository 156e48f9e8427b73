// kpdev_bench --paced: whole operations against a virtual reader that keeps
// real time, each set against its floor.
#pragma once

#include <string>

namespace kpbench {

// Runs the paced table; `rounds` runs of each operation, the median shown.
// The exit status of the benchmark.
int RunPaced(const std::string& simExecutable, int rounds);

}  // namespace kpbench
