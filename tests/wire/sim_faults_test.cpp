// A misbehaving device, seen through the exported interface: answers that
// never come, come late, come out of step, end wrongly, carry an error
// status or more than the library's buffer holds.  Each case checks the
// result, that the caller's text is left alone on failure, how many
// requests went out, and that the next exchange is in step again.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <string>

#include "kp_dev.h"
#include "sim_client.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::FromHex;
using kptest::SimReader;

namespace {

const Bytes kVersionFrame = FromHex("02 30 30 30 33 33 31 31 31 30 30 32 30 03");

// How many times `frame` occurs in `line`.
std::size_t Occurrences(const Bytes& line, const Bytes& frame) {
  std::size_t count = 0;
  for (std::size_t at = 0; at + frame.size() <= line.size(); ++at) {
    if (std::memcmp(line.data() + at, frame.data(), frame.size()) == 0) ++count;
  }
  return count;
}

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
  std::size_t RequestsSent() { return Occurrences(sim_.Traffic().host_to_device, kVersionFrame); }
  // The next exchange, without faults, works and is in step.
  void ExpectRecovered() {
    sim_.control().ClearFaults();
    ASSERT_EQ(Version(), 0);
    EXPECT_STREQ(text_, "56312E30");
  }

  SimReader sim_{"t1"};
  char text_[2200];
};

TEST_F(FaultTest, EachFaultHasItsResultAndTheLineStaysInStep) {
  struct Case {
    const char* fault;
    int result;
    std::size_t requests;  // version requests on the line
  };
  const Case cases[] = {
      {"silent", -4, 1},
      {"short", -4, 1},  // the answer cut short
      // A stray byte before the answer, or line noise instead of it: sent
      // again, at most three times, then a frame error.
      {"nonstx", 0, 2},
      {"garbage", 0, 2},
      {"nonstx 3", 0, 4},
      {"nonstx 4", -8, 4},
      {"badetx", -8, 1},
      {"badsum", 0, 1},  // the checksum is not examined
      // A body of 1040 bytes is more than the 2080-character response
      // buffer holds with its terminator.
      {"oversize", -8, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    sim_.control().Fault(c.fault);
    EXPECT_EQ(Version(), c.result);
    if (c.result == 0) {
      EXPECT_STREQ(text_, "56312E30");
    } else {
      EXPECT_EQ(std::strspn(text_, "x"), sizeof text_ - 1);
    }
    EXPECT_EQ(RequestsSent(), c.requests);
    ExpectRecovered();
    sim_.ClearTraffic();
  }
}

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

TEST_F(FaultTest, StatusWordsAreMapped) {
  struct Case {
    const char* status;
    int result;
  };
  const Case cases[] = {{"1001", -305}, {"1007", -318}, {"2001", -309}, {"3009", -314},
                        {"6003", -328}, {"1003", -9},   {"9000", -9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    sim_.control().Fault(std::string("status ") + c.status);
    EXPECT_EQ(Version(), c.result);
    EXPECT_EQ(text_[0], 'x');
  }
  ExpectRecovered();
}

TEST(RawVersionFaults, TypeSixtyOne) {
  SimReader sim("t61");
  ASSERT_EQ(sim.Open(61, 9600), 0);
  sim.control().SetVersion("KP T61 1.23");
  char text[64];

  // Nothing queued shortly after the request: a read failure.
  sim.control().Fault("silent");
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), text), -4);
  EXPECT_EQ(text[0], 'x');

  // A device that stops half-way through its answer (the first 6 of the 12
  // bytes "KP T61 1.23" and NUL): what was queued, without a NUL, is the text.
  sim.control().Fault("short");
  std::memset(text, 'x', sizeof text);
  ASSERT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), text), 0);
  EXPECT_STREQ(text, "KP T61");

  // An answer later than the first-byte window; it arrives after the call
  // has given up, which is why this case comes last.
  sim.control().Fault("delay 300");
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), text), -4);
  EXPECT_EQ(text[0], 'x');
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
