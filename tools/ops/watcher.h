// Watching one reader: what `kpdev watch` prints and kpdevd pushes to its
// subscribers, from one implementation.
//
// Every poll asks the reader for the state of the contact seat (0) and of
// the contactless field (255) and, where there is a magnetic head, whether
// a card was swiped; on a type-1 reader the head answers only in the
// magnetic module, so each poll visits that module and comes back.  On a
// type-0 reader the identity module is asked whether a card lies on it
// (without reading the card).  Only changes become events.
//
// The watcher owns no thread and no clock of its own: the caller decides
// when to poll, and how to wait inside a poll (the tool's wait ends on
// Ctrl-C).
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "id_presence.h"

namespace kpdev::tool {

// One event: "time", "where", "event" and its own fields as a JSON object,
// and the text lines `kpdev watch` prints for it (the first is
// "TIME  WHERE     WHAT      DETAILS"; any more are indented details).
struct WatchEvent {
  nlohmann::json fields;
  std::vector<std::string> lines;
};

struct WatchTarget {
  int port = 1;  // the COM number, which is also the library's handle
  int type = 1;
  int baud = 9600;
  int intervalMs = 500;  // only named in the "lost" event's text
  bool powerOn = true;   // power a newly inserted contact card on (its ATR)
  bool opened = false;   // the caller opened the port already
  // Asks the identity module of a type-0 reader whether a card lies on
  // it, while the library's handle is closed; empty: not watched.
  std::function<IdPresence(const std::string& device, int baud)> identity;
  // Waits `ms` milliseconds within a poll (may return early).
  std::function<void(int ms)> pause;
};

// The device that COM<port> stands for, as the library resolves it: the
// value of KPDEV_COM<port> when set (a device, or a device server's
// rfc2217:// or tcp:// address), else /dev/ttyS<port-1>.  On Windows,
// where only a device server replaces the system's port: that address,
// else \\.\COM<port>.
std::string ComDevicePath(int port);

// An event stamped now.
WatchEvent MakeWatchEvent(const std::string& where, const std::string& what, const std::string& details,
                          nlohmann::json fields = nlohmann::json::object(), const std::vector<std::string>& more = {});

class Watcher {
 public:
  using Sink = std::function<void(WatchEvent event)>;
  Watcher(WatchTarget target, Sink sink);
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  // Reports "reader watching" with the caller's details and fields, and
  // arms the head when the port is open.
  void Start(const std::string& details, nlohmann::json fields);
  // One round of questions (opening the port first after Release()); false
  // when the reader did not answer ("reader lost" reported once).
  bool Poll();
  bool lost() const { return lost_; }
  // Reopens a lost reader; true once it answers again ("reader back", and
  // every seat reported anew).
  bool Reopen();
  // Closes the port so that another operation can open it; the next Poll()
  // opens it again without reporting the cards anew.
  void Release();

 private:
  void Event(const std::string& where, const std::string& what, const std::string& details,
             nlohmann::json fields = nlohmann::json::object(), const std::vector<std::string>& more = {});
  bool Open();
  bool Lost(int result);
  void Contact(int state);
  void PowerOn();
  void Field(int state);
  void ArmHead();
  void HeadThroughMagneticModule();
  bool Identity();
  void ReadHead(bool rearm);
  std::string PortText() const;

  WatchTarget target_;
  Sink sink_;
  bool open_;
  int contact_ = -1;
  int field_ = -1;
  int id_ = -1;
  bool contactServed_ = true;
  bool fieldServed_ = true;
  bool headArmed_ = false;
  bool headBehindModule_ = false;
  bool idServed_;
  bool lost_ = false;
};

}  // namespace kpdev::tool
