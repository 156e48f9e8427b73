// Whole operations at real line speeds.
//
// Each operation runs against its own kpdev-sim process with pacing on:
// every byte takes its wire time (10 bit times at the speed in force) and
// every answer the device's processing time for that command.  The floor of
// an operation is what the line and the device cannot do faster:
//
//   floor = wire time of the bytes exchanged (from the traffic log)
//         + the device times the virtual reader took (its device_us counter)
//         + the pauses the library is required to make
//         - the part of the line's work that happens during those pauses.
//
// The table gives the median time over the rounds, the floor, their ratio,
// and the process CPU time as a share of the wall time.
//
// A second table runs the same operations with a device server in between:
// Debian's ser2net on the reader's pseudo-terminal, reached through
// rfc2217://127.0.0.1 (the library sets the speed over the connection), in
// the configuration the README gives for readers ("chardelay: false").  The
// floor is the same; what the table adds per answer is the server's own
// part (a pass through ser2net and the loopback connection, and for each
// open a connection and the speed's acknowledgement).  Last, ser2net's
// default forwarding is measured on its own: it holds what the device sends
// until the line has been quiet for two character times, at least 1 ms.

#include "paced.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kp_dev.h"
#include "sim_client.h"

namespace kpbench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCom = 30;

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double WireMs(std::size_t bytes, int baud) { return static_cast<double>(bytes) * 10.0 * 1000.0 / baud; }

// How the library reaches the reader: its pseudo-terminal, or ser2net in
// front of it with these connection options.
struct Path {
  bool server = false;
  std::vector<std::string> options;
};
const Path kDirect{};
// What the README gives for readers: an answer is forwarded as it comes.
const Path kServer{true, {"chardelay: false"}};
const Path kServerDefaults{true, {}};

// One reader process serving COM<kCom>, directly or through ser2net.
class Sim {
 public:
  Sim(const std::string& executable, std::vector<std::string> args, const Path& path = kDirect) {
    args.insert(args.end(), {"--pacing", "on"});
    process_ = std::make_unique<kpsim::SimProcess>(executable, args);
    control_ = std::make_unique<kpsim::Control>(process_->control_port());
    std::string target = process_->port_path();
    if (path.server) {
      server_ =
          std::make_unique<kpsim::DeviceServer>(target, kpsim::DeviceServer::Protocol::kRfc2217, 9600, 0, path.options);
      target = server_->Url();
    }
    setenv(("KPDEV_COM" + std::to_string(kCom)).c_str(), target.c_str(), 1);
  }
  kpsim::Control& control() { return *control_; }

 private:
  std::unique_ptr<kpsim::SimProcess> process_;
  std::unique_ptr<kpsim::Control> control_;
  std::unique_ptr<kpsim::DeviceServer> server_;
};

std::string PortText(int baud) { return "COM" + std::to_string(kCom) + ":" + std::to_string(baud) + ":N:8:1"; }

struct Pause {
  const char* what;
  double ms;
};

// One timed run.
struct Sample {
  bool ok = false;
  double wallMs = 0, cpuMs = 0, wireMs = 0, deviceMs = 0, pausesMs = 0, overlapMs = 0;
  long long answers = 0;  // answers the device sent
  double floorMs() const { return wireMs + deviceMs + pausesMs - overlapMs; }
};

// What an operation needs: the reader process, the untimed preparation, the
// timed part, and how its traffic maps to line speeds and pauses.
struct Operation {
  std::string name;
  int baud = 9600;
  std::vector<std::string> simArgs;
  std::function<void(Sim&, int* handle)> prepare;  // opens the reader, puts cards in place
  std::function<bool(int* handle)> run;            // the timed part
  std::vector<Pause> pauses;
  // Speed of traffic segment i (default: the operation's speed).
  std::function<int(std::size_t)> segmentBaud;
  // Line work done while the library pauses, from the traffic and device time.
  // `rawMs` is the device time of a raw answer (the magnetic head's).
  std::function<double(const kpsim::WireTraffic&, int baud, double rawMs)> overlap;
};

// The "raw" entry of the device-time list ("... raw=1 ...").
double RawAnswerMs(kpsim::Control& control) {
  const std::string times = " " + control.Ok("device-time");
  const std::size_t at = times.find(" raw=");
  return at == std::string::npos ? 0 : std::atof(times.c_str() + at + 5);
}

Sample RunOnce(const std::string& executable, const Operation& op, const Path& path) {
  Sample s;
  Sim sim(executable, op.simArgs, path);
  int handle = 0;
  if (op.prepare) op.prepare(sim, &handle);
  sim.control().Clear();
  const double cpu0 = CpuMs();
  const Clock::time_point t0 = Clock::now();
  s.ok = op.run(&handle);
  s.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  s.cpuMs = CpuMs() - cpu0;
  const kpsim::WireTraffic traffic = sim.control().Traffic();
  const kpsim::SimStatus status = sim.control().Status();
  s.deviceMs = static_cast<double>(status.Number("device_us")) / 1000.0;
  s.answers = status.Number("answers");
  for (std::size_t i = 0; i < traffic.segments.size(); ++i) {
    const int baud = op.segmentBaud ? op.segmentBaud(i) : op.baud;
    s.wireMs += WireMs(traffic.segments[i].bytes.size(), baud);
  }
  for (const Pause& p : op.pauses) s.pausesMs += p.ms;
  if (op.overlap) s.overlapMs = op.overlap(traffic, op.baud, RawAnswerMs(sim.control()));
  if (handle != 0) KP_DEV_CloseDevice(handle);
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Line work inside a pause that starts when the host's first segment has
// been written: that segment, and the device's raw answer when one follows.
// Line work inside a pause that starts once the host has written `sent`
// bytes alone: those bytes, and the device's raw answer when one follows.
// (Unanswered, they run together with the host's next bytes and the pause
// covers only their own wire time.)
double FirstExchangeWithin(double pauseMs, std::size_t sent, const kpsim::WireTraffic& t, int baud, double rawMs) {
  double work = WireMs(sent, baud);
  if (t.segments.size() > 1 && t.segments[0].bytes.size() == sent && t.segments[1].tag == "D>H") {
    work += rawMs + WireMs(t.segments[1].bytes.size(), baud);
  }
  return std::min(pauseMs, work);
}

std::vector<Operation> Operations() {
  std::vector<Operation> ops;
  for (int baud : {9600, 115200}) {
    Operation open;
    open.name = "open + version (type 1)";
    open.baud = baud;
    open.simArgs = {"--family", "t1"};
    open.run = [baud](int* h) {
      if (KP_DEV_OpenDevice(1, PortText(baud).c_str(), h) != 0) return false;
      char version[256] = {};
      return KP_DEV_GetDeviceVersion(*h, version) == 0;
    };
    // The pause comes before the escape; the escape and its reply go at 9600.
    open.pauses = {{"100 ms after opening at 9600, before the module escape", 100}};
    open.segmentBaud = [baud](std::size_t i) { return i < 2 ? 9600 : baud; };
    ops.push_back(open);

    Operation apdu;
    apdu.name = "power on + one APDU";
    apdu.baud = baud;
    apdu.simArgs = {"--family", "t1", "--device-baud", std::to_string(baud), "--insert", "0 cpu"};
    apdu.prepare = [baud](Sim&, int* h) { KP_DEV_OpenDevice(5, PortText(baud).c_str(), h); };
    apdu.run = [](int* h) {
      char atr[128] = {};
      int atrLen = 60;
      char answer[128] = {};
      return KP_DEV_IC_PowerOn(*h, 0, &atrLen, atr) == 0 && KP_DEV_IC_SendApdu(*h, 0, 0, "0084000008", 10, answer) == 0;
    };
    ops.push_back(apdu);

    Operation info;
    info.name = "ReadICCardInfo (contact)";
    info.baud = baud;
    info.simArgs = {"--family",           "t1",       "--device-baud",
                    std::to_string(baud), "--insert", "0 bank profile=pboc-debit-two-sfi"};
    info.prepare = [baud](Sim&, int* h) {
      KP_DEV_OpenDevice(5, PortText(baud).c_str(), h);
      char atr[128] = {};
      int atrLen = 60;
      KP_DEV_IC_PowerOn(*h, 0, &atrLen, atr);
    };
    info.run = [](int* h) {
      char track2[128] = {}, panSeq[16] = {}, aid[64] = {};
      return KP_DEV_ReadICCardInfo(*h, 0, 0, track2, panSeq, aid) == 0;
    };
    ops.push_back(info);

    Operation mag;
    mag.name = "magnetic read after a swipe (type 2)";
    mag.baud = baud;
    mag.simArgs = {"--family", "t1", "--device-baud", std::to_string(baud)};
    mag.prepare = [baud](Sim& sim, int* h) {
      KP_DEV_OpenDevice(2, PortText(baud).c_str(), h);
      sim.control().Ok("module B");
      sim.control().Request("swipe B6222020200112233^TEST^2912101 6222020200112233=29121010000");
    };
    mag.run = [](int* h) {
      if (KP_DEV_Magnetic_Accept(*h) != 0) return false;
      char first[256] = {}, second[256] = {};
      const Clock::time_point limit = Clock::now() + std::chrono::seconds(5);
      int r = KP_DEV_NOTHING_YET;
      // The application polls; 1 ms between polls.
      while ((r = KP_DEV_Magnetic_ReadTrack(*h, first, second)) == KP_DEV_NOTHING_YET && Clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      return r == 0;
    };
    mag.pauses = {{"200 ms between the first track data seen and reading the tracks", 200}};
    // The host sees the track data once its receive FIFO hands over the
    // first eight bytes; the rest arrive during the pause.
    mag.overlap = [](const kpsim::WireTraffic& t, int baud, double) {
      if (t.segments.size() < 2) return 0.0;
      const std::size_t bytes = t.segments[1].bytes.size();
      return std::min(200.0, WireMs(bytes - std::min<std::size_t>(bytes, 8), baud));
    };
    ops.push_back(mag);

    Operation id;
    id.name = "identity-card read (type 0)";
    id.baud = baud;
    id.simArgs = {"--family", "t0", "--device-baud", std::to_string(baud), "--insert", "255 id"};
    id.prepare = [baud](Sim&, int* h) { KP_DEV_OpenDevice(0, PortText(baud).c_str(), h); };
    id.run = [](int* h) {
      static char fields[9][300];
      char* out[9];
      for (int i = 0; i < 9; ++i) out[i] = fields[i];
      return KP_DEV_ID_Read(*h, 3000, out) == 0;
    };
    ops.push_back(id);
  }

  // The read-any-card loop opens its own type-61 reader at 115200.
  struct Kind {
    const char* name;
    const char* card;
    const char* extra;
    int expected;
  };
  for (const Kind& k : {Kind{"magnetic", "swipe B6222020200112233^TEST^2912101 6222020200112233=29121010000", "", 0},
                        Kind{"store card", "insert 255 sector", "", 0},
                        Kind{"contact bank card", "insert 0 bank profile=pboc-debit-two-sfi", "", 0},
                        Kind{"contactless bank card", "insert 255 rf-bank profile=pboc-debit-two-sfi", "", 0},
                        Kind{"no card", "", "", KP_DEV_NOTHING_YET}}) {
    Operation pass;
    pass.name = std::string("read-any-card pass: ") + k.name;
    pass.baud = 115200;
    pass.simArgs = {"--family", "t61", "--device-baud", "115200"};
    const std::string card = k.card;
    pass.prepare = [card](Sim& sim, int*) {
      if (!card.empty()) sim.control().Request(card);
    };
    const int expected = k.expected;
    pass.run = [expected](int*) {
      int kind = 0;
      static char result[2048];
      return KP_DEV_ReadAll_A(kCom, 0, 0, 1, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 1, 0, &kind, result) == expected;
    };
    pass.pauses = {{"100 ms after arming the head", 100}};
    if (std::strcmp(k.name, "store card") == 0)
      pass.pauses.push_back({"50 ms between the two store-card activations", 50});
    pass.overlap = [](const kpsim::WireTraffic& t, int baud, double rawMs) {
      return FirstExchangeWithin(100, 3, t, baud, rawMs);  // ESC B ]
    };
    ops.push_back(pass);
  }
  return ops;
}

// Latency to the user: a card is presented (swiped, inserted, put in the
// field) at a moment spread over one pass of the read-any-card loop, and
// the time until KP_DEV_ReadAll_A returns it is taken.  "returned" counts
// the presentations read (the rest were lost); swipes are presented at 24
// moments at least.
void RunLatency(const std::string& executable, int samples) {
  constexpr int kSwipes = 24;
  struct Kind {
    const char* name;
    std::vector<std::string> present;  // control requests that present the card
    const char* remove;                // and take it away again ("" when the read consumed it)
    const char* expected;              // the result text
  };
  const Kind kinds[] = {
      {"magnetic",
       {"swipe B6222020200112233^TEST^2912101 6222020200112233=29121010000"},
       "",
       "B6222020200112233^TEST^2912101|6222020200112233=29121010000"},
      {"store card",
       {"insert 255 sector", "rf-block 4 00112233445566778899AABBCCDDEEFF"},
       "remove 255",
       "00112233445566778899AABBCCDDEEFF"},
      {"contact bank card",
       {"insert 0 bank profile=pboc-debit-two-sfi"},
       "remove 0",
       "6200001234567892D30122200000012340000F"},
      {"contactless bank card",
       {"insert 255 rf-bank profile=pboc-debit-two-sfi"},
       "remove 255",
       "6200001234567892D30122200000012340000F"},
  };
  // One pass without a card and the loop's 50 ms sleep, at about the floor
  // of the table above; the moments of presentation cover it evenly.
  constexpr double kCycleMs = 210;
  constexpr double kSettleMs = 400;  // the loop is in its stride by then
  std::printf("\nlatency from the card presented to KP_DEV_ReadAll_A returning it (type 61, 115200 baud),\n");
  std::printf("presentations per kind spread over one %.0f ms pass cycle\n\n", kCycleMs);
  std::printf("%-24s %9s %9s %9s %9s\n", "card kind", "min ms", "median ms", "max ms", "returned");
  for (const Kind& kind : kinds) {
    std::vector<double> latencies;
    int wrong = 0;
    const int count = std::strcmp(kind.name, "magnetic") == 0 ? std::max(samples, kSwipes) : samples;
    Sim sim(executable, {"--family", "t61", "--device-baud", "115200"});
    for (int i = 0; i < count; ++i) {
      const double delayMs = kSettleMs + kCycleMs * i / count;
      Clock::time_point presented{};
      std::thread presenter([&] {
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(delayMs * 1000)));
        presented = Clock::now();
        for (const std::string& request : kind.present) sim.control().Request(request);
      });
      int found = 0;
      static char result[2048];
      const int r = KP_DEV_ReadAll_A(kCom, 0, 1500, 1, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 1, 0, &found, result);
      const Clock::time_point returned = Clock::now();
      presenter.join();
      if (r == 0 && std::strcmp(result, kind.expected) != 0) ++wrong;
      if (r == 0) latencies.push_back(std::chrono::duration<double, std::milli>(returned - presented).count());
      if (kind.remove[0] != '\0') sim.control().Request(kind.remove);
      sim.control().Request("head drop");  // a swipe the loop missed is not kept for the next presentation
    }
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) {
      std::printf("%-24s  none of %d read\n", kind.name, count);
      continue;
    }
    const std::string returned = std::to_string(latencies.size()) + "/" + std::to_string(count);
    std::printf("%-24s %9.1f %9.1f %9.1f %9s", kind.name, latencies.front(), Median(latencies), latencies.back(),
                returned.c_str());
    if (wrong > 0) std::printf("   %d of %d read with wrong data", wrong, count);
    std::printf("\n");
  }
}

}  // namespace

namespace {

// The run whose time is the median.
const Sample& MedianRun(const std::vector<Sample>& samples) {
  std::vector<double> wall;
  for (const Sample& s : samples) wall.push_back(s.wallMs);
  const double median = Median(wall);
  return *std::min_element(samples.begin(), samples.end(), [median](const Sample& a, const Sample& b) {
    return std::abs(a.wallMs - median) < std::abs(b.wallMs - median);
  });
}

double ExtraPerAnswer(const Sample& m) {
  return m.answers > 0 ? (m.wallMs - m.floorMs()) / static_cast<double>(m.answers) : 0.0;
}

// One table: every operation `rounds` times, the run with the median time
// shown.  Through ser2net the table adds the answers the device sent and
// the time beyond the floor per answer.  false when an operation failed.
bool RunTable(const std::string& executable, int rounds, const Path& path, std::vector<std::string>* pauseNotes) {
  const bool network = path.server;
  std::printf("%-40s %7s %9s %8s %8s %8s %8s %9s %6s %6s", "operation", "baud", "time ms", "wire", "device", "pauses",
              "overlap", "floor ms", "ratio", "CPU %");
  std::printf(network ? " %7s %9s\n" : "\n", "answers", "extra/ans");
  bool allOk = true;
  const char* only = std::getenv("KPDEV_BENCH_ONLY");  // a part of an operation's name
  for (const Operation& op : Operations()) {
    if (only != nullptr && op.name.find(only) == std::string::npos) continue;
    std::vector<Sample> samples;
    for (int i = 0; i < rounds; ++i) samples.push_back(RunOnce(executable, op, path));
    bool ok = true;
    for (const Sample& s : samples) ok = ok && s.ok;
    const Sample& m = MedianRun(samples);
    std::printf("%-40s %7d %9.1f %8.1f %8.1f %8.1f %8.1f %9.1f %6.3f %6.2f", op.name.c_str(), op.baud, m.wallMs,
                m.wireMs, m.deviceMs, m.pausesMs, m.overlapMs, m.floorMs(), m.wallMs / m.floorMs(),
                100.0 * m.cpuMs / m.wallMs);
    if (network) {
      std::printf(" %7lld %9.2f", m.answers, ExtraPerAnswer(m));
    }
    std::printf("%s\n", ok ? "" : "  FAILED");
    for (const Pause& p : op.pauses) {
      const std::string note = std::string(p.what) + " (" + op.name.substr(0, op.name.find(':')) + ")";
      if (std::find(pauseNotes->begin(), pauseNotes->end(), note) == pauseNotes->end()) pauseNotes->push_back(note);
    }
    allOk = allOk && ok;
  }
  return allOk;
}

// ser2net's default forwarding against the configuration of the table: the
// time beyond the floor per answer of one short and one long operation.
void RunDefaultForwarding(const std::string& executable, int rounds) {
  std::printf("\nser2net's default forwarding (chardelay on), extra ms per answer against chardelay off:\n");
  for (const Operation& op : Operations()) {
    if (op.name != "power on + one APDU" && op.name != "ReadICCardInfo (contact)") continue;
    double extra[2] = {};
    for (int i = 0; i < 2; ++i) {
      std::vector<Sample> samples;
      for (int r = 0; r < rounds; ++r) samples.push_back(RunOnce(executable, op, i == 0 ? kServerDefaults : kServer));
      extra[i] = ExtraPerAnswer(MedianRun(samples));
    }
    std::printf("  %-28s %6d baud  defaults %5.2f   chardelay off %5.2f\n", op.name.c_str(), op.baud, extra[0],
                extra[1]);
  }
}

}  // namespace

int RunPaced(const std::string& executable, int rounds) {
  std::printf("whole operations against kpdev-sim with pacing on (wire time 10 bits/byte, device times)\n");
  std::printf("median of %d round(s); floor = wire + device + pauses - overlap (line work inside pauses)\n\n", rounds);
  std::vector<std::string> pauseNotes;
  bool allOk = RunTable(executable, rounds, kDirect, &pauseNotes);
  const bool server = !kpsim::DeviceServer::Executable().empty();
  if (server) {
    std::printf("\nthe same through ser2net (rfc2217://127.0.0.1, \"chardelay: false\") on the reader's line;\n");
    std::printf("extra/ans = (time - floor) / answers the device sent\n\n");
    allOk = RunTable(executable, rounds, kServer, &pauseNotes) && allOk;
  } else {
    std::printf("\nser2net is not installed: no table through a device server\n");
  }
  std::printf("\nrequired library pauses:\n");
  for (const std::string& note : pauseNotes) std::printf("  %s\n", note.c_str());
  if (std::getenv("KPDEV_BENCH_ONLY") == nullptr) {
    if (server) RunDefaultForwarding(executable, rounds);
    RunLatency(executable, std::max(4, 4 * rounds));
  }
  if (!allOk) {
    std::fprintf(stderr, "kpdev_bench: an operation failed\n");
    return 1;
  }
  return 0;
}

}  // namespace kpbench
