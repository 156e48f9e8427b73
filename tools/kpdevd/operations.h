// The reader operations of the service and the documents they answer with:
// the same documents `kpdev --json` prints for the same subcommand
// ("command", the fields read, "error" on failure, "exit" with the tool's
// exit code).  Each function opens the reader it needs, works, and closes
// it; a caller runs at most one of them per COM port at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "documents.h"
#include "probe.h"
#include "request.h"
#include "watcher.h"

namespace kpdev::service {

using kpdev::tool::LibraryVersion;
using kpdev::tool::ResultJson;

// Exit codes, as the tool's.
constexpr int kExitOk = 0;
constexpr int kExitCallFailed = 1;
constexpr int kExitOpenFailed = 2;
constexpr int kExitNoCard = 4;
constexpr int kExitNoReader = 5;
constexpr int kExitUsage = 64;
constexpr int kExitBusy = 75;        // the reader's queue is full, or too many requests
constexpr int kExitNotPaired = 77;   // the installation's token was not presented
constexpr int kExitCancelled = 130;  // a read-any-card loop ended by a cancel

// Runs a reader operation (not hello, cancel, subscribe or unsubscribe).
// `ticket`: for read-all, what EnterReadAll() gave when it was queued.
nlohmann::json RunOperation(const Request& request, std::uint64_t ticket = 0);

// The serial devices, their COM numbers and whether the service may open
// them: `kpdev --json ports`, except that a device server is not asked
// whether it takes a connection (its access stays "not checked
// (network)"): a server that allows one connection at a time may be
// serving one of the service's own readers.  Opens no reader.
nlohmann::json ListPorts();

// The readers that answer on the ports asked for (all with a COM number
// when none are named): `kpdev --json probe`.  `hooks` carries the claim,
// release and stopping callbacks of the caller; progress lines are not
// sent (the answer's "tried" holds every request).
nlohmann::json RunProbe(const Request& request, kpdev::tool::ProbeOptions hooks);

// A read-any-card request is queued: it counts as waiting from now on, and
// a cancel from now on ends it.  Returns its ticket for RunOperation.
std::uint64_t EnterReadAll();

// Ends every read-any-card loop that runs or waits for its reader now;
// returns how many there were.  Never waits for the loop.
int CancelReadAll();

// Watches one reader as `kpdev watch` does (tools/ops/watcher.h): every
// event is its JSON object with "port" added.  The watcher itself is not
// thread-safe: one port's thread polls it.
std::unique_ptr<kpdev::tool::Watcher> MakeEventWatch(int port, int type, int baud, int intervalMs,
                                                     std::function<void(nlohmann::json event)> emit);

}  // namespace kpdev::service
