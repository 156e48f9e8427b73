// Several readers at once: one device cannot be opened twice (from another
// thread through another COM number naming it, or from another process),
// and readers on different ports open, work and close from different
// threads at the same time without disturbing each other.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kp_dev.h"
#include "support/sim_reader.h"

using kptest::SimReader;

namespace {

// A second COM number that names the same device as `sim`.
class Alias {
 public:
  explicit Alias(const SimReader& sim) : com_(kptest::ReserveComNumber()) {
    variable_ = "KPDEV_COM" + std::to_string(com_);
    setenv(variable_.c_str(), sim.path().c_str(), 1);
  }
  ~Alias() {
    KP_DEV_CloseDevice(com_);
    unsetenv(variable_.c_str());
    kptest::ReleaseComNumber(com_);
  }
  int com() const { return com_; }
  std::string PortSpec() const { return "COM" + std::to_string(com_) + ":9600:N:8:1"; }

 private:
  int com_;
  std::string variable_;
};

TEST(SamePort, SecondOpenFromAnotherThreadIsRefusedUntilTheFirstCloses) {
  SimReader sim("t0");
  Alias alias(sim);
  ASSERT_EQ(sim.Open(0, 9600), 0);

  int result = 99;
  int handle = -77;
  std::thread other([&] { result = KP_DEV_OpenDevice(0, alias.PortSpec().c_str(), &handle); });
  other.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(handle, -77);
  int module = -77;
  EXPECT_EQ(KP_DEV_CheckIsOpen(alias.com(), &module), -10);

  // The refused open left the first reader working.
  char version[64] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), version), 0);
  EXPECT_NE(version[0], '\0');

  ASSERT_EQ(sim.Close(), 0);
  std::thread again([&] { result = KP_DEV_OpenDevice(0, alias.PortSpec().c_str(), &handle); });
  again.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handle, alias.com());
}

TEST(SamePort, SecondOpenFromAnotherProcessIsRefused) {
  SimReader sim("t0");
  Alias alias(sim);
  ASSERT_EQ(sim.Open(0, 9600), 0);

  const std::string portText = alias.PortSpec();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child has its own registry; the port is held by the parent.
    int handle = -77;
    const int r = KP_DEV_OpenDevice(0, portText.c_str(), &handle);
    _exit(r == -1 && handle == -77 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the other process could open the port";

  char version[64] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), version), 0);
}

TEST(DifferentPorts, OpenUseAndCloseFromSeveralThreadsAtOnce) {
  struct Plan {
    const char* family;
    int type;
    int baud;
    std::string expected;  // the version text as the library reports it
  };
  std::vector<Plan> plans = {
      {"t1", 1, 115200, "5431"},  // hexadecimal text of "T1"
      {"t61", 61, 9600, "T61-B"},
      {"t0", 0, 38400, "543030303030"},
      {"t1", 5, 19200, "3542"},
  };
  // Every process and variable exists before the threads start.
  std::vector<std::unique_ptr<SimReader>> sims;
  for (const Plan& p : plans) {
    sims.push_back(std::make_unique<SimReader>(p.family));
  }
  sims[0]->control().SetVersion("T1");
  sims[1]->control().SetVersion("T61-B");
  sims[2]->control().SetVersion("T00000");
  sims[3]->control().SetVersion("5B");
  // Devices that are not switched by a module sequence must already run
  // at the speed they are opened at.
  sims[1]->control().SetDeviceBaud(9600);
  sims[2]->control().SetDeviceBaud(38400);
  sims[3]->control().SetDeviceBaud(19200);

  constexpr int kRounds = 4;
  std::vector<std::string> failures(plans.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < plans.size(); ++i) {
    threads.emplace_back([&, i] {
      const Plan& p = plans[i];
      SimReader& sim = *sims[i];
      for (int round = 0; round < kRounds && failures[i].empty(); ++round) {
        int handle = -1;
        int r = KP_DEV_OpenDevice(p.type, sim.PortSpec(p.baud).c_str(), &handle);
        if (r != 0 || handle != sim.com()) {
          failures[i] = "open " + std::to_string(r);
          break;
        }
        char version[64] = {};
        r = KP_DEV_GetDeviceVersion(handle, version);
        if (r != 0 || p.expected != version) {
          failures[i] = "version " + std::to_string(r) + " '" + version + "'";
        }
        int module = -1;
        if (KP_DEV_CheckIsOpen(handle, &module) != 0 || module != (p.type == 5 ? 0 : p.type)) {
          failures[i] = "module " + std::to_string(module);
        }
        r = KP_DEV_CloseDevice(handle);
        if (r != 0) failures[i] = "close " + std::to_string(r);
        if (KP_DEV_CheckIsOpen(handle, &module) != -10) failures[i] = "still open after close";
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < plans.size(); ++i) {
    EXPECT_EQ(failures[i], "") << plans[i].family << " type " << plans[i].type;
  }
  // The type-1 reader went back to 9600 on every close.
  EXPECT_EQ(sims[0]->Status("device_baud"), "9600");
}

}  // namespace
