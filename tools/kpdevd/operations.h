// The reader operations of the service and the documents they answer with:
// the same documents `kpdev --json` prints for the same subcommand
// ("command", the fields read, "error" on failure, "exit" with the tool's
// exit code).  Each function opens the reader it needs, works, and closes
// it; a caller runs at most one of them per COM port at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "documents.h"
#include "request.h"

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

// A read-any-card request is queued: it counts as waiting from now on, and
// a cancel from now on ends it.  Returns its ticket for RunOperation.
std::uint64_t EnterReadAll();

// Ends every read-any-card loop that runs or waits for its reader now;
// returns how many there were.  Never waits for the loop.
int CancelReadAll();

// Watches one reader as `kpdev watch` does and reports what changes:
// seat 0 inserted/removed/powered, field arrived/left, head swipe, reader
// lost/back.  Each event is one object with "time", "where", "event" and
// its fields.  Poll() runs on the thread that owns the port.
class EventWatch {
 public:
  using Emit = std::function<void(nlohmann::json event)>;
  EventWatch(int port, int type, int baud, Emit emit);
  ~EventWatch();
  EventWatch(const EventWatch&) = delete;
  EventWatch& operator=(const EventWatch&) = delete;

  // One round of questions to the reader (opening it first when needed).
  void Poll();
  // Closes the reader so that another operation can open the port; the
  // next Poll() opens it again without reporting the cards anew.
  void Release();

  int type() const { return type_; }
  int baud() const { return baud_; }

 private:
  bool Open();
  void Lost(int result);
  void Contact(int state);
  void Field(int state);
  void Head();
  void Send(const std::string& where, const std::string& what, nlohmann::json fields = nlohmann::json::object());

  int port_;
  int type_;
  int baud_;
  Emit emit_;
  bool open_ = false;
  bool lost_ = false;
  bool started_ = false;
  bool contactServed_ = true;
  bool fieldServed_ = true;
  bool headArmed_ = false;
  int contact_ = -1;
  int field_ = -1;
};

}  // namespace kpdev::service
