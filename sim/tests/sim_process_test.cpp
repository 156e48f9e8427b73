// kpdev-sim as a process: the pseudo-terminal, the line speeds, the control
// interface and the client library, end to end.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "core/simulator.h"
#include "sim_client.h"

namespace kpsim {
namespace {

using std::chrono::milliseconds;

const Bytes kC003{0x02, 0x30, 0x30, 0x30, 0x32, 0x3C, 0x30, 0x30, 0x33, 0x3C, 0x33, 0x03};
const Bytes kOkAnswer{0x02, 0x30, 0x30, 0x30, 0x32, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x03};
constexpr milliseconds kAnswerWait{2000};
constexpr milliseconds kQuiet{300};

std::string LinkPath(const char* name) { return "/tmp/kpdev-sim-test-" + std::to_string(getpid()) + "-" + name; }

TEST(SimProcess, FollowsTheHostOnlyWhenBothSidesSwitchSpeed) {
  SimProcess sim(KPDEV_SIM_PATH);
  Control control(sim.control_port());
  HostPort port(sim.port_path(), 9600);
  port.Write({0x1B, '$', 'I', '4'});
  EXPECT_EQ(port.Read(2, kAnswerWait), (Bytes{0x1B, '0'}));

  // The device is at 115200 now: at 9600 the host is not understood.
  port.Write(kC003);
  EXPECT_TRUE(port.ReadUntilQuiet(kQuiet).empty());
  SimStatus status = control.Status();
  EXPECT_EQ(status.Get("device_baud"), "115200");
  EXPECT_EQ(status.Get("host_baud"), "9600");
  EXPECT_EQ(status.Number("noise_bytes"), 12);

  port.SetBaud(115200);
  port.Write(kC003);
  EXPECT_EQ(port.Read(kOkAnswer.size(), kAnswerWait), kOkAnswer);
  const WireTraffic traffic = control.Traffic();
  EXPECT_EQ(traffic.host_to_device,
            (Bytes{0x1B, '$', 'I', '4', 0x02, 0x30, 0x30, 0x30, 0x32, 0x3C, 0x30, 0x30, 0x33, 0x3C, 0x33, 0x03}));
  EXPECT_EQ(traffic.host_noise, kC003);
  EXPECT_EQ(traffic.device_to_host,
            (Bytes{0x1B, '0', 0x02, 0x30, 0x30, 0x30, 0x32, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x03}));
}

TEST(SimProcess, RefusesBadCommandLines) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--family", "t7"},
                                                                                    {"--device-baud", "14400"},
                                                                                    {"--bogus"},
                                                                                    {"--version-hex", "XY"},
                                                                                    {"--lifeline", "99"}}) {
    EXPECT_THROW(SimProcess(KPDEV_SIM_PATH, args), SimError) << args[0];
  }
}

TEST(SimProcess, HostCloseDiscardsUnreadAnswersAndLiftsExclusiveUse) {
  SimProcess sim(KPDEV_SIM_PATH);
  Control control(sim.control_port());
  auto wait_opens = [&control](int opens) {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    while (control.Status().Number("host_open") != opens && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    return control.Status().Number("host_open");
  };
  {
    HostPort port(sim.port_path(), 9600);
    EXPECT_EQ(wait_opens(1), 1);
    ASSERT_EQ(ioctl(port.fd(), TIOCEXCL), 0);
    port.Write(kC003);
    ASSERT_EQ(wait_opens(1), 1);
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    while (control.Status().Number("answers") < 1 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(10));
    }
  }
  EXPECT_EQ(wait_opens(0), 0);
  const int fd = open(sim.port_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  int exclusive = -1;
  ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  std::uint8_t stale[64];
  EXPECT_EQ(read(fd, stale, sizeof stale), -1) << "the answer nobody read must be gone";
  close(fd);
}

TEST(SimProcess, QuitAndSignalsEndTheProcessAndRemoveTheLink) {
  const std::string link = LinkPath("quit");
  {
    SimProcess sim(KPDEV_SIM_PATH, {"--link", link});
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(sim.port_path(), target);
    Control control(sim.control_port());
    control.Quit();
    const int status = sim.Wait(kAnswerWait);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat gone {};
    EXPECT_NE(lstat(link.c_str(), &gone), 0);
  }
  {
    SimProcess sim(KPDEV_SIM_PATH, {"--link", link});
    const int status = sim.Terminate();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat gone {};
    EXPECT_NE(lstat(link.c_str(), &gone), 0);
  }
}

// The program that started the reader ended (killed, crashed, hung up):
// the reader sees its lifeline close and ends as for SIGTERM.
TEST(SimProcess, EndOfTheLifelineEndsTheProcessAndRemovesTheLink) {
  const std::string link = LinkPath("lifeline");
  int lifeline[2], out[2];
  ASSERT_EQ(pipe(lifeline), 0);
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(lifeline[1]);
    dup2(lifeline[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    execl(KPDEV_SIM_PATH, KPDEV_SIM_PATH, "--pacing", "off", "--link", link.c_str(), "--lifeline", "0",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(lifeline[0]);
  close(out[1]);
  std::string started;
  char buffer[256];
  for (ssize_t n; started.find("ready\n") == std::string::npos && (n = read(out[0], buffer, sizeof buffer)) > 0;) {
    started.append(buffer, static_cast<std::size_t>(n));
  }
  close(out[0]);
  ASSERT_NE(started.find("ready\n"), std::string::npos) << started;
  struct stat there {};
  EXPECT_EQ(lstat(link.c_str(), &there), 0);
  close(lifeline[1]);
  int status = -1;
  const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
  while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  if (!WIFEXITED(status)) kill(pid, SIGKILL);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  struct stat gone {};
  EXPECT_NE(lstat(link.c_str(), &gone), 0);
}

TEST(SimProcess, ControlInterfaceIsPlainLinesForAnyClient) {
  SimProcess sim(KPDEV_SIM_PATH);
  Control first(sim.control_port());
  Control second(sim.control_port());
  EXPECT_EQ(first.Request("bogus"), "err unknown request 'bogus' (try help)");
  EXPECT_EQ(second.Request("ping"), "ok");

  // Several requests in one packet, CR LF endings, a half-closed peer:
  // every line is answered, in order.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(sim.control_port()));
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string requests = "version\r\nfault nonstx\nfault\n";
  ASSERT_EQ(send(fd, requests.data(), requests.size(), 0), static_cast<ssize_t>(requests.size()));
  shutdown(fd, SHUT_WR);
  std::string replies;
  char buffer[512];
  for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
    replies.append(buffer, static_cast<std::size_t>(got));
  close(fd);
  EXPECT_EQ(replies, "ok 4B502D54312056322E3130\nok\nerr usage: fault KIND [ARG] [COUNT] | fault clear\n");
  EXPECT_EQ(first.Status().Get("faults"), "nonstx:1");
}

TEST(SimClient, StartupFailuresAreReportedWithinTheDeadline) {
  const auto start = std::chrono::steady_clock::now();
  // Never prints "ready".
  EXPECT_THROW(SimProcess("/bin/sleep", {"30"}, milliseconds(300)), SimError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // Ends at once.
  EXPECT_THROW(SimProcess("/bin/true"), SimError);
  EXPECT_THROW(SimProcess("/nonexistent/kpdev-sim"), SimError);
}

TEST(SimClient, ControlPortCanBeChosenAndOverlongRequestsAreSkipped) {
  int free_port = 0;
  {
    // Ask the system for a free port, then give it back.
    SimProcess probe(KPDEV_SIM_PATH);
    free_port = probe.control_port();
  }
  SimProcess sim(KPDEV_SIM_PATH, {"--control-port", std::to_string(free_port)});
  EXPECT_EQ(sim.control_port(), free_port);
  Control control(sim.control_port());
  EXPECT_EQ(control.Request("status " + std::string(200 * 1024, 'x')), "err request line too long");
  EXPECT_EQ(control.Request("ping"), "ok") << "the rest of the long line is skipped, the connection stays";
}

TEST(SimInProcess, ServesThePortWhileOtherThreadsSendControlRequests) {
  SimOptions options;
  options.reader.family = Family::kT61;
  Simulator simulator(options);
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;
  std::thread loop([&simulator] { simulator.Run(); });

  EXPECT_EQ(simulator.Control("version T61"), "ok");
  HostPort port(simulator.slave_path(), 9600);
  port.Write({0x1B, 'e', 0x00});
  EXPECT_EQ(port.Read(4, kAnswerWait), (Bytes{'T', '6', '1', 0x00}));
  Control control(simulator.control_port());
  EXPECT_EQ(control.Status().Get("family"), "t61");

  simulator.Stop();
  loop.join();
  EXPECT_EQ(simulator.Control("ping"), "ok") << "without the loop, requests are handled directly";
}

}  // namespace
}  // namespace kpsim
