// Subcommands about the reader as a whole.
//
//   kpdev version --port N --type T --baud B
//     opens the reader, prints the firmware's version text and the module
//     the reader reports, closes it.

#include <cstdio>
#include <memory>
#include <string>

#include "command.h"
#include "decode.h"
#include "kp_dev.h"
#include "session.h"

namespace kpdev::tool {

namespace {

int RunVersion(const GlobalOptions& global, const ReaderOptions& options) {
  Session session(global, options);
  if (!session.Open()) return session.FailureExit();

  Report& out = Report::Get();
  out.Field("reader",
            session.PortSpec() + " type " + std::to_string(options.type) + " on " + session.DevicePath() +
                (session.simulated() ? " (virtual reader)" : ""),
            {{"port", options.port},
             {"baud", options.baud},
             {"type", options.type},
             {"device", session.DevicePath()},
             {"virtual", session.simulated()}});
  out.Field("library", LibraryVersion());

  // Room for the longest answer a frame can carry, as hexadecimal text.
  char version[4200] = {};
  const int r = KP_DEV_GetDeviceVersion(session.handle(), version);
  if (r != 0) {
    if (r == KP_DEV_ERR_NOT_SUPPORTED && options.type == 2) {
      out.Note("a type-2 reader serves the magnetic head; its version is read as type 1");
    }
    return ReportFailure("KP_DEV_GetDeviceVersion", r);
  }
  out.Field("version",
            version[0] != '\0' ? DescribeVersion(version, options.type != 61 && options.type != 62) : "(none)",
            version);

  int module = -1;
  const int m = KP_DEV_CheckIsOpen(session.handle(), &module);
  if (m != 0) return ReportFailure("KP_DEV_CheckIsOpen", m);
  out.Field("module", std::to_string(module), module);

  const int c = session.Close();
  if (c != 0) return ReportFailure("KP_DEV_CloseDevice", c);
  return kExitOk;
}

void Install(Tool& tool) {
  auto options = std::make_shared<ReaderOptions>();
  CLI::App* version = tool.AddCommand("version", "open the reader, print its version text and module, close it",
                                      [&tool, options] { return RunVersion(tool.global(), *options); });
  AddReaderOptions(version, options.get());
}

}  // namespace

KPDEV_TOOL_COMMANDS(device, Install);

}  // namespace kpdev::tool
