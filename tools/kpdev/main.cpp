// kpdev: the card-reader library from the command line.  Each subcommand
// lives in a cmd_<tech>.cpp file of its own and registers itself.

#include <signal.h>

#include "command.h"

int main(int argc, char** argv) {
  // Output to a reader that went away (kpdev ... | head -1) is a failed
  // write, not the end of the process: a command still closes its reader
  // and stops its virtual reader; watch ends at its next event.
  signal(SIGPIPE, SIG_IGN);
  CLI::App app{"kpdev: drive a card reader through the KP_DEV library", "kpdev"};
  kpdev::tool::Tool tool(app);
  tool.InstallAll();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end the same way, with status 0.  A usage
    // error is told in words, and with --json as a document like any
    // other failure's.
    if (e.get_exit_code() == 0) return app.exit(e);
    return tool.UsageFailure(e, argc, argv);
  }
  return tool.RunChosen();
}
