// A device process that answers too late or goes away, seen through the
// exported interface: the call fails with its code and leaves the caller's
// text alone, the late answer is not taken for the next one, and a dead line
// fails every call at once.  (How each malformed answer is treated is the
// scripted device's to show, byte by byte.)
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "kp_dev.h"
#include "sim_client.h"
#include "wire/fixture.h"

using kptest::SimReader;

namespace {

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sim_.Open(1, 9600), 0);
    sim_.control().SetVersionBytes({0x56, 0x31, 0x2E, 0x30});
    sim_.ClearTraffic();
  }

  // GetDeviceVersion into a buffer filled with 'x'; the text, or the
  // untouched buffer, stays in text_.
  int Version() {
    std::memset(text_, 'x', sizeof text_);
    text_[sizeof text_ - 1] = '\0';
    return KP_DEV_GetDeviceVersion(sim_.handle(), text_);
  }
  // The next exchange, without faults, works and is in step.
  void ExpectRecovered() {
    sim_.control().ClearFaults();
    ASSERT_EQ(Version(), 0);
    EXPECT_STREQ(text_, "56312E30");
  }

  SimReader sim_{"t1"};
  char text_[2200];
};

TEST_F(FaultTest, AnswerLaterThanTheTimeoutIsAReadFailure) {
  // The late answer still reaches the line afterwards: no exchange follows.
  sim_.control().Fault("delay 1300");
  EXPECT_EQ(Version(), -4);
  EXPECT_EQ(text_[0], 'x');
  // Once it is there, the next exchange still gets its own answer.
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ExpectRecovered();
}

TEST_F(FaultTest, LateModuleReplyIsNotTakenForTheNextOne) {
  // A refusal that comes after its sequence gave up (500 ms) ...
  sim_.control().Fault("delay 900");
  sim_.control().Fault("modreply 1");
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim_.handle(), 1), -2);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  // ... is dropped before the next sequence, which gets its own '0'.
  sim_.control().ClearFaults();
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim_.handle(), 1), 0);
  ExpectRecovered();
}

// The reader's process is killed, its pseudo-terminal hangs up: every
// operation fails at once instead of waiting on the dead line.
TEST(DeadLine, EveryOperationFailsAtOnce) {
  SimReader sim("t1");
  ASSERT_EQ(sim.Open(2, 9600), 0);  // the magnetic head's module
  ASSERT_EQ(KP_DEV_Magnetic_Accept(sim.handle()), 0);
  ASSERT_EQ(::kill(sim.process().pid(), SIGKILL), 0);
  sim.process().Wait(std::chrono::seconds(5));
  const auto start = std::chrono::steady_clock::now();
  char t1[64] = "keep", t2[64] = "keep";
  // The head poll says "failed", not "nothing yet", every time.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(sim.handle(), t1, t2), -4);
  EXPECT_EQ(KP_DEV_Magnetic_CancelAccept(sim.handle()), -3);
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim.handle(), 2), -3);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_STREQ(t1, "keep");
}

}  // namespace
