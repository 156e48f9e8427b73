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
#include "sim_client.h"
#include "wire/fixture.h"

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

}  // namespace
