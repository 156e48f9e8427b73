// Three measurements of kpdevd against paced virtual readers:
// - one read-any-card pass (a contact bank card held by a type-61 reader at
//   115200 baud) through the service, in alternating rounds with the same
//   pass through the library in this process; the ratio of the medians;
// - the service's CPU time as a share of one core over 10 s while a client
//   is subscribed to a reader polled every 500 ms;
// - a card inserted into a reader 50 clients are subscribed to: the time
//   from the insert to the event at each client, against the poll interval.
#include "service.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kp_dev.h"
#include "sim_client.h"

namespace kpbench {

namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr int kReadPort = 27;
constexpr int kWatchPort = 28;
constexpr int kIntervalMs = 500;
constexpr int kSubscribers = 50;
const char kBankCard[] = "0 bank profile=pboc-debit-two-sfi";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// kpdevd as a child process on a free port.
class ServiceProcess {
 public:
  ServiceProcess(const std::string& executable, const std::vector<std::pair<std::string, std::string>>& env) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      setenv("XDG_CONFIG_HOME", "/nonexistent", 1);
      setenv("KPDEV_LOG", "off", 1);
      execl(executable.c_str(), executable.c_str(), "--port", "0", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const std::string prefix = "listening on http://127.0.0.1:";
    if (line.compare(0, prefix.size(), prefix) != 0) throw std::runtime_error("kpdevd did not start: " + line);
    port_ = std::atoi(line.c_str() + prefix.size());
  }
  ~ServiceProcess() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  int port() const { return port_; }
  // User and system time so far, in seconds.
  double CpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14 || i == 15) ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

class Client {
 public:
  Client(net::io_context& io, int port) : ws_(io) {
    tcp::resolver resolver(io);
    net::connect(ws_.next_layer(), resolver.resolve("127.0.0.1", std::to_string(port)));
    ws_.handshake("127.0.0.1:" + std::to_string(port), "/ws");
  }
  void Send(const std::string& text) { ws_.write(net::buffer(text)); }
  // The next message that contains `marker`.
  std::string Until(const std::string& marker) {
    for (;;) {
      beast::flat_buffer buffer;
      ws_.read(buffer);
      std::string text = beast::buffers_to_string(buffer.data());
      if (text.find(marker) != std::string::npos) return text;
    }
  }

 private:
  websocket::stream<tcp::socket> ws_;
};

bool LibraryPass() {
  int kind = 0;
  std::vector<char> text(4096, '\0');
  return KP_DEV_ReadAll_A(kReadPort, 0, 0, 0, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 1, 0, &kind, text.data()) == 0 &&
         kind == 3;
}

}  // namespace

int RunService(const std::string& simExecutable, const std::string& serviceExecutable, int rounds) {
  kpsim::SimProcess reader(simExecutable,
                           {"--family", "t61", "--device-baud", "115200", "--pacing", "on", "--insert", kBankCard});
  kpsim::SimProcess watched(simExecutable, {"--family", "t1", "--pacing", "on"});
  const std::string readVar = "KPDEV_COM" + std::to_string(kReadPort);
  setenv(readVar.c_str(), reader.port_path().c_str(), 1);
  ServiceProcess service(serviceExecutable, {{readVar, reader.port_path()},
                                             {"KPDEV_COM" + std::to_string(kWatchPort), watched.port_path()}});
  net::io_context io;
  Client client(io, service.port());

  std::printf("read-any-card pass (contact bank card, type 61, 115200 baud), paced:\n");
  std::printf("%-6s %12s %12s\n", "round", "library ms", "service ms");
  std::vector<double> direct, served;
  for (int round = 1; round <= rounds; ++round) {
    auto start = Clock::now();
    if (!LibraryPass()) throw std::runtime_error("the library's pass found no bank card");
    direct.push_back(Ms(Clock::now() - start));
    start = Clock::now();
    client.Send(R"({"id":1,"op":"read-all","port":)" + std::to_string(kReadPort) + R"(,"timeout":0})");
    const std::string answer = client.Until("\"command\"");
    served.push_back(Ms(Clock::now() - start));
    if (answer.find("\"exit\":0") == std::string::npos) throw std::runtime_error("service: " + answer);
    std::printf("%-6d %12.1f %12.1f\n", round, direct.back(), served.back());
  }
  const double ratio = Median(served) / Median(direct);
  std::printf("median library %.1f ms, service %.1f ms: ratio service/library = %.3f (target <= 1.02)\n\n",
              Median(direct), Median(served), ratio);

  // Idle: one subscriber, the reader polled every 500 ms, no card.
  client.Send(R"({"id":2,"op":"subscribe","port":)" + std::to_string(kWatchPort) + R"(,"interval":500})");
  client.Until("\"watching\"");
  const double cpuBefore = service.CpuSeconds();
  const auto idleStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(10));
  const double idleCpu = 100.0 * (service.CpuSeconds() - cpuBefore) / (Ms(Clock::now() - idleStart) / 1000.0);
  std::printf("idle with a subscribed client (poll every %d ms): CPU %.2f %% of a core (target < 0.5)\n\n", kIntervalMs,
              idleCpu);

  // 50 subscribers; a card inserted; each client's time to the event.
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kSubscribers; ++i) {
    clients.push_back(std::make_unique<Client>(io, service.port()));
    clients.back()->Send(R"({"id":3,"op":"subscribe","port":)" + std::to_string(kWatchPort) + "}");
    clients.back()->Until("\"subscribe\"");
  }
  kpsim::Control control(watched.control_port());
  std::vector<double> latency(kSubscribers, 0);
  const auto inserted = Clock::now();
  control.Ok("insert 0 cpu");
  std::vector<std::thread> readers;
  for (int i = 0; i < kSubscribers; ++i) {
    readers.emplace_back([&, i] {
      clients[static_cast<std::size_t>(i)]->Until("\"inserted\"");
      latency[static_cast<std::size_t>(i)] = Ms(Clock::now() - inserted);
    });
  }
  for (auto& t : readers) t.join();
  const double worst = *std::max_element(latency.begin(), latency.end());
  std::printf(
      "card inserted, %d subscribers: event after min %.1f, median %.1f, max %.1f ms "
      "(poll interval %d ms)\n",
      kSubscribers, *std::min_element(latency.begin(), latency.end()), Median(latency), worst, kIntervalMs);
  unsetenv(readVar.c_str());
  return 0;
}

}  // namespace kpbench
