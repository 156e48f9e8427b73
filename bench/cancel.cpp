// Cancel latency of the read-any-card calls against the virtual reader
// (pacing on: bytes take their wire time, commands their device time).
//
// KP_DEV_ReadAll, magnetic wait: the call runs with a timeout below 300 ms,
// so its wait for a swipe ends only with a cancel.  Once the head's arm is
// on the wire the wait is on; the cancel comes at a random moment of the
// next 600 ms (two rounds of the wait's 300 ms poll).  What is timed is
// cancel -> return, which also holds the second type-1 attempt every
// cancelled wait is followed by (a fixed tail: the minimum shows it).
//
// KP_DEV_ReadAll_A: the loop runs with a long timeout and is cancelled at a
// random moment of two pass cycles.  A cancel ends it at the end of the
// pass, or at once in the pause between passes.
//
// Never lost: the same calls, cancelled at random moments over their whole
// run (also while the chip cards are tried, before the wait); a call that
// does not return within 5 s of its cancel is cancelled again and counted.
// 100 calls (as many as --rounds when more; 10 when --rounds is below 10).

#include "cancel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kp_dev.h"
#include "sim_client.h"

namespace kpbench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCom = 29;
constexpr int kLostAfterMs = 5000;

double MsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

void SleepMs(double ms) { std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(ms * 1000))); }

// One paced reader process behind COM<kCom>.
struct Reader {
  Reader(const std::string& executable, std::vector<std::string> args) {
    args.insert(args.end(), {"--pacing", "on"});
    process = std::make_unique<kpsim::SimProcess>(executable, args);
    control = std::make_unique<kpsim::Control>(process->control_port());
    setenv(("KPDEV_COM" + std::to_string(kCom)).c_str(), process->port_path().c_str(), 1);
  }
  // Waits (up to 5 s) until the host has sent `bytes` since the last clear.
  bool WaitSent(const kpsim::Bytes& bytes) {
    for (const auto limit = Clock::now() + std::chrono::seconds(5); Clock::now() < limit;) {
      const kpsim::Bytes sent = control->Traffic().host_to_device;
      if (std::search(sent.begin(), sent.end(), bytes.begin(), bytes.end()) != sent.end()) return true;
      SleepMs(2);
    }
    return false;
  }
  std::unique_ptr<kpsim::SimProcess> process;
  std::unique_ptr<kpsim::Control> control;
};

int ReadAll(unsigned timeoutMs) {
  int kind = 0;
  static char result[2048];
  return KP_DEV_ReadAll(kCom, 0, timeoutMs, 1, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 1, 0, &kind, result);
}

int ReadAllA(unsigned timeoutMs) {
  int kind = 0;
  static char result[2048];
  return KP_DEV_ReadAll_A(kCom, 0, timeoutMs, 1, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 1, 0, &kind, result);
}

struct Outcome {
  std::vector<double> latencies;  // cancel -> return, ms
  int lost = 0;                   // returned only after a second cancel
  int wrong = 0;                  // returned something but "no card"
};

// Runs `call` on this thread and cancels it from another once `moment`
// (run there, blocking until the moment) returns.
template <typename Call, typename Moment>
void CancelOnce(Call call, Moment moment, Outcome* out) {
  std::atomic<bool> returned{false};
  Clock::time_point cancelled{};
  bool rescued = false;
  std::thread canceller([&] {
    moment();
    cancelled = Clock::now();
    KP_DEV_CancelReadAll();
    while (!returned) {
      SleepMs(5);
      if (!rescued && MsBetween(cancelled, Clock::now()) > kLostAfterMs) {
        rescued = true;
        KP_DEV_CancelReadAll();
      }
    }
  });
  const int r = call();
  const Clock::time_point back = Clock::now();
  returned = true;
  canceller.join();
  if (r != KP_DEV_NOTHING_YET) ++out->wrong;
  if (rescued) ++out->lost;
  out->latencies.push_back(MsBetween(cancelled, back));
}

void Print(const char* what, Outcome o) {
  std::sort(o.latencies.begin(), o.latencies.end());
  const std::size_t n = o.latencies.size();
  const double median = n % 2 == 1 ? o.latencies[n / 2] : (o.latencies[n / 2 - 1] + o.latencies[n / 2]) / 2;
  std::printf("%-44s %7zu %9.1f %9.1f %9.1f %6d %6d\n", what, n, o.latencies.front(), median, o.latencies.back(),
              o.lost, o.wrong);
}

}  // namespace

int RunCancel(const std::string& simExecutable, int moments) {
  std::mt19937 random(std::random_device{}());
  auto uniform = [&](double from, double to) { return std::uniform_real_distribution<double>(from, to)(random); };
  const kpsim::Bytes kArm = {0x1B, 0x42, 0x5D};  // ESC B ]: the type-2 wait has begun
  std::printf("cancel -> return of the read-any-card calls, virtual reader paced, cancels at random moments\n\n");
  std::printf("%-44s %7s %9s %9s %9s %6s %6s\n", "call, where the cancel comes", "cancels", "min ms", "median ms",
              "max ms", "lost", "wrong");

  // A short run (the test suite's) keeps the never-lost loop short too.
  const int loop = moments < 10 ? 10 : std::max(moments, 100);
  Outcome wait;
  Outcome pass;
  Outcome anywhere;
  {
    Reader reader(simExecutable, {"--family", "t1"});
    for (int i = 0; i < moments; ++i) {
      reader.control->Clear();
      CancelOnce([] { return ReadAll(100); },
                 [&] {
                   reader.WaitSent(kArm);
                   SleepMs(uniform(0, 600));
                 },
                 &wait);
    }
    Print("KP_DEV_ReadAll, during the magnetic wait", wait);
    for (int i = 0; i < loop / 2; ++i) {
      CancelOnce([] { return ReadAll(100); }, [&] { SleepMs(uniform(0, 1500)); }, &anywhere);
    }
  }
  {
    Reader reader(simExecutable, {"--family", "t61", "--device-baud", "115200"});
    for (int i = 0; i < moments; ++i) {
      CancelOnce([] { return ReadAllA(60000); }, [&] { SleepMs(uniform(300, 720)); }, &pass);
    }
    Print("KP_DEV_ReadAll_A, anywhere in its passes", pass);
    for (int i = 0; i < loop - loop / 2; ++i) {
      CancelOnce([] { return ReadAllA(60000); }, [&] { SleepMs(uniform(0, 720)); }, &anywhere);
    }
  }
  Print("both, anywhere in the call (never lost)", anywhere);
  unsetenv(("KPDEV_COM" + std::to_string(kCom)).c_str());
  return wait.lost + pass.lost + anywhere.lost + wait.wrong + pass.wrong + anywhere.wrong == 0 ? 0 : 1;
}

}  // namespace kpbench
