// kpdev ports: the COM numbers this machine offers and the device each one
// names: every KPDEV_COM<n> variable that is set, and every /dev/ttyS<k>
// that exists (COM k+1 unless a variable names another device for it).

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "command.h"
#include "session.h"

extern char** environ;

namespace kpdev::tool {

namespace {

struct PortEntry {
  std::string path;
  std::string source;
};

// The number after `prefix` in `text` when the rest is all digits; -1 otherwise.
long NumberAfter(const char* text, std::size_t length, const char* prefix) {
  const std::size_t skip = std::strlen(prefix);
  if (length <= skip || std::strncmp(text, prefix, skip) != 0 || length - skip > 9) return -1;
  long value = 0;
  for (std::size_t i = skip; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::map<long, PortEntry> CollectPorts() {
  std::map<long, PortEntry> ports;
  if (DIR* dev = opendir("/dev")) {
    while (const dirent* entry = readdir(dev)) {
      const long k = NumberAfter(entry->d_name, std::strlen(entry->d_name), "ttyS");
      if (k >= 0) ports[k + 1] = PortEntry{std::string("/dev/") + entry->d_name, "default"};
    }
    closedir(dev);
  }
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const char* equals = std::strchr(*variable, '=');
    if (equals == nullptr || equals[1] == '\0') continue;
    const long n = NumberAfter(*variable, static_cast<std::size_t>(equals - *variable), "KPDEV_COM");
    if (n >= 0) ports[n] = PortEntry{equals + 1, std::string(static_cast<const char*>(*variable), equals)};
  }
  return ports;
}

int RunPorts(const GlobalOptions& global, int simPort) {
  SimHost sim;
  if (global.sim) {
    const std::string family = global.simFamily.empty() ? "t1" : global.simFamily;
    if (!sim.Start(global, family, simPort, 9600)) return kExitSimFailed;
  }
  const std::map<long, PortEntry> ports = CollectPorts();
  if (ports.empty()) {
    std::printf("no serial ports: no /dev/ttyS<k>, no KPDEV_COM<n> variable\n");
    return kExitOk;
  }
  std::printf("%-6s %-28s %-14s %s\n", "PORT", "DEVICE", "FROM", "STATE");
  for (const auto& [number, entry] : ports) {
    struct stat info {};
    std::string state = stat(entry.path.c_str(), &info) == 0 ? "present" : "missing";
    if (number < 1 || number > 32) state += ", outside COM1..COM32: the library cannot open it";
    if (sim.running() && number == simPort) state += ", virtual reader";
    std::printf("COM%-3ld %-28s %-14s %s\n", number, entry.path.c_str(), entry.source.c_str(), state.c_str());
  }
  return kExitOk;
}

void Install(Tool& tool) {
  auto simPort = std::make_shared<int>(1);
  CLI::App* ports = tool.AddCommand("ports", "list the configured COM ports and the device each names",
                                    [&tool, simPort] { return RunPorts(tool.global(), *simPort); });
  ports->add_option("-p,--port", *simPort, "with --sim: the COM number the virtual reader is attached to")
      ->check(CLI::Range(1, 32))
      ->capture_default_str();
}

}  // namespace

KPDEV_TOOL_COMMANDS(ports, Install);

}  // namespace kpdev::tool
