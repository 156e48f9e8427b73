// Which readers answer where, found without changing them: what `kpdev
// probe` prints and kpdevd's "probe" answers, from one search.
//
// Each COM number that reaches a device (what CollectPorts lists, or the
// ports asked for) is asked, at each line speed from 9600 on, two questions
// that change nothing on any reader:
//
//   - the type-61 firmware's raw version request (ESC 'e' NUL), which the
//     other firmware families ignore;
//   - the framed version command (0x3111), which the type-1 and type-0
//     firmware answer and the type-61 firmware refuses as unknown.
//
// Both go through the library, opened as type 61 and as type 5: opening
// and closing those sends nothing to the device.  The library's automatic
// open is not used for the search, because it opens each candidate as the
// type asked for, and opening or closing a type-1 reader sends the module
// escape sequence (ESC $ I d), which a type-61 or type-0 reader takes as
// an order to change its speed: a type-61 reader at 115200 was left at
// 9600 by a search for type 1.
//
// Which of types 1 and 0 answered the framed command is read from the
// version text (TypeOfVersion: "KP-T0 V3.02" is type 0).  When the text
// names no family, the identity module's presence check decides: only a
// type-0 reader carries the module.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kpdev::tool {

struct ProbeOptions {
  int type = -1;           // -1: every family
  std::vector<int> ports;  // empty: every port with a COM number
  bool quiet = false;      // no progress line for each request tried
  // Before an unrestricted search, give every USB serial device that no
  // variable names a COM number (MapUnmappedDevices).  It sets environment
  // variables, so only a single-threaded caller may ask for it.
  bool mapUnmapped = false;
  // Progress as it happens: each request tried (unless quiet), each port
  // skipped and why.  May be empty.
  std::function<void(const std::string& line)> note;
  // Asked just before a port is searched: empty to go ahead, or why the
  // port must be left alone (it is then skipped with that reason and
  // counts as not searched).  `release` is called once the port's search
  // ends.  Both may be empty.
  std::function<std::string(int com)> claim;
  std::function<void(int com)> release;
  // Asked between requests: true ends the search early.  May be empty.
  std::function<bool()> stopping;
};

struct ProbeFound {
  int com = 0;
  std::string device;
  int type = 0;
  int baud = 0;
  std::string version;  // as a person reads it
  std::string raw;      // as the library reported it
  std::string how;      // why this type
};

// A finished search, as a document and as text.
struct ProbeReport {
  std::vector<ProbeFound> found;
  // "readers", "skipped" and "tried", as `kpdev --json probe` holds them.
  nlohmann::json document;
  // The text lines of the readers found (two for each).
  std::vector<std::string> lines;
  // Empty when a reader of the type asked for answered; otherwise why not,
  // and the exit code: 2 when no port was left to search, 5 when nothing
  // answered.
  std::string failure;
  int exit = 0;
};

ProbeReport Probe(const ProbeOptions& options);

// The family a probe that found `type` serves for the type asked for: 61
// for 61 and 62, 0 for 0, 1 for the rest.
int FamilyType(int type);

}  // namespace kpdev::tool
