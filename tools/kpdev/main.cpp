// kpdev: the card-reader library from the command line.  Each subcommand
// lives in a cmd_<tech>.cpp file of its own and registers itself.

#include "command.h"

int main(int argc, char** argv) {
  CLI::App app{"kpdev: drive a card reader through the KP_DEV library", "kpdev"};
  kpdev::tool::Tool tool(app);
  tool.InstallAll();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kpdev::tool::kExitUsage;
  }
  return tool.RunChosen();
}
