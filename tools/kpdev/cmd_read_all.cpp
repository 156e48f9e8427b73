// The read-any-card loop.
//
//   kpdev read-all [--port N] [--timeout S] [--store-card [--sector S] [--block B]
//                  [--key-type T] [--key HEX]] [--no-contact] [--no-contactless]
//                  [--sim-card bank|rf-bank|magnetic|sector|none] [--sim-profile NAME]
//                  [--sim-swipe "TRACK1 TRACK2"] [--sim-block HEX] [--sim-after MS]
//
// The library opens the reader on COM<port> itself (device type 61 at
// 115200 baud) and tries, pass after pass, the identity card, the magnetic
// stripe and the enabled chip cards until one is read or the time is up.
// The tool shows the seconds left while it waits and prints the card kind
// and the data read.  Ctrl-C cancels the wait cleanly: the signal handler
// only records the signal and wakes a watcher thread, which calls
// KP_DEV_CancelReadAll; the loop then ends after its current pass.
//
// With --sim the tool starts a virtual reader of the type-61 family on the
// port and presents a card, by default a contact bank card
// (pboc-debit-two-sfi) before the loop starts, or --sim-after MS later.
// The identity card is read through the sibling identity library, which
// the virtual reader does not replace.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "documents.h"
#include "kp_dev.h"
#include "session.h"

#ifdef KPDEV_TOOL_WITH_SIM
#include "sim_client.h"
#endif

namespace kpdev::tool {

namespace {

constexpr int kNothingYet = KP_DEV_NOTHING_YET;
// The reader the loop opens.
constexpr int kLoopType = 61;
constexpr int kLoopBaud = 115200;
constexpr int kKeyA = 0x60;
// Result texts: nine identity fields of up to 259 characters each, joined.
constexpr std::size_t kResultRoom = 4096;
constexpr char kDefaultProfile[] = "pboc-debit-two-sfi";
// A bank card's two tracks; no track character is also a framing byte of
// the head's stream.
constexpr char kSampleTrack1[] = "B6222020200112233^TEST^2912101";
constexpr char kSampleTrack2[] = "6222020200112233=29121010000";
constexpr char kSampleBlock[] = "4B5044455620535452474520424C4B31";  // "KPDEV STRGE BLK1"

struct ReadAllOptions {
  int port = 1;
  int timeoutS = 30;
  bool storeCard = false;
  int sector = 1;
  int block = 0;
  std::string keyType = "A";
  std::string key = "FFFFFFFFFFFF";
  bool noContact = false;
  bool noContactless = false;
  std::string simCard = "bank";
  std::string simProfile = kDefaultProfile;
  std::string simSwipe;
  std::string simBlock = kSampleBlock;
  int simAfterMs = 0;
};

void PrintCard(int kind, const std::string& result) {
  Report& out = Report::Get();
  out.Field("kind", std::to_string(kind) + " (" + CardKindName(kind) + ")",
            {{"code", kind}, {"name", CardKindName(kind)}});
  switch (kind) {
    case 1: {
      const std::vector<std::string> tracks = SplitBars(result);
      ReportTrack("track1", tracks.empty() ? "" : Visible(tracks[0]), true);
      ReportTrack("track2", tracks.size() < 2 ? "" : Visible(tracks[1]));
      break;
    }
    case 2:
      out.Field("block", result);
      break;
    case 3:
    case 4:
      ReportTrack("track2", result);
      break;
    case 5: {
      static const char* const kLabels[] = {"name",   "sex",       "nation",   "birth", "address",
                                            "number", "authority", "validity", "photo"};
      const std::vector<std::string> fields = SplitBars(result);
      out.SetLabelWidth(10);
      for (std::size_t i = 0; i < fields.size() && i < 9; ++i) out.Field(kLabels[i], Visible(fields[i]));
      break;
    }
    default:
      out.Field("data", Visible(result));
  }
}

// Starts a message line on stderr: on a terminal the countdown line is
// cleared first.
const char* LineStart() { return isatty(2) ? "\r\033[K" : ""; }

// ------------------------------------------------------------ Ctrl-C

// Written by the signal handler, read by the watcher thread.
volatile sig_atomic_t g_interrupted = 0;
int g_wakePipe[2] = {-1, -1};

extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
  const char byte = 'i';
  // Only async-signal-safe calls here; a full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t ignored = write(g_wakePipe[1], &byte, 1);
}

// While it lives, SIGINT cancels the read-any-card loop: the handler wakes
// this watcher, which calls KP_DEV_CancelReadAll from an ordinary thread.
class InterruptWatcher {
 public:
  InterruptWatcher() {
    if (pipe(g_wakePipe) != 0) return;
    fcntl(g_wakePipe[1], F_SETFL, O_NONBLOCK);
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
    installed_ = true;
    thread_ = std::thread([this] { Watch(); });
  }
  ~InterruptWatcher() {
    if (!installed_) return;
    sigaction(SIGINT, &previous_, nullptr);
    const char quit = 'q';
    [[maybe_unused]] const ssize_t ignored = write(g_wakePipe[1], &quit, 1);
    thread_.join();
    close(g_wakePipe[0]);
    close(g_wakePipe[1]);
    g_wakePipe[0] = g_wakePipe[1] = -1;
  }
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

  bool interrupted() const { return g_interrupted != 0; }

 private:
  // Every Ctrl-C cancels again: one that came before the loop started its
  // pass would otherwise be lost, since the loop clears the cancel at its
  // start.
  void Watch() {
    for (;;) {
      pollfd wait{g_wakePipe[0], POLLIN, 0};
      if (poll(&wait, 1, -1) < 0) continue;  // EINTR: the signal itself
      char byte = 0;
      if (read(g_wakePipe[0], &byte, 1) != 1) continue;
      if (byte == 'q') return;
      if (g_interrupted) {
        std::fprintf(stderr, "%skpdev: interrupted; cancelling the read\n", LineStart());
        KP_DEV_CancelReadAll();
      }
    }
  }

  struct sigaction previous_ {};
  bool installed_ = false;
  std::thread thread_;
};

// ------------------------------------------------------------ the virtual reader's card

#ifdef KPDEV_TOOL_WITH_SIM
bool Present(SimHost& sim, const ReadAllOptions& o) {
  std::vector<std::string> lines;
  if (o.simCard == "bank") {
    lines.push_back("insert 0 bank profile=" + o.simProfile);
  } else if (o.simCard == "rf-bank") {
    lines.push_back("insert 255 rf-bank profile=" + o.simProfile);
  } else if (o.simCard == "magnetic") {
    lines.push_back("swipe " + (o.simSwipe.empty() ? std::string(kSampleTrack1) + " " + kSampleTrack2 : o.simSwipe));
  } else if (o.simCard == "sector") {
    lines.push_back("insert 255 sector");
    lines.push_back("rf-block " + std::to_string(o.sector * 4 + o.block) + " " + o.simBlock);
  }
  try {
    for (const std::string& line : lines) sim.control().Ok(line);
  } catch (const kpsim::SimError& e) {
    std::fprintf(stderr, "%skpdev: virtual reader: %s\n", LineStart(), e.what());
    return false;
  }
  if (!lines.empty())
    std::fprintf(stderr, "%skpdev: virtual reader: %s card presented\n", LineStart(), o.simCard.c_str());
  return true;
}
#endif

// ------------------------------------------------------------ the read

// The outcome of the library call, handed from the worker thread.
struct Outcome {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  int result = 0;
  int kind = 0;
  char text[kResultRoom] = {};
};

int CheckReaderAnswers(int port);

int Run(const GlobalOptions& global, ReadAllOptions o) {
  if (o.simCard == "sector") o.storeCard = true;
  // Ctrl-C is taken over before anything is started, so that it always
  // ends in an orderly way (the virtual reader stopped by its host).
  InterruptWatcher watcher;
  SimHost sim;
  if (global.sim) {
    // The loop opens the reader at 115200 baud itself: the virtual reader
    // runs at that speed from the start.
    // The virtual reader runs in a process group of its own, so Ctrl-C on
    // the terminal reaches only this tool, which cancels the loop and then
    // stops the reader itself.
    const bool started = sim.Start(global, global.simFamily.empty() ? "t61" : global.simFamily, o.port, kLoopBaud);
    if (!started) return kExitSimFailed;
    std::fprintf(stderr, "kpdev: virtual reader on %s as COM%d\n", sim.path().c_str(), o.port);
  }

  bool presented = !global.sim;
#ifdef KPDEV_TOOL_WITH_SIM
  // A card presented from the start is there for the first pass.
  if (!presented && o.simAfterMs == 0) {
    presented = true;
    if (!Present(sim, o)) return kExitSimFailed;
  }
#endif

  if (watcher.interrupted()) {
    Report::Get().Failed("cancelled, no card read");
    return kExitInterrupted;
  }
  // A port without a reader would otherwise look like a reader without a
  // card: the reader must answer its version request first.
  if (const int e = CheckReaderAnswers(o.port)) return e;
  Outcome outcome;
  int keyType = kKeyA;
  ParseKeyType(o.keyType, &keyType);
  const unsigned timeoutMs = static_cast<unsigned>(o.timeoutS) * 1000u;
  std::thread worker([&] {
    int kind = 0;
    std::vector<char> text(kResultRoom, '\0');
    const int r = KP_DEV_ReadAll_A(o.port, 0, timeoutMs, o.storeCard ? 1 : 0, o.sector, o.block, keyType, o.key.c_str(),
                                   o.noContact ? 0 : 1, o.noContactless ? 0 : 1, 0, &kind, text.data());
    std::lock_guard<std::mutex> lock(outcome.mutex);
    outcome.result = r;
    outcome.kind = kind;
    std::snprintf(outcome.text, sizeof outcome.text, "%s", text.data());
    outcome.done = true;
    outcome.changed.notify_all();
  });

  // The countdown, redrawn each second until the worker reports; the card
  // of the virtual reader is presented when its moment comes.
  const bool tty = isatty(2) != 0;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(o.timeoutS);
  const auto presentAt = start + std::chrono::milliseconds(o.simAfterMs);
  bool presentFailed = false;
  {
    std::unique_lock<std::mutex> lock(outcome.mutex);
    while (!outcome.done) {
      const auto now = std::chrono::steady_clock::now();
#ifdef KPDEV_TOOL_WITH_SIM
      if (!presented && now >= presentAt) {
        presented = true;
        lock.unlock();
        presentFailed = !Present(sim, o);
        if (presentFailed) KP_DEV_CancelReadAll();
        lock.lock();
        continue;
      }
#endif
      if (tty && o.timeoutS > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - now).count();
        std::fprintf(stderr, "\r\033[Kwaiting for a card on COM%d: %lld s left (Ctrl-C cancels)", o.port,
                     static_cast<long long>(left > 0 ? left : 0));
        std::fflush(stderr);
      }
      auto wake = now + std::chrono::seconds(1);
      if (!presented && presentAt < wake) wake = presentAt;
      outcome.changed.wait_until(lock, wake);
    }
  }
  worker.join();
  if (tty) std::fputs("\r\033[K", stderr);

  if (presentFailed) return kExitSimFailed;
  if (outcome.result == 0) {
    PrintCard(outcome.kind, outcome.text);
    return kExitOk;
  }
  if (outcome.result == kNothingYet && watcher.interrupted()) {
    Report::Get().Failed("cancelled, no card read");
    return kExitInterrupted;
  }
  if (outcome.result == kNothingYet) {
    Report::Get().Failed("no card within " + std::to_string(o.timeoutS) + " s");
    return kExitNoCard;
  }
  return ReportFailure("KP_DEV_ReadAll_A on COM" + std::to_string(o.port), outcome.result);
}

// 0 when a reader of the loop's type answers on COM<port>; else the exit
// code, after saying why.
int CheckReaderAnswers(int port) {
  ReaderOptions reader;
  reader.port = port;
  reader.type = kLoopType;
  reader.baud = kLoopBaud;
  GlobalOptions none;
  Session session(none, reader);
  if (!session.Open()) return session.FailureExit();
  char version[4200] = {};
  const int r = KP_DEV_GetDeviceVersion(session.handle(), version);
  if (r != 0) {
    Report::Get().CallFailed("KP_DEV_GetDeviceVersion on COM" + std::to_string(port), r,
                             "no reader answering on " + session.DevicePath() + " at 115200 baud as type 61");
    return kExitNoReader;
  }
  return kExitOk;
}

void Install(Tool& tool) {
  auto o = std::make_shared<ReadAllOptions>();
  CLI::App* cmd = tool.AddCommand(
      "read-all", "wait for any card (magnetic, store card, bank card, identity card) and print what it holds",
      [&tool, o]() -> int {
        int keyType = 0;
        if (!ParseKeyType(o->keyType, &keyType)) return UsageError(kKeyTypeGrammar);
        if (!NormaliseHex(&o->key) || o->key.size() != 12) return UsageError("--key takes 6 bytes of hex (12 digits)");
        if (o->simCard == "sector" && (!NormaliseHex(&o->simBlock) || o->simBlock.size() != 32)) {
          return UsageError("--sim-block takes 16 bytes of hex");
        }
        return Run(tool.global(), *o);
      });
  cmd->add_option("-p,--port", o->port, "COM number the library opens the reader on (type 61, 115200 baud)")
      ->check(CLI::Range(1, 32))
      ->capture_default_str();
  cmd->add_option("--timeout", o->timeoutS, "seconds to wait; 0 makes one pass")
      ->check(CLI::Range(0, 3600))
      ->capture_default_str();
  cmd->add_flag("--store-card", o->storeCard, "try a contactless store card: read --block of --sector");
  cmd->add_option("--sector", o->sector, "store card: sector")->check(CLI::Range(0, 15))->capture_default_str();
  cmd->add_option("--block", o->block, "store card: block in the sector")
      ->check(CLI::Range(0, 3))
      ->capture_default_str();
  cmd->add_option("--key-type", o->keyType, std::string("store card: ") + kKeyTypeHelp)->capture_default_str();
  cmd->add_option("--key", o->key, "store card: key, hex")->capture_default_str();
  cmd->add_flag("--no-contact", o->noContact, "do not try a contact bank card");
  cmd->add_flag("--no-contactless", o->noContactless, "do not try a contactless bank card");
  cmd->add_option("--sim-card", o->simCard, "with --sim: the card presented")
      ->check(CLI::IsMember({"bank", "rf-bank", "magnetic", "sector", "none"}))
      ->capture_default_str();
  cmd->add_option("--sim-profile", o->simProfile, "with --sim: profile of the bank card (name or path)")
      ->capture_default_str();
  cmd->add_option("--sim-swipe", o->simSwipe, "with --sim-card magnetic: \"TRACK1 TRACK2\" (- for an empty track)");
  cmd->add_option("--sim-block", o->simBlock, "with --sim-card sector: the block's 16 bytes, hex")
      ->capture_default_str();
  cmd->add_option("--sim-after", o->simAfterMs, "with --sim: present the card after MS milliseconds")
      ->check(CLI::Range(0, 3600000))
      ->capture_default_str();
}

}  // namespace

KPDEV_TOOL_COMMANDS(read_all, Install);

}  // namespace kpdev::tool
