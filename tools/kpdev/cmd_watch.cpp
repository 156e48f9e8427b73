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

namespace kpdev::tool {

namespace {

constexpr int kContactSeat = 0;
constexpr int kFieldSeat = 255;
constexpr int kEmpty = 1, kPresent = 2, kPowered = 3;

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

std::string Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  char text[40], out[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(out, sizeof out, "%s.%03ld", text, static_cast<long>(tv.tv_usec / 1000));
  return out;
}

// One event: a text line "TIME  WHERE  WHAT  DETAILS", or one JSON object.
void Event(const std::string& where, const std::string& what, const std::string& details,
           nlohmann::json fields = nlohmann::json::object(), const std::vector<std::string>& more = {}) {
  const std::string time = Now();
  fields["time"] = time;
  fields["where"] = where;
  fields["event"] = what;
  Report& out = Report::Get();
  out.Emit(fields);
  char line[160];
  std::snprintf(line, sizeof line, "%s  %-9s %-9s", time.c_str(), where.c_str(), what.c_str());
  out.Line(std::string(line) + (details.empty() ? "" : " " + details));
  out.Lines(more);
  // Nobody reads the events any more (the pipe's reader ended): stop as
  // for Ctrl-C, so the reader is closed properly.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) g_stopped = 1;
}

class Watcher {
 public:
  Watcher(Session& session, const WatchOptions& options) : session_(session), options_(options) {}

  // One round of questions; false when the reader did not answer.
  bool Poll() {
    int state = -1;
    int r = 0;
    if (contactServed_) {
      r = KP_DEV_IC_GetStatus(handle(), kContactSeat, &state);
      // A reader of another module (the magnetic head's) has no seats.
      if (r == KP_DEV_ERR_NOT_SUPPORTED) {
        contactServed_ = fieldServed_ = false;
      } else if (r != 0) {
        return Lost(r);
      } else {
        Contact(state);
      }
    }
    if (fieldServed_) {
      state = -1;
      r = KP_DEV_IC_GetStatus(handle(), kFieldSeat, &state);
      if (r == KP_DEV_ERR_NOT_SUPPORTED) {
        fieldServed_ = false;
      } else if (r != 0) {
        return Lost(r);
      } else {
        Field(state);
      }
    }
    if (headArmed_) Head();
    if (headBehindModule_) HeadThroughMagneticModule();
    if (idServed_) return Identity();
    return true;
  }

  void Start() {
    Event("reader", "watching",
          session_.PortSpec() + " type " + std::to_string(session_.reader().type) + " on " + session_.DevicePath() +
              ", every " + std::to_string(options_.intervalMs) + " ms",
          {{"device", session_.DevicePath()}, {"type", session_.reader().type}, {"interval_ms", options_.intervalMs}});
    ArmHead();
  }

  bool lost() const { return lost_; }

  // Reopens a lost reader; true once it answers again.
  bool Reopen() {
    KP_DEV_CloseDevice(handle());
    int h = 0;
    const std::string portText = session_.PortSpec();
    if (KP_DEV_OpenDevice(session_.reader().type, portText.c_str(), &h) != 0) return false;
    int state = -1;
    const int r = KP_DEV_IC_GetStatus(h, kContactSeat, &state);
    if (r != 0 && r != KP_DEV_ERR_NOT_SUPPORTED) return false;
    lost_ = false;
    contact_ = field_ = id_ = -1;
    Event("reader", "back", "answering again");
    ArmHead();
    return true;
  }

 private:
  int handle() const { return session_.handle(); }

  bool Lost(int r) {
    if (!lost_) {
      lost_ = true;
      Event("reader", "lost", ResultText(r) + "; retrying every " + std::to_string(options_.intervalMs) + " ms",
            {{"result", ResultJson(r)}});
    }
    return false;
  }

  void Contact(int state) {
    if (state == contact_) return;
    const int before = contact_;
    contact_ = state;
    const nlohmann::json code{{"state", {{"code", state}, {"name", CardStateName(state)}}}};
    if (state == kEmpty) {
      Event("seat 0", before < 0 ? "empty" : "removed", "", code);
      return;
    }
    if (state == kPresent || state == kPowered) {
      if (before <= kEmpty) Event("seat 0", "inserted", CardStateName(state), code);
      if (!options_.noPowerOn) PowerOn();
      return;
    }
    Event("seat 0", "state", std::to_string(state) + " (" + CardStateName(state) + ")", code);
  }

  void PowerOn() {
    char atr[80] = {};
    int length = 33;
    const int r = KP_DEV_IC_PowerOn(handle(), kContactSeat, &length, atr);
    if (r != 0) {
      Event("seat 0", "no-atr", ResultText(r), {{"result", ResultJson(r)}});
      return;
    }
    contact_ = kPowered;
    Bytes bytes;
    HexToBytes(atr, &bytes);
    const Atr parsed = ParseAtr(bytes);
    const nlohmann::json fields{{"atr", AtrDocument(atr)}};
    Event("seat 0", "powered", std::string("ATR ") + atr, fields, AtrLines(parsed, "    "));
  }

  void Field(int state) {
    if (state == field_) return;
    const int before = field_;
    field_ = state;
    if (state == kEmpty) {
      Event("field", before < 0 ? "empty" : "left", "");
      return;
    }
    if (state == kPresent && before != kPowered) {
      int type = 0, uidLen = 10, atsLen = 254;
      char uid[32] = {}, ats[520] = {};
      const int r = KP_DEV_IC_ConnectlessActive(handle(), &type, &uidLen, uid, &atsLen, ats);
      if (r != 0) {
        Event("field", "arrived", "(not activated: " + ResultText(r) + ")", {{"result", ResultJson(r)}});
        return;
      }
      field_ = kPowered;
      Event("field", "arrived",
            std::string("UID ") + uid + ", type " + Hex2Text(type) + (atsLen > 0 ? std::string(", ATS ") + ats : ""),
            {{"uid", uid}, {"type", Hex2Text(type)}, {"ats", atsLen > 0 ? ats : ""}});
      return;
    }
    if (state == kPowered && before <= kEmpty) {
      Event("field", "arrived", "(already activated)");
      return;
    }
    Event("field", "state", std::to_string(state) + " (" + CardStateName(state) + ")",
          {{"state", {{"code", state}, {"name", CardStateName(state)}}}});
  }

  void ArmHead() {
    headArmed_ = KP_DEV_Magnetic_Accept(handle()) == 0;
    // A type-1 reader serves its seats through the IC module; its head is
    // reached through the magnetic module, visited once per poll.
    headBehindModule_ = !headArmed_ && session_.reader().type == 1;
  }

  // Sleeps up to ms, cut short by Ctrl-C.
  static void Pause(int ms) {
    pollfd wait{g_stopPipe[0], POLLIN, 0};
    poll(&wait, 1, ms);
  }

  // One visit to the head of a type-1 reader: the port is reopened as a
  // type-2 reader (module B), the head armed, and a card swiped since the
  // last visit, which waited at the head, comes over and is read; the head
  // is then disarmed, so that a card swiped after the visit waits at the
  // head for the next one, and the port reopened as type 1 (module I).
  void HeadThroughMagneticModule() {
    constexpr int kHeadAnswerMs = 50;  // the head hands a waiting card over at once
    constexpr int kDisarmRaceMs = 30;  // a swipe just before the disarm is then on the line
    const std::string portText = session_.PortSpec();
    int h = 0;
    if (KP_DEV_OpenDevice(2, portText.c_str(), &h) == 0) {
      ReadHead(false);  // what the last visit's closing kept
      if (KP_DEV_Magnetic_Accept(h) == 0) {
        Pause(kHeadAnswerMs);
        ReadHead(false);
        KP_DEV_Magnetic_CancelAccept(h);
        Pause(kDisarmRaceMs);
      }
    }
    if (KP_DEV_OpenDevice(1, portText.c_str(), &h) != 0) Lost(KP_DEV_ERR_OPEN);
  }

  void Head() { ReadHead(true); }

  // The identity module's own presence check, without reading the card: the
  // tool asks on a line of its own while the library's handle is closed
  // (id_presence.h); a type-0 reader is reopened without a byte sent.
  bool Identity() {
    KP_DEV_CloseDevice(handle());
    const IdPresence presence = CheckIdentityCard(session_.DevicePath(), session_.reader().baud);
    int h = 0;
    const std::string portText = session_.PortSpec();
    const int r = KP_DEV_OpenDevice(session_.reader().type, portText.c_str(), &h);
    if (r != 0) return Lost(r);
    if (presence == IdPresence::kUnavailable || presence == IdPresence::kNoModule) {
      idServed_ = false;
      Event("id", "unwatched",
            presence == IdPresence::kNoModule ? "no identity module answered" : "the device cannot be asked directly");
      return true;
    }
    const int state = presence == IdPresence::kPresent ? kPresent : kEmpty;
    if (state == id_) return true;
    const int before = id_;
    id_ = state;
    if (state == kPresent) {
      Event("id", "present", "identity card present ('kpdev id read' reads it)");
    } else {
      Event("id", before < 0 ? "empty" : "removed", "");
    }
    return true;
  }

  // Reports the swipe the head has for us, if any; rearm: arm the head
  // again after a card (it is armed for one card and for 29 s).
  void ReadHead(bool rearm) {
    char track1[1024] = {}, track2[1024] = {};
    const int r = KP_DEV_Magnetic_ReadTrack(handle(), track1, track2);
    if (r == KP_DEV_NOTHING_YET) return;
    if (r == 0) {
      const Track t1 = ParseTrack1(track1), t2 = ParseTrack2(track2);
      const nlohmann::json fields{{"track1", TrackDocument(track1, true)}, {"track2", TrackDocument(track2)}};
      std::vector<std::string> more;
      for (const auto& [label, value] : TrackFields(t2.ok ? t2 : t1)) more.push_back("    " + label + " " + value);
      Event("head", "swipe",
            std::string("track1 ") + (track1[0] ? track1 : "-") + "  track2 " + (track2[0] ? track2 : "-"), fields,
            more);
    } else if (r != KP_DEV_ERR_WAIT) {
      Event("head", "failed", ResultText(r), {{"result", ResultJson(r)}});
    }
    if (rearm) ArmHead();
  }

  Session& session_;
  const WatchOptions& options_;
  int contact_ = -1;
  int field_ = -1;
  bool contactServed_ = true;
  bool fieldServed_ = true;
  bool headArmed_ = false;
  bool headBehindModule_ = false;
  bool idServed_ = session_.reader().type == 0;
  int id_ = -1;
  bool lost_ = false;
};

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
  Watcher watcher(session, options);
  watcher.Start();
  while (g_stopped == 0) {
    if (watcher.lost()) {
      watcher.Reopen();
    } else {
      watcher.Poll();
    }
    pollfd wait{g_stopPipe[0], POLLIN, 0};
    poll(&wait, 1, options.intervalMs);
  }
  Event("reader", "stopped", "");
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
