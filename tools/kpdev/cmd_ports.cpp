// Finding the reader.
//
//   kpdev ports
//     every serial device a reader may sit on: /dev/ttyS<k> with a real
//     UART, /dev/ttyUSB<k>, /dev/ttyACM<k>, the stable names under
//     /dev/serial/by-id, and whatever a KPDEV_COM<n> variable names (a
//     device server's rfc2217:// or tcp:// address too); the COM number
//     each one is reached by, and whether this user may open it (and the
//     group to join when not; for a device server, whether it takes a
//     connection now).
//   kpdev probe [--type T] [--port N]
//     the library's automatic open over those ports: port, type, speed,
//     version and module of the reader found, or why nothing answered.
//     USB devices that no KPDEV_COM<n> names get a free COM number for the
//     search (the tool sets the variable for itself and tells which).

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "kp_dev.h"
#include "platform/network_target.h"
#include "session.h"

extern char** environ;

namespace kpdev::tool {

namespace {

struct PortEntry {
  std::string path;      // as listed
  std::string resolved;  // the device node it leads to
  int com = 0;           // 0: no COM number reaches it
  std::string source;    // "KPDEV_COM3", "ttyS default", ...
  std::string access;    // "yes", or why not
  std::string fix;       // what to do about it
};

long NumberAfter(const std::string& text, const std::string& prefix) {
  if (text.size() <= prefix.size() || text.compare(0, prefix.size(), prefix) != 0) return -1;
  const std::string digits = text.substr(prefix.size());
  if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stol(digits);
}

std::string Resolve(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

// A ttyS device whose UART type the driver knows; the others are
// placeholders the kernel creates whether or not a port exists.
bool RealUart(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EBUSY;  // can't tell: list it
  serial_struct info{};
  const bool real = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  close(fd);
  return real;
}

void CheckAccess(PortEntry* entry) {
  struct stat info {};
  if (stat(entry->path.c_str(), &info) != 0) {
    entry->access = "missing";
    return;
  }
  if (access(entry->path.c_str(), R_OK | W_OK) == 0) {
    entry->access = "yes";
    return;
  }
  std::string owner = std::to_string(info.st_gid);
  if (const struct group* g = getgrgid(info.st_gid)) owner = g->gr_name;
  entry->access = "no (group " + owner + ")";
  entry->fix = "sudo usermod -aG " + owner + " $USER, then log in again";
}

std::vector<PortEntry> CollectPorts() {
  std::vector<PortEntry> ports;
  std::map<std::string, int> comOf;  // resolved device -> COM number through a variable
  std::map<int, std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text = *variable;
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals + 1 == text.size()) continue;
    const long n = NumberAfter(text.substr(0, equals), "KPDEV_COM");
    if (n < 1 || n > 32) continue;
    variables[static_cast<int>(n)] = text.substr(equals + 1);
    comOf[Resolve(text.substr(equals + 1))] = static_cast<int>(n);
  }
  std::vector<std::string> devices;
  if (DIR* dev = opendir("/dev")) {
    while (const dirent* entry = readdir(dev)) {
      const std::string name = entry->d_name;
      if (NumberAfter(name, "ttyS") >= 0 || NumberAfter(name, "ttyUSB") >= 0 || NumberAfter(name, "ttyACM") >= 0) {
        devices.push_back("/dev/" + name);
      }
    }
    closedir(dev);
  }
  if (DIR* byId = opendir("/dev/serial/by-id")) {
    while (const dirent* entry = readdir(byId)) {
      if (entry->d_name[0] != '.') devices.push_back(std::string("/dev/serial/by-id/") + entry->d_name);
    }
    closedir(byId);
  }
  std::sort(devices.begin(), devices.end());
  for (const std::string& path : devices) {
    const long s = NumberAfter(path, "/dev/ttyS");
    if (s >= 0 && !RealUart(path)) continue;
    PortEntry entry;
    entry.path = path;
    entry.resolved = Resolve(path);
    const auto mapped = comOf.find(entry.resolved);
    if (mapped != comOf.end()) {
      entry.com = mapped->second;
      entry.source = "KPDEV_COM" + std::to_string(entry.com);
    } else if (s >= 0 && s < 32 && variables.count(static_cast<int>(s + 1)) == 0) {
      entry.com = static_cast<int>(s + 1);
      entry.source = "default";
    } else {
      entry.source = "none";
    }
    CheckAccess(&entry);
    ports.push_back(entry);
  }
  // Variables that name something not listed above (a pseudo-terminal).
  for (const auto& [n, path] : variables) {
    const std::string resolved = Resolve(path);
    const bool listed =
        std::any_of(ports.begin(), ports.end(), [&](const PortEntry& p) { return p.resolved == resolved; });
    if (listed) continue;
    PortEntry entry{path, resolved, n, "KPDEV_COM" + std::to_string(n), "", ""};
    if (kp::platform::IsNetworkTarget(path)) {
      // A device server: whether it takes a connection now.
      const PortDiagnosis reach = DiagnoseTarget(path);
      entry.access = reach.exit == kExitOk ? "yes (device server)" : reach.reason;
      entry.fix = reach.hint;
    } else {
      CheckAccess(&entry);
    }
    ports.push_back(entry);
  }
  return ports;
}

int RunPorts(const GlobalOptions& global, int simPort) {
  SimHost sim;
  if (global.sim) {
    const std::string family = global.simFamily.empty() ? "t1" : global.simFamily;
    if (!sim.Start(global, family, simPort, 9600)) return kExitSimFailed;
  }
  Report& out = Report::Get();
  const std::vector<PortEntry> ports = CollectPorts();
  nlohmann::json list = nlohmann::json::array();
  std::vector<std::string> lines;
  char line[512];
  std::snprintf(line, sizeof line, "%-6s %-40s %-12s %s", "PORT", "DEVICE", "FROM", "ACCESS");
  lines.push_back(line);
  for (const PortEntry& p : ports) {
    const std::string com = p.com > 0 ? "COM" + std::to_string(p.com) : "-";
    std::string device = p.path;
    if (p.resolved != p.path) device += " -> " + p.resolved;
    std::string access = p.access;
    if (sim.running() && p.com == simPort) access += ", virtual reader";
    std::snprintf(line, sizeof line, "%-6s %-40s %-12s %s", com.c_str(), device.c_str(), p.source.c_str(),
                  access.c_str());
    lines.push_back(line);
    nlohmann::json j{{"device", p.path},
                     {"resolved", p.resolved},
                     {"source", p.source},
                     {"access", p.access},
                     {"can_open", p.access.rfind("yes", 0) == 0}};
    j["com"] = p.com > 0 ? nlohmann::json(p.com) : nlohmann::json(nullptr);
    if (!p.fix.empty()) j["fix"] = p.fix;
    list.push_back(j);
  }
  out.doc()["ports"] = list;
  if (ports.empty()) {
    out.Line("no serial devices: no ttyS with a UART, no ttyUSB, ttyACM or /dev/serial/by-id, no KPDEV_COM<n>");
    return kExitOk;
  }
  out.Lines(lines);
  bool unmapped = false, denied = false;
  for (const PortEntry& p : ports) {
    unmapped = unmapped || p.com == 0;
    if (!p.fix.empty() && !denied) {
      denied = true;
      out.Line("to open " + p.path + ": " + p.fix);
    }
  }
  if (unmapped) out.Line("a device without a COM number is reached by setting KPDEV_COM<n>=DEVICE (1 <= n <= 32)");
  return kExitOk;
}

// Gives every USB serial device that no variable names a free COM number
// for this process, so that the library's port list includes it.
std::vector<std::string> MapUnmappedDevices() {
  std::vector<std::string> assigned;
  for (const PortEntry& p : CollectPorts()) {
    if (p.com != 0 || p.path.rfind("/dev/serial/by-id/", 0) == 0 || p.path.rfind("/dev/ttyS", 0) == 0) continue;
    for (int n = 32; n >= 1; --n) {
      const std::string variable = "KPDEV_COM" + std::to_string(n);
      const char* value = std::getenv(variable.c_str());
      if (value != nullptr && *value != '\0') continue;
      // COM numbers of existing ttyS devices stay theirs.
      struct stat info {};
      if (stat(("/dev/ttyS" + std::to_string(n - 1)).c_str(), &info) == 0) continue;
      setenv(variable.c_str(), p.path.c_str(), 1);
      assigned.push_back(variable + "=" + p.path);
      break;
    }
  }
  return assigned;
}

int RunProbe(const GlobalOptions& global, int type, int port) {
  Report& out = Report::Get();
  SimHost sim;
  if (global.sim) {
    const int simPort = port > 0 ? port : 1;
    const std::string family = global.simFamily.empty() ? FamilyOfType(type < 0 ? 1 : type) : global.simFamily;
    // The automatic open tries a type-61 reader from 115200 baud on.
    if (!sim.Start(global, family, simPort, family == "t61" ? 115200 : 9600)) return kExitSimFailed;
    if (port <= 0) port = simPort;
  }
  for (const std::string& mapping : MapUnmappedDevices()) out.Note("searching also " + mapping);
  const std::vector<int> types = type >= 0 ? std::vector<int>{type} : std::vector<int>{1, 61, 0};
  int last = KP_DEV_ERR_OPEN;
  for (int t : types) {
    int p = port, baud = 0, handle = 0;
    const int r = KP_DEV_AutoOpenDevice(&p, &baud, &handle, t);
    last = r;
    if (r != 0 || handle <= 0) continue;
    char version[4200] = {};
    KP_DEV_GetDeviceVersion(handle, version);
    int module = -1;
    KP_DEV_CheckIsOpen(handle, &module);
    KP_DEV_CloseDevice(handle);
    out.Field("port", "COM" + std::to_string(p) + " (" + ComDevicePath(p) + ")",
              {{"com", p}, {"device", ComDevicePath(p)}});
    out.Field("type", std::to_string(t), t);
    out.Field("baud", std::to_string(baud), baud);
    out.Field("version", version);
    out.Field("module", std::to_string(module), module);
    return kExitOk;
  }
  out.CallFailed("KP_DEV_AutoOpenDevice", last,
                 "no reader answered on any listed port (see 'kpdev ports': a port must be openable and have a COM "
                 "number)");
  return last == KP_DEV_ERR_OPEN ? kExitOpenFailed : kExitNoReader;
}

void Install(Tool& tool) {
  auto simPort = std::make_shared<int>(1);
  CLI::App* ports = tool.AddCommand("ports", "list the serial devices, their COM numbers and whether you may open them",
                                    [&tool, simPort] { return RunPorts(tool.global(), *simPort); });
  ports->add_option("-p,--port", *simPort, "with --sim: the COM number the virtual reader is attached to")
      ->check(CLI::Range(1, 32))
      ->capture_default_str();

  auto type = std::make_shared<int>(-1);
  auto port = std::make_shared<int>(0);
  CLI::App* probe = tool.AddCommand("probe", "find a reader with the library's automatic open and print what answered",
                                    [&tool, type, port] { return RunProbe(tool.global(), *type, *port); });
  probe->add_option("-t,--type", *type, "device type to look for (default: 1, then 61, then 0)")
      ->check(CLI::IsMember({0, 1, 2, 5, 61, 62}));
  probe->add_option("-p,--port", *port, "COM number to try first (default: none; with --sim: 1)")
      ->check(CLI::Range(0, 32));
}

}  // namespace

KPDEV_TOOL_COMMANDS(ports, Install);

}  // namespace kpdev::tool
