// kpdev: the card-reader library from the command line.  Each subcommand
// lives in a cmd_<tech>.cpp file of its own and registers itself.

#include <cstring>

#include "command.h"
#include "report.h"

namespace {

// Whether --json was asked for, looked up in the words themselves: when the
// command line does not parse, the parser has not said so.
bool WantsJson(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kpdev: drive a card reader through the KP_DEV library", "kpdev"};
  kpdev::tool::Tool tool(app);
  tool.InstallAll();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    if (code == 0) return 0;
    if (WantsJson(argc, argv)) {
      // A usage error is a document like any other failure's.
      kpdev::tool::Report& report = kpdev::tool::Report::Get();
      report.Configure(true, false);
      report.doc()["error"] = {{"message", e.what()}};
      return report.Finish(kpdev::tool::kExitUsage);
    }
    return kpdev::tool::kExitUsage;
  }
  return tool.RunChosen();
}
