// After a fault the line is back in step: the faulted call ends with its
// code within its timeout, and the next call gets its own answer, even when
// the faulted answer reaches the line after its command gave up.  And a
// reader that goes away (its process killed, the line hung up) fails every
// operation at once instead of letting a wait spin on the dead line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "kp_dev.h"
#include "support/sim_reader.h"

using kptest::Bytes;
using kptest::Hex;
using kptest::SimReader;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char kAtr[] = "3B0211AA";

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// CPU time (user and system) of this process in milliseconds.
long long CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000LL + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

class Recovery : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.control().Ok(std::string("insert 0 cpu atr=") + kAtr);
    ASSERT_EQ(sim_.Open(1, 9600), 0);
    sim_.control().SetVersionBytes({0x56, 0x31});
  }
  int Version() {
    std::memset(version_, 'x', sizeof version_ - 1);
    return KP_DEV_GetDeviceVersion(sim_.handle(), version_);
  }
  // Power on seat 0: its own answer is the card's answer to reset.
  void ExpectOwnAtr() {
    int room = 64;
    char atr[130] = {};
    ASSERT_EQ(KP_DEV_IC_PowerOn(sim_.handle(), 0, &room, atr), 0);
    EXPECT_STREQ(atr, kAtr);
  }

  SimReader sim_{"t1"};
  char version_[256] = {};
};

TEST_F(Recovery, EveryFaultKindEndsInTimeAndTheNextCallGetsItsOwnAnswer) {
  struct Case {
    const char* fault;
    int result;
    long long mostMs;  // within the 800 ms timeout of each read
  };
  const Case cases[] = {
      {"silent", -4, 1000},
      {"nonstx", 0, 1000},
      {"badetx", -8, 1000},
      {"short", -4, 1000},
      {"status 1001", -305, 1000},
      {"oversize", -8, 3000},
      {"garbage", 0, 1000},
      {"badsum", 0, 1000},
      // The answer arrives 700 ms after its command gave up: it must not be
      // read as the power-on's answer.
      {"delay 1500", -4, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    sim_.control().Fault(c.fault);
    const auto start = Clock::now();
    EXPECT_EQ(Version(), c.result);
    EXPECT_LE(MsSince(start), c.mostMs);
    if (c.result == 0) {
      EXPECT_STREQ(version_, "5631");
    }
    // Whatever the device still had to say is on the line now.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    ExpectOwnAtr();
    sim_.control().ClearFaults();
  }
}

TEST_F(Recovery, LateModuleReplyIsNotTakenForTheNextOne) {
  // A refusal that comes after its sequence gave up (500 ms) ...
  sim_.control().Fault("delay 900");
  sim_.control().Fault("modreply 1");
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim_.handle(), 1), -2);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  // ... is dropped before the next sequence, which gets its own '0'.
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim_.handle(), 1), 0);
  ExpectOwnAtr();
}

// The reader's process is killed: its pseudo-terminal hangs up.
void Kill(SimReader& sim) {
  ASSERT_EQ(::kill(sim.process().pid(), SIGKILL), 0);
  sim.process().Wait(std::chrono::seconds(5));
}

TEST(DeadLine, EveryOperationFailsAtOnce) {
  SimReader sim("t1");
  ASSERT_EQ(sim.Open(2, 9600), 0);  // the magnetic head's module
  ASSERT_EQ(KP_DEV_Magnetic_Accept(sim.handle()), 0);
  Kill(sim);
  const auto start = Clock::now();
  char t1[64] = "keep", t2[64] = "keep";
  // The head poll says "failed", not "nothing yet", every time.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(sim.handle(), t1, t2), -4);
  EXPECT_EQ(KP_DEV_Magnetic_CancelAccept(sim.handle()), -3);
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim.handle(), 2), -3);
  EXPECT_LT(MsSince(start), 200);
  EXPECT_STREQ(t1, "keep");
}

TEST(DeadLine, ReadAllMagneticWaitEndsWithoutSpinning) {
  SimReader sim("t1");
  std::thread killer([&] {
    // Once the head is armed (ESC B ]), the wait for a swipe is running.
    const Bytes arm = kptest::HexBytes("1B425D");
    for (int i = 0; i < 500; ++i) {
      const std::string line = Hex(sim.Traffic().host_to_device);
      if (line.find(Hex(arm)) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Kill(sim);
  });
  int kind = -1;
  char result[256] = "keep";
  const auto start = Clock::now();
  const long long cpuStart = CpuMs();
  const int r = KP_DEV_ReadAll(sim.com(), 0, 20000, 0, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 0, 0, &kind, result);
  const long long wall = MsSince(start);
  const long long cpu = CpuMs() - cpuStart;
  killer.join();
  EXPECT_EQ(r, -4);
  EXPECT_LT(wall, 5000);  // not the 20 s of its timeout
  // The wait sleeps: a few per cent of one core at most, killer included.
  EXPECT_LE(cpu, wall / 20 + 20);
  EXPECT_STREQ(result, "keep");
}

}  // namespace

namespace {

TEST(NullOutputs, RefusedBeforeAnythingIsSent) {
  SimReader sim("t0");
  ASSERT_EQ(sim.Open(0, 9600), 0);
  sim.ClearTraffic();
  EXPECT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), nullptr), -5);
  EXPECT_EQ(KP_DEV_ID_GetData(sim.handle(), 1, nullptr), -5);
  EXPECT_EQ(KP_DEV_ID_GetData(sim.handle(), 10, nullptr), 0);  // no such field: nothing to write
  EXPECT_TRUE(sim.Traffic().host_to_device.empty());
}

}  // namespace
