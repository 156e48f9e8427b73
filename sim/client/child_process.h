// Starting and stopping the helper processes of the client library (the
// virtual reader, a device server): shared by sim_process.cpp and
// device_server.cpp, not part of the client's interface.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kpsim::child {

using Clock = std::chrono::steady_clock;

// Milliseconds until the deadline, 0 once it has passed.
int MillisLeft(Clock::time_point deadline);

// Starts `words` (program first) in a process group of its own, so that a
// Ctrl-C meant for the program driving it does not reach it; its standard
// input comes from `in`, its standard output goes to `out` and its
// standard error to `err` (-1: inherited).  Throws SimError when it cannot
// be started.
pid_t Spawn(const std::vector<std::string>& words, int in, int out, int err);

// Waits for the child to end, up to the deadline; its wait status, or -1
// when it is still running.
int WaitUntil(pid_t pid, Clock::time_point deadline);

// SIGTERM, then SIGKILL if the child has not ended within `timeout`; its
// wait status.
int Stop(pid_t pid, std::chrono::milliseconds timeout);

}  // namespace kpsim::child
