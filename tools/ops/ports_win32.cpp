// The ports listing on Windows: the system's serial-port map (the list the
// library's automatic open walks) and the device servers that KPDEV_COM<n>
// variables name in place of a port.
#include <windows.h>

#include <cstdlib>
#include <map>

#include "platform/network_target.h"
#include "platform/ports.h"
#include "ports.h"
#include "watcher.h"  // ComDevicePath
#include "wire/com_port.h"

namespace kpdev::tool {

namespace {

// COM numbers a reader can be opened on.
constexpr int kHighestCom = 32;

}  // namespace

void CheckAccess(PortEntry* entry) {
  entry->fix.clear();
  // Opening a port only to look would take it from whoever holds it, and
  // Windows has no owner, group or mode to read: the open itself tells.
  entry->usable = true;
  entry->access = IsNetworkTarget(entry->path) ? "not checked (network)" : "not checked";
}

std::vector<PortEntry> CollectPorts() {
  std::map<int, PortEntry> byCom;
  auto add = [&byCom](int com, const std::string& source) {
    PortEntry entry;
    entry.com = com;
    entry.path = ComDevicePath(com);
    entry.resolved = entry.path;
    entry.source = source;
    CheckAccess(&entry);
    byCom[com] = entry;
  };
  for (int com = 1; com <= kHighestCom; ++com) {
    const char* value = std::getenv(kp::wire::ComVariable(com).c_str());
    if (value != nullptr && IsNetworkTarget(value)) add(com, kp::wire::ComVariable(com));
  }
  // A port the map names without a number (0) cannot be opened by number.
  for (const int com : kp::platform::SystemSerialPorts()) {
    if (com >= 1 && com <= kHighestCom && byCom.count(com) == 0) add(com, "default");
  }
  std::vector<PortEntry> ports;
  for (const auto& [com, entry] : byCom) ports.push_back(entry);
  return ports;
}

PortDiagnosis DiagnosePort(const std::string& path) {
  if (IsNetworkTarget(path)) return DiagnoseTarget(path);
  const HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return {true, "", ""};
  }
  const DWORD error = GetLastError();
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return {false, "no such device",
              "'kpdev ports' lists the serial ports; KPDEV_COM<n> may name a device server instead"};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      // A serial port is opened by one program at a time.
      return {false, "in use by another process", ""};
    default:
      return {false, "the port could not be opened (Windows error " + std::to_string(error) + ")", ""};
  }
}

}  // namespace kpdev::tool
