// The places a reader may sit, as the library reaches them: every COM
// number that stands for a device (KPDEV_COM<n>, or the ttyS default), and
// whether this user may open it, with advice that would actually help when
// not.  `kpdev ports` lists them and `kpdev probe` searches them.
//
// A target is whatever a KPDEV_COM<n> variable may name: a device node,
// or a serial device server (rfc2217://HOST:PORT, tcp://HOST:PORT), which
// is listed and searched through the library without the local access
// checks; `kpdev ports` asks it whether it takes a connection.
#pragma once

#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kpdev::tool {

struct PortEntry {
  std::string path;      // as listed (a device, a stable name, a variable's value)
  std::string resolved;  // the device node it leads to
  int com = 0;           // 0: no COM number reaches it
  std::string source;    // "KPDEV_COM3", "default" (ttyS<n-1>), "none"
  bool usable = false;   // this user may open it (or it cannot be checked here)
  std::string access;    // "yes", or why not
  std::string fix;       // what would make it usable; empty when nothing simple would
};

// The entry as `kpdev --json ports` and kpdevd's "ports" list it.
nlohmann::json PortJson(const PortEntry& entry);

// A KPDEV_COM<n> value the library reaches over the network rather than as
// a local device node (the library's own test: rfc2217:// or tcp://).
bool IsNetworkTarget(const std::string& path);

// For a device server: whether it takes a connection now (usable, access
// "yes (device server)"), or why not, naming host and port (see
// DiagnoseTarget).  Connects once; `kpdev probe` leaves this to the
// library's open, so that a server allowing one connection at a time is
// not met twice in a row.
void CheckReachable(PortEntry* entry);

// Why this user cannot open a device that stat() describes as `info` and
// that open() refused, and what would help.
struct AccessAdvice {
  std::string reason;  // "permission denied (owner root:root, mode 0600)"
  std::string fix;     // a command or rule that would work; may be empty
};
AccessAdvice AdviseOnAccess(const struct stat& info);

// Fills usable, access and fix of an entry.
void CheckAccess(PortEntry* entry);

// Every serial device with the COM number that reaches it, sorted by
// device; variables naming something not found under /dev come last.
std::vector<PortEntry> CollectPorts();

// Gives every USB serial device that no variable names a free COM number
// for this process (sets KPDEV_COM<n>), so the library reaches it; returns
// "KPDEV_COM<n>=DEVICE" for each.
std::vector<std::string> MapUnmappedDevices();

// Why a device cannot be opened, found by trying it as the library would:
// ok when it opens and nobody holds it.
struct PortDiagnosis {
  bool ok;
  std::string reason;  // "no such device", "permission denied", "in use by another process (process 12 x)"
  std::string hint;    // what to do about it
};
PortDiagnosis DiagnosePort(const std::string& path);
// The same for a device server (rfc2217://HOST:PORT, tcp://HOST:PORT;
// DiagnosePort hands them on): ok when it accepts a connection and keeps
// it; otherwise the reason names host and port ("connection refused (host
// 192.0.2.10 port 4001)") or what the server said.
PortDiagnosis DiagnoseTarget(const std::string& text);

}  // namespace kpdev::tool
