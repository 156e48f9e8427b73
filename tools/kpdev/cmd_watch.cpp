// kpdev watch: a live, timestamped stream of what happens on one reader,
// until Ctrl-C.
//
//   kpdev watch [--port N] [--type T] [--baud B] [--interval MS] [--no-power-on]
//
// Every --interval milliseconds the tool asks the reader for the state of
// the contact seat (0) and of the contactless field (255) and, where the
// reader has a magnetic head, whether a card was swiped (a type-1 reader's
// head answers only in the magnetic module: each poll switches to it and
// back, and a card swiped in between waits at the head).  It reports what
// changed: a contact card inserted, powered (its answer to reset decoded;
// the tool powers a new card on unless --no-power-on), removed; a
// contactless card arrived (activated: UID and type) or left; a swipe with
// its tracks split; on a type-0 reader, an identity card present or taken
// away (the identity module's own presence check: the card is not read;
// `kpdev id read` reads it).  With --json every event is one JSON object
// per line.
//
// When the reader stops answering (unplugged), "reader lost" is reported
// and the tool keeps reopening it every interval until it answers again
// ("reader back"); Ctrl-C ends the watch with exit code 130.  The reader is
// asked, never waited on: between two polls the tool sleeps in poll() on
// the Ctrl-C pipe, so a watch costs next to no processor time.
//
// With --sim the virtual reader starts empty and the tool prints its
// control port on stderr; cards are inserted and removed there ("insert 0
// cpu", "remove 0", "insert 255 rf-cpu", "swipe ...").

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "decode.h"
#include "id_presence.h"
#include "kp_dev.h"
#include "session.h"
#include "watcher.h"

namespace kpdev::tool {

namespace {

struct WatchOptions {
  ReaderOptions reader;
  int intervalMs = 500;
  bool noPowerOn = false;
};

int g_stopPipe[2] = {-1, -1};
volatile sig_atomic_t g_stopped = 0;

extern "C" void OnStop(int) {
  g_stopped = 1;
  const char byte = 's';
  [[maybe_unused]] const ssize_t ignored = write(g_stopPipe[1], &byte, 1);
}

// Prints one event: its text lines, or its JSON object.
void Print(const WatchEvent& event) {
  Report& out = Report::Get();
  out.Emit(event.fields);
  out.Lines(event.lines);
  // Nobody reads the events any more (the pipe's reader ended): stop as
  // for Ctrl-C, so the reader is closed properly.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) g_stopped = 1;
}

// Sleeps up to ms, cut short by Ctrl-C.
void Pause(int ms) {
  pollfd wait{g_stopPipe[0], POLLIN, 0};
  poll(&wait, 1, ms);
}

int Run(const GlobalOptions& global, const WatchOptions& options) {
  if (pipe(g_stopPipe) != 0) return ReportFailure("pipe", -1);
  fcntl(g_stopPipe[1], F_SETFL, O_NONBLOCK);
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);  // the terminal went away

  Session session(global, options.reader);
  if (!session.Open()) return session.FailureExit();
  if (session.simulated()) {
    // bash's /dev/tcp needs nothing beyond what Debian installs; bash -c
    // makes the line work from any shell.
    const std::string port = std::to_string(session.sim().controlPort());
    Report::Get().Note("virtual reader on " + session.sim().path() + ", control port " + port +
                       "; to present a card, run in another terminal:");
    std::fprintf(stderr, "  bash -c 'exec 3<>/dev/tcp/127.0.0.1/%s; echo \"$*\" >&3; head -n1 <&3' - insert 0 cpu\n",
                 port.c_str());
    std::fprintf(stderr, "  (other requests instead of 'insert 0 cpu': remove 0, insert 255 rf-cpu,%s swipe, help)\n",
                 session.reader().type == 0 ? " insert 255 id," : "");
  }
  WatchTarget target;
  target.port = session.reader().port;
  target.type = session.reader().type;
  target.baud = session.reader().baud;
  target.intervalMs = options.intervalMs;
  target.powerOn = !options.noPowerOn;
  target.opened = true;
  target.identity = [](const std::string& device, int baud) { return CheckIdentityCard(device, baud); };
  target.pause = Pause;
  Watcher watcher(target, Print);
  watcher.Start(
      session.PortSpec() + " type " + std::to_string(session.reader().type) + " on " + session.DevicePath() +
          ", every " + std::to_string(options.intervalMs) + " ms",
      {{"device", session.DevicePath()}, {"type", session.reader().type}, {"interval_ms", options.intervalMs}});
  while (g_stopped == 0) {
    if (watcher.lost()) {
      watcher.Reopen();
    } else {
      watcher.Poll();
    }
    pollfd wait{g_stopPipe[0], POLLIN, 0};
    poll(&wait, 1, options.intervalMs);
  }
  Print(MakeWatchEvent("reader", "stopped", ""));
  return kExitInterrupted;
}

void Install(Tool& tool) {
  auto options = std::make_shared<WatchOptions>();
  CLI::App* watch =
      tool.AddCommand("watch", "report cards inserted, removed, arriving, leaving and swiped until Ctrl-C",
                      [&tool, options] { return Run(tool.global(), *options); });
  AddReaderOptions(watch, &options->reader);
  watch->add_option("-i,--interval", options->intervalMs, "milliseconds between two polls of the reader")
      ->check(CLI::Range(50, 60000))
      ->capture_default_str();
  watch->add_flag("--no-power-on", options->noPowerOn, "do not power a newly inserted contact card on (no ATR)");
}

}  // namespace

KPDEV_TOOL_COMMANDS(watch, Install);

}  // namespace kpdev::tool
