// A misbehaving device, seen through the exported interface: answers that
// never come, come late, come out of step, end wrongly, carry an error
// status or more than the library's buffer holds.  Each case checks the
// result, that the caller's text is left alone on failure, how many
// requests went out, and that the next exchange is in step again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kp_dev.h"
#include "support/sim_reader.h"

using kptest::Bytes;
using kptest::HexBytes;
using kptest::SimReader;

namespace {

const Bytes kVersionFrame = HexBytes("02 30 30 30 33 33 31 31 31 30 30 32 30 03");

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
  bool Untouched() const { return text_[0] == 'x' && text_[1] == 'x'; }
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

TEST_F(FaultTest, SilentDeviceTimesOut) {
  sim_.control().Fault("silent");
  EXPECT_EQ(Version(), -4);
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(RequestsSent(), 1u);
  ExpectRecovered();
}

TEST_F(FaultTest, AnswerLaterThanTheTimeoutIsAReadFailure) {
  sim_.control().Fault("delay 1300");
  EXPECT_EQ(Version(), -4);
  EXPECT_TRUE(Untouched());
}

TEST_F(FaultTest, AnswerCutShortIsAReadFailure) {
  sim_.control().Fault("short");
  EXPECT_EQ(Version(), -4);
  EXPECT_TRUE(Untouched());
}

TEST_F(FaultTest, StrayByteBeforeTheAnswerMakesTheLibraryResend) {
  sim_.control().Fault("nonstx");
  ASSERT_EQ(Version(), 0);
  EXPECT_STREQ(text_, "56312E30");
  EXPECT_EQ(RequestsSent(), 2u);
}

TEST_F(FaultTest, LineNoiseInsteadOfTheAnswerMakesTheLibraryResend) {
  sim_.control().Fault("garbage");
  ASSERT_EQ(Version(), 0);
  EXPECT_STREQ(text_, "56312E30");
  EXPECT_EQ(RequestsSent(), 2u);
}

TEST_F(FaultTest, ResendsAreBoundedAtThreeThenFrameError) {
  // Three restarts are allowed: the fourth request still gets through.
  sim_.control().Fault("nonstx 3");
  ASSERT_EQ(Version(), 0);
  EXPECT_STREQ(text_, "56312E30");
  EXPECT_EQ(RequestsSent(), 4u);

  // A device that never gets in step: four requests, then -8.
  sim_.ClearTraffic();
  sim_.control().Fault("nonstx 4");
  EXPECT_EQ(Version(), -8);
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(RequestsSent(), 4u);
  ExpectRecovered();
}

TEST_F(FaultTest, AnswerNotEndedByEtxIsAFrameError) {
  sim_.control().Fault("badetx");
  EXPECT_EQ(Version(), -8);
  EXPECT_TRUE(Untouched());
  ExpectRecovered();
}

TEST_F(FaultTest, WrongChecksumIsAccepted) {
  sim_.control().Fault("badsum");
  ASSERT_EQ(Version(), 0);
  EXPECT_STREQ(text_, "56312E30");
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
    EXPECT_TRUE(Untouched());
  }
  ExpectRecovered();
}

TEST_F(FaultTest, OversizeAnswerIsRefusedWithNothingWrittenAndTheLineStaysInStep) {
  // The answer announces a 1040-byte body: more than the 2080-character
  // response buffer holds with its terminator.
  sim_.control().Fault("oversize");
  EXPECT_EQ(Version(), -8);
  EXPECT_TRUE(Untouched());
  EXPECT_EQ(std::strspn(text_, "x"), sizeof text_ - 1);
  ExpectRecovered();
  EXPECT_EQ(RequestsSent(), 2u);
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

TEST(TypeZeroFaults, StatusAndSilence) {
  SimReader sim("t0");
  ASSERT_EQ(sim.Open(0, 9600), 0);
  char text[64] = "keep";
  sim.control().Fault("status 3001");
  EXPECT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), text), -311);
  sim.control().Fault("silent");
  EXPECT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), text), -4);
  EXPECT_STREQ(text, "keep");
}

}  // namespace
