// kpdev probe: which readers answer where, found without changing them.
//
//   kpdev probe [--type T] [--port N]... [--quiet]
//
// How the search goes, and why it changes nothing on any reader: probe.h.
// Every request tried is printed on stderr as it is made (--quiet: not);
// the readers found are printed on stdout with the command that opens each.

#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "probe.h"
#include "session.h"

namespace kpdev::tool {

namespace {

int RunProbe(const GlobalOptions& global, ProbeOptions options) {
  Report& out = Report::Get();
  SimHost sim;
  if (global.sim) {
    if (options.ports.empty()) options.ports.push_back(1);
    const std::string family =
        global.simFamily.empty() ? FamilyOfType(options.type < 0 ? 1 : options.type) : global.simFamily;
    // A virtual reader starts as the reader would be found: type 61 at its
    // usual 115200, the others at 9600.
    if (!sim.Start(global, family, options.ports.front(), family == "t61" ? 115200 : 9600)) return kExitSimFailed;
  }
  // The tool runs on one thread: it may give unmapped devices a COM number.
  options.mapUnmapped = true;
  options.note = [&out](const std::string& line) { out.Note(line); };
  const ProbeReport report = Probe(options);
  for (const auto& [key, value] : report.document.items()) out.doc()[key] = value;
  out.Lines(report.lines);
  if (report.failure.empty()) return kExitOk;
  out.Failed(report.failure);
  return report.exit;
}

void Install(Tool& tool) {
  auto options = std::make_shared<ProbeOptions>();
  CLI::App* probe =
      tool.AddCommand("probe", "find the readers on the serial ports without changing them: port, type, speed, version",
                      [&tool, options] { return RunProbe(tool.global(), *options); });
  probe->add_option("-t,--type", options->type, "look only for readers of this type's family (default: every family)")
      ->check(CLI::IsMember({0, 1, 2, 5, 61, 62}));
  probe
      ->add_option("-p,--port", options->ports,
                   "search only this COM number (repeatable; default: every port 'kpdev ports' lists; with --sim: 1)")
      ->check(CLI::Range(1, 32));
  probe->add_flag("-q,--quiet", options->quiet, "do not print each request on stderr as it is made");
}

}  // namespace

KPDEV_TOOL_COMMANDS(probe, Install);

}  // namespace kpdev::tool
