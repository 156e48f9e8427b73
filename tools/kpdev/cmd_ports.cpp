// kpdev ports: every serial device a reader may sit on: /dev/ttyS<k> with a
// real UART, /dev/ttyUSB<k>, /dev/ttyACM<k>, the stable names under
// /dev/serial/by-id, and whatever a KPDEV_COM<n> variable names (a device
// server too, asked whether it takes a connection now); the COM
// number each one is reached by, and whether this user may open it (and,
// when not, what would help: see tools/ops/ports.h).

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "ports.h"
#include "session.h"

namespace kpdev::tool {

namespace {

int RunPorts(const GlobalOptions& global, int simPort) {
  SimHost sim;
  if (global.sim) {
    const std::string family = global.simFamily.empty() ? "t1" : global.simFamily;
    if (!sim.Start(global, family, simPort, 9600)) return kExitSimFailed;
  }
  Report& out = Report::Get();
  std::vector<PortEntry> ports = CollectPorts();
  for (PortEntry& p : ports) {
    if (IsNetworkTarget(p.path)) CheckReachable(&p);
  }
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
    list.push_back(PortJson(p));
  }
  out.doc()["ports"] = list;
  if (ports.empty()) {
    out.Line("no serial devices: no ttyS with a UART, no ttyUSB, ttyACM or /dev/serial/by-id, no KPDEV_COM<n>");
    return kExitOk;
  }
  out.Lines(lines);
  bool unmapped = false;
  for (const PortEntry& p : ports) {
    unmapped = unmapped || p.com == 0;
    if (!p.fix.empty()) out.Line("to open " + p.path + ": " + p.fix);
  }
  if (unmapped) out.Line("a device without a COM number is reached by setting KPDEV_COM<n>=DEVICE (1 <= n <= 32)");
  return kExitOk;
}

void Install(Tool& tool) {
  auto simPort = std::make_shared<int>(1);
  CLI::App* ports = tool.AddCommand("ports", "list the serial devices, their COM numbers and whether you may open them",
                                    [&tool, simPort] { return RunPorts(tool.global(), *simPort); });
  ports->add_option("-p,--port", *simPort, "with --sim: the COM number the virtual reader is attached to")
      ->check(CLI::Range(1, 32))
      ->capture_default_str();
}

}  // namespace

KPDEV_TOOL_COMMANDS(ports, Install);

}  // namespace kpdev::tool
