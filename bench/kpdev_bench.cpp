// kpdev_bench: what the library costs on top of the line.
//
// One version request (command 0x3111) is timed two ways against the same
// responder, a kpdev-sim process of the type-1 family behind a
// pseudo-terminal at 9600 baud:
//   library  KP_DEV_GetDeviceVersion through the exported interface;
//   raw      the same request bytes written to the port, and the answer
//            frame read back with poll and read, nothing else.
// The two are measured in alternating rounds, so that a change in the
// machine's load touches both alike, and each is summarised by the median
// of its rounds.  The line "ratio library/raw = R" sums them up.
//
// When ser2net is installed, the library's exchange is also timed through
// it (rfc2217://127.0.0.1 in front of a third reader process): with the
// configuration the README gives for readers ("chardelay: false") and with
// ser2net's defaults, each set against the library on the pseudo-terminal
// ("ratio network/pty = R").
//
// Options: --rounds N (default 11), --exchanges N per round (default 1000).
// --paced: whole operations at real line speeds instead (paced.cpp); there
// --rounds N is the number of runs of each (default 3).
// --cancel: how soon a cancel ends the read-any-card calls (cancel.cpp);
// --rounds N cancels per call (default 60).

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cancel.h"
#include "kp_dev.h"
#include "paced.h"
#ifdef KPDEV_BENCH_SERVICE_PATH
#include "service.h"
#endif
#include "sim_client.h"

namespace {

using Clock = std::chrono::steady_clock;

// Version request: STX, length 0003, command 3111, data 00, checksum 20,
// ETX, every nibble as 0x30 + value.
const std::uint8_t kRequest[] = {0x02, 0x30, 0x30, 0x30, 0x33, 0x33, 0x31, 0x31, 0x31, 0x30, 0x30, 0x32, 0x30, 0x03};
constexpr int kTimeoutMs = 800;
constexpr int kComLibrary = 31;
constexpr int kComNetwork = 29;
constexpr int kComNetworkDefaults = 28;

std::string SimExecutable() {
  const char* override = std::getenv("KPDEV_SIM");
  if (override != nullptr && *override != '\0') return override;
  return KPDEV_BENCH_SIM_PATH;
}

// The host end of the line, opened as a plain program would: raw, 9600.
class RawPort {
 public:
  explicit RawPort(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("open " + path + ": " + std::strerror(errno));
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(fd_, TCSANOW, &tio);
    tcflush(fd_, TCIOFLUSH);
  }
  ~RawPort() { close(fd_); }
  RawPort(const RawPort&) = delete;
  RawPort& operator=(const RawPort&) = delete;

  // One request and its whole answer frame; false when it did not come.
  bool PingPong() {
    if (write(fd_, kRequest, sizeof kRequest) != static_cast<ssize_t>(sizeof kRequest)) return false;
    std::uint8_t frame[8192];
    if (!ReadExactly(frame, 5)) return false;
    std::size_t body = 0;
    for (int i = 1; i <= 4; ++i) body = body << 4 | (frame[i] & 0x0Fu);
    const std::size_t rest = 2 * body + 3;
    if (rest > sizeof frame - 5) return false;
    return ReadExactly(frame + 5, rest) && frame[5 + rest - 1] == 0x03;
  }

 private:
  bool ReadExactly(std::uint8_t* buffer, std::size_t count) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
    std::size_t have = 0;
    while (have < count) {
      const ssize_t n = read(fd_, buffer + have, count - have);
      if (n > 0) {
        have += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd fd{fd_, POLLIN, 0};
      poll(&fd, 1, static_cast<int>(left));
    }
    return true;
  }

  int fd_ = -1;
};

struct Options {
  int rounds = 11;
  int exchanges = 1000;
  bool paced = false;
  bool service = false;
  bool cancel = false;
  bool roundsGiven = false;
};

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--paced") {
      options->paced = true;
      continue;
    }
    if (option == "--service") {
      options->service = true;
      continue;
    }
    if (option == "--cancel") {
      options->cancel = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const int value = std::atoi(argv[++i]);
    if (value < 1) return false;
    if (option == "--rounds") {
      options->rounds = value;
      options->roundsGiven = true;
    } else if (option == "--exchanges") {
      options->exchanges = value;
    } else {
      return false;
    }
  }
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Mean microseconds per exchange over `count` exchanges; negative when one failed.
template <typename Exchange>
double TimeRound(int count, Exchange exchange) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (!exchange()) return -1;
  }
  const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
  return spent.count() / count;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: kpdev_bench [--rounds N] [--exchanges N] | --paced [--rounds N] | --service [--rounds N] |\n"
                 "       --cancel [--rounds N]\n");
    return 2;
  }
  if (options.service) {
#ifdef KPDEV_BENCH_SERVICE_PATH
    try {
      return kpbench::RunService(SimExecutable(), KPDEV_BENCH_SERVICE_PATH, options.roundsGiven ? options.rounds : 7);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kpdev_bench: %s\n", e.what());
      return 1;
    }
#else
    std::fprintf(stderr, "kpdev_bench: built without kpdevd\n");
    return 2;
#endif
  }
  if (options.cancel) {
    try {
      return kpbench::RunCancel(SimExecutable(), options.roundsGiven ? options.rounds : 60);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kpdev_bench: %s\n", e.what());
      return 1;
    }
  }
  if (options.paced) {
    try {
      return kpbench::RunPaced(SimExecutable(), options.roundsGiven ? options.rounds : 3);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kpdev_bench: %s\n", e.what());
      return 1;
    }
  }

  try {
    // Processes of the same program and configuration: one answers the
    // library, one the raw loop, and one each the library through ser2net,
    // so all stay open between rounds.
    const std::vector<std::string> args{"--family", "t1"};
    kpsim::SimProcess libSim(SimExecutable(), args);
    kpsim::SimProcess rawSim(SimExecutable(), args);
    const bool network = !kpsim::DeviceServer::Executable().empty();
    std::unique_ptr<kpsim::SimProcess> netSim, defaultSim;
    std::unique_ptr<kpsim::DeviceServer> server, defaultServer;
    if (network) {
      netSim = std::make_unique<kpsim::SimProcess>(SimExecutable(), args);
      defaultSim = std::make_unique<kpsim::SimProcess>(SimExecutable(), args);
      server = std::make_unique<kpsim::DeviceServer>(netSim->port_path(), kpsim::DeviceServer::Protocol::kRfc2217, 9600,
                                                     0, std::vector<std::string>{"chardelay: false"});
      defaultServer =
          std::make_unique<kpsim::DeviceServer>(defaultSim->port_path(), kpsim::DeviceServer::Protocol::kRfc2217);
    }

    // Opens COM<com> on `target` as a type-1 reader at 9600; its handle.
    auto open = [](int com, const std::string& target) {
      setenv(("KPDEV_COM" + std::to_string(com)).c_str(), target.c_str(), 1);
      int handle = 0;
      const std::string portText = "COM" + std::to_string(com) + ":9600:N:8:1";
      const int r = KP_DEV_OpenDevice(1, portText.c_str(), &handle);
      if (r != 0) throw std::runtime_error("KP_DEV_OpenDevice of " + target + " failed: " + std::to_string(r));
      return handle;
    };
    const int handle = open(kComLibrary, libSim.port_path());
    const int netHandle = network ? open(kComNetwork, server->Url()) : 0;
    const int defaultHandle = network ? open(kComNetworkDefaults, defaultServer->Url()) : 0;
    RawPort raw(rawSim.port_path());

    char version[4200];
    auto library = [&] { return KP_DEV_GetDeviceVersion(handle, version) == 0; };
    auto ping = [&] { return raw.PingPong(); };
    auto throughServer = [&] { return KP_DEV_GetDeviceVersion(netHandle, version) == 0; };
    auto throughDefaults = [&] { return KP_DEV_GetDeviceVersion(defaultHandle, version) == 0; };

    // Warm up every path (page faults, the responders' first answers).
    if (TimeRound(50, library) < 0 || TimeRound(50, ping) < 0 ||
        (network && (TimeRound(20, throughServer) < 0 || TimeRound(20, throughDefaults) < 0))) {
      std::fprintf(stderr, "kpdev_bench: the virtual reader did not answer\n");
      return 1;
    }

    std::printf("version exchange, type-1 firmware on a pseudo-terminal at 9600 baud\n");
    std::printf("%d rounds of %d exchanges each, alternating\n", options.rounds, options.exchanges);
    if (network) {
      std::printf(
          "network: the same through ser2net on 127.0.0.1 (\"chardelay: false\"); defaults: ser2net as shipped\n");
    }
    std::printf("\n%-6s %12s %12s %8s", "round", "library us", "raw us", "ratio");
    std::printf(network ? " %12s %8s %12s %8s\n" : "\n", "network us", "net/pty", "defaults us", "def/pty");
    std::vector<double> libTimes, rawTimes, netTimes, defaultTimes;
    // Exchanges through a server take milliseconds: fewer of them per round.
    const int netExchanges = std::max(1, options.exchanges / 10);
    for (int round = 0; round < options.rounds; ++round) {
      double lib = 0, rw = 0, net = 0, def = 0;
      // Alternate which goes first, so neither always runs on a warmer machine.
      if (round % 2 == 0) {
        lib = TimeRound(options.exchanges, library);
        rw = TimeRound(options.exchanges, ping);
      } else {
        rw = TimeRound(options.exchanges, ping);
        lib = TimeRound(options.exchanges, library);
      }
      if (network) {
        net = TimeRound(netExchanges, throughServer);
        def = TimeRound(netExchanges, throughDefaults);
      }
      if (lib < 0 || rw < 0 || net < 0 || def < 0) {
        std::fprintf(stderr, "kpdev_bench: an exchange failed in round %d\n", round + 1);
        return 1;
      }
      libTimes.push_back(lib);
      rawTimes.push_back(rw);
      std::printf("%-6d %12.1f %12.1f %8.2f", round + 1, lib, rw, lib / rw);
      if (network) {
        netTimes.push_back(net);
        defaultTimes.push_back(def);
        std::printf(" %12.1f %8.2f %12.1f %8.2f", net, net / lib, def, def / lib);
      }
      std::printf("\n");
    }
    for (int h : {handle, netHandle, defaultHandle}) {
      if (h != 0) KP_DEV_CloseDevice(h);
    }
    for (int com : {kComLibrary, kComNetwork, kComNetworkDefaults}) {
      unsetenv(("KPDEV_COM" + std::to_string(com)).c_str());
    }

    const double lib = Median(libTimes);
    const double rw = Median(rawTimes);
    std::printf("\nmedian   library %.1f us   raw %.1f us   (target: ratio <= 1.50)\n", lib, rw);
    std::printf("ratio library/raw = %.2f\n", lib / rw);
    if (network) {
      const double net = Median(netTimes);
      const double def = Median(defaultTimes);
      std::printf("median   through ser2net %.1f us, with its defaults %.1f us\n", net, def);
      std::printf("ratio network/pty = %.2f (ser2net's defaults: %.2f)\n", net / lib, def / lib);
    } else {
      std::printf("ser2net is not installed: no exchange through a device server\n");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kpdev_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
