// Subcommands of the magnetic stripe head.
//
//   kpdev mag read  [--timeout S] [--sim-swipe WORDS]
//     arms the head, waits for a card to be swiped (showing the time left)
//     and prints both tracks.
//   kpdev mag write [--track1 TEXT] [--track2 TEXT] [--timeout S]
//                   [--sim-swipe WORDS] [--sim-fail]
//     arms the head for writing, waits for the card to be swiped and
//     reports whether the head wrote it.
//
// The head answers only when a card passes it, and the library offers no
// event for that: it is polled, as its interface prescribes, with a pause
// between two polls.  With --sim the tool swipes a card through the
// virtual reader's control interface once the head is armed (WORDS are the
// words of its "swipe" request: TRACK1 TRACK2, "-" for an empty track).

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

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
constexpr int kArmExpired = KP_DEV_ERR_WAIT;
constexpr int kWriteRefused = KP_DEV_ERR_MAG_WRITE;
// The head's own limit on the reader types that have one.
constexpr int kDefaultTimeoutS = 29;
constexpr auto kPollPause = std::chrono::milliseconds(100);
// The head sends what a card carries; a track holds a few hundred bytes at
// most, and the library writes them without a terminator into buffers the
// caller zero-fills.
constexpr std::size_t kTrackRoom = 1024;

// The default card of "mag read --sim": a bank card's two tracks.
constexpr char kSampleSwipe[] = "%B6222020200112233^LI/MING^29121010000? ;6222020200112233=29121010000?";

struct MagOptions {
  ReaderOptions reader;
  int timeoutS = kDefaultTimeoutS;
  std::string simSwipe;
  bool simSwipeGiven = false;
  bool simFail = false;
  std::string track1;
  std::string track2;
};

// Shows the seconds left on one terminal line; prints nothing when stderr
// is not a terminal.
class Countdown {
 public:
  Countdown(const char* what, int seconds)
      : what_(what), deadline_(std::chrono::steady_clock::now() + std::chrono::seconds(seconds)), tty_(isatty(2)) {}
  ~Countdown() { Done(); }

  bool Expired() const { return std::chrono::steady_clock::now() >= deadline_; }
  void Show() {
    if (!tty_) return;
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline_ - std::chrono::steady_clock::now());
    const long seconds = static_cast<long>(left.count()) + 1;
    if (seconds == shown_) return;
    shown_ = seconds;
    std::fprintf(stderr, "\r%s: %ld s left ", what_, seconds);
    std::fflush(stderr);
  }
  void Done() {
    if (tty_ && shown_ >= 0) std::fputs("\r\033[K", stderr);
    shown_ = -1;
  }

 private:
  const char* what_;
  std::chrono::steady_clock::time_point deadline_;
  bool tty_;
  long shown_ = -1;
};

// Swipes a card through the virtual reader; false after printing why.
bool SimSwipe(Session& session, const std::string& words) {
#ifdef KPDEV_TOOL_WITH_SIM
  try {
    const std::string reply = session.sim().control().Request("swipe" + (words.empty() ? "" : " " + words));
    if (reply.rfind("ok", 0) != 0) {
      std::fprintf(stderr, "kpdev: virtual reader refused the swipe: %s\n", reply.c_str());
      return false;
    }
    std::fprintf(stderr, "kpdev: virtual reader: card swiped (%s)\n", reply.c_str());
    return true;
  } catch (const kpsim::SimError& e) {
    std::fprintf(stderr, "kpdev: virtual reader: %s\n", e.what());
    return false;
  }
#else
  (void)session;
  (void)words;
  return false;
#endif
}

// Calls `poll` until it reports something other than "nothing yet" or the
// time is up; the last result, or nothing-yet when the time ran out.
template <typename Poll>
int PollUntil(const char* what, int timeoutS, Poll poll) {
  Countdown countdown(what, timeoutS);
  for (;;) {
    const int r = poll();
    if (r != kNothingYet) return r;
    if (countdown.Expired()) return kNothingYet;
    countdown.Show();
    std::this_thread::sleep_for(kPollPause);
  }
}

int RunRead(const GlobalOptions& global, const MagOptions& options) {
  Session session(global, options.reader);
  if (!session.Open()) return session.FailureExit();
  const int handle = session.handle();

  const int a = KP_DEV_Magnetic_Accept(handle);
  if (a != 0) return ReportFailure("KP_DEV_Magnetic_Accept", a);
  if (session.simulated() && !SimSwipe(session, options.simSwipeGiven ? options.simSwipe : kSampleSwipe)) {
    return kExitSimFailed;
  }

  auto track1 = std::make_unique<char[]>(kTrackRoom);
  auto track2 = std::make_unique<char[]>(kTrackRoom);
  const int r = PollUntil("waiting for a swipe", options.timeoutS, [&] {
    std::fill_n(track1.get(), kTrackRoom, '\0');
    std::fill_n(track2.get(), kTrackRoom, '\0');
    return KP_DEV_Magnetic_ReadTrack(handle, track1.get(), track2.get());
  });
  if (r == kNothingYet) {
    KP_DEV_Magnetic_CancelAccept(handle);
    Report::Get().Failed("no card swiped within " + std::to_string(options.timeoutS) + " s");
    return kExitNoCard;
  }
  if (r == kArmExpired) Report::Get().Note("the head's 29-second arm ran out");
  if (r != 0) return ReportFailure("KP_DEV_Magnetic_ReadTrack", r);

  ReportTrack("track1", Visible(track1.get()), true);
  ReportTrack("track2", Visible(track2.get()));
  return kExitOk;
}

int RunWrite(const GlobalOptions& global, const MagOptions& options) {
  if (options.track1.empty() && options.track2.empty()) {
    return UsageError("give --track1, --track2 or both");
  }
  Session session(global, options.reader);
  if (!session.Open()) return session.FailureExit();
  const int handle = session.handle();

  if (session.simulated() && options.simFail && !SimRequest(session, "head fail-write")) return kExitSimFailed;
  const int w = KP_DEV_Magnetic_WaitForWriteTrack(handle, options.track1.c_str(), options.track2.c_str());
  if (w != 0) return ReportFailure("KP_DEV_Magnetic_WaitForWriteTrack", w);
  // The card to be written: a blank one unless told otherwise.
  if (session.simulated() && !SimSwipe(session, options.simSwipe)) return kExitSimFailed;

  const int r =
      PollUntil("swipe the card to write", options.timeoutS, [&] { return KP_DEV_Magnetic_ConfirmWriteTrack(handle); });
  if (r == kNothingYet) {
    KP_DEV_Magnetic_CancelWriteTrack(handle);
    Report::Get().Failed("no card swiped within " + std::to_string(options.timeoutS) + " s");
    return kExitNoCard;
  }
  if (r == kWriteRefused) Report::Get().Note("the head reports that it could not write the card");
  if (r != 0) return ReportFailure("KP_DEV_Magnetic_ConfirmWriteTrack", r);
  nlohmann::json written = nlohmann::json::array();
  if (!options.track1.empty()) written.push_back("track1");
  if (!options.track2.empty()) written.push_back("track2");
  Report::Get().Field("written", written.size() == 2 ? "track1 and track2" : written[0].get<std::string>(), written);
  return kExitOk;
}

void AddWaitOptions(CLI::App* command, MagOptions* options) {
  AddReaderOptions(command, &options->reader, ReaderDefaults{2, 9600});
  command->add_option("--timeout", options->timeoutS, "seconds to wait for the swipe")
      ->check(CLI::Range(1, 3600))
      ->capture_default_str();
}

void Install(Tool& tool) {
  auto read = std::make_shared<MagOptions>();
  auto write = std::make_shared<MagOptions>();
  CLI::App* mag = tool.AddCommand("mag", "read or write a magnetic stripe card", [&tool, read, write]() -> int {
    CLI::App* chosen = tool.app().get_subcommand("mag");
    if (chosen->get_subcommand("read")->parsed()) return RunRead(tool.global(), *read);
    if (chosen->get_subcommand("write")->parsed()) return RunWrite(tool.global(), *write);
    return kExitUsage;
  });
  mag->require_subcommand(1);

  CLI::App* readCmd = mag->add_subcommand("read", "arm the head, wait for a swipe and print both tracks");
  AddWaitOptions(readCmd, read.get());
  readCmd
      ->add_option_function<std::string>(
          "--sim-swipe",
          [read](const std::string& words) {
            read->simSwipe = words;
            read->simSwipeGiven = true;
          },
          "with --sim: the card swiped, as the words of the virtual reader's swipe request (TRACK1 TRACK2, - for "
          "an empty track; default: a bank card)")
      ->type_name("WORDS");

  CLI::App* writeCmd = mag->add_subcommand("write", "write one or both tracks to the next card swiped");
  AddWaitOptions(writeCmd, write.get());
  writeCmd->add_option("--track1", write->track1, "text of the first track, sent as it is");
  writeCmd->add_option("--track2", write->track2, "text of the second track, sent as it is");
  writeCmd->add_option("--sim-swipe", write->simSwipe, "with --sim: the card swiped to be written (default: blank)")
      ->type_name("WORDS");
  writeCmd->add_flag("--sim-fail", write->simFail, "with --sim: the head fails to write the card");
}

}  // namespace

KPDEV_TOOL_COMMANDS(mag, Install);

}  // namespace kpdev::tool
