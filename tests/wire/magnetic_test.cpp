// The magnetic head: raw sequences on the wire, the parse of the head's
// stream into two tracks, write messages with their length limit, the
// confirmation rule, the arm's age limit and the differences between the
// reader classes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kp_dev.h"
#include "platform/platform.h"
#include "readers/magnetic.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::FromHex;
using kptest::kEscOk;

namespace {

const Bytes kReset = {0x1B, 0x61};
const Bytes kAccept = {0x1B, 0x42, 0x5D};
const Bytes kCancel = {0x1B, 0x30};
const Bytes kTail = {0x1D, 0x1B, 0x5C, 0x1B, 0x6A};

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes TextBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A reader whose arm time the test can set, to reach the age limit without
// waiting for it.
class Armable : public kp::CReader {
 public:
  explicit Armable(const kp::ReaderFamily& family) : CReader(family) {}
  void SetArmTick(std::uint32_t tick) { State<kp::MagneticState>().armTick = tick; }
  std::uint32_t ArmTick() { return State<kp::MagneticState>().armTick; }
  kp::Use<kp::MagneticHead> Head() { return kp::Use<kp::MagneticHead>(*this); }
};

class MagneticTest : public kptest::ReaderTest {
 protected:
  MagneticTest() : ReaderTest(28) {}
  // Repeats a poll while the head has nothing yet (3 s at most); the last
  // result.
  template <typename Poll>
  static int UntilAnswered(Poll poll) {
    const auto start = Clock::now();
    int r;
    while ((r = poll()) == -101 && MsSince(start) < 3000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return r;
  }
  static int PollRead(int h, char* t1, char* t2) {
    return UntilAnswered([&] { return KP_DEV_Magnetic_ReadTrack(h, t1, t2); });
  }
  static int PollConfirm(int h) {
    return UntilAnswered([&] { return KP_DEV_Magnetic_ConfirmWriteTrack(h); });
  }
};

TEST_F(MagneticTest, ResetArmAndCancelSequences) {
  const int h = Open(2);
  EXPECT_EQ(KP_DEV_Magnetic_Reset(h), 0);
  // Arming discards both queues, so the reset must have left the port first.
  ASSERT_TRUE(dev_.WaitRequests(1));
  EXPECT_EQ(KP_DEV_Magnetic_Accept(h), 0);
  EXPECT_EQ(KP_DEV_Magnetic_CancelAccept(h), 0);
  EXPECT_EQ(KP_DEV_Magnetic_CancelWriteTrack(h), 0);
  const Bytes sent = Concat({kReset, kAccept, kCancel, kCancel});
  EXPECT_EQ(dev_.ReceivedSettled(sent.size()), sent);
}

TEST_F(MagneticTest, HeadStreamSplitIntoTracks) {
  const int h = Open(2);
  // What the head sent before the arm belongs to no swipe of it.
  dev_.Push(FromHex("1B 73 3B 39 39 39 39 3F 1C"));
  ASSERT_TRUE(dev_.WaitQueued(9));
  ASSERT_EQ(KP_DEV_Magnetic_Accept(h), 0);
  ASSERT_TRUE(dev_.WaitRequests(1));

  // Nothing swiped yet: the outputs are not touched.
  char t1[64], t2[64];
  std::memset(t1, 'x', sizeof t1);
  std::memset(t2, 'x', sizeof t2);
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h, t1, t2), -101);
  EXPECT_EQ(t1[0], 'x');
  EXPECT_EQ(t2[0], 'x');

  // 3B is an ordinary track byte; 1B, 73, 3F and 1C are framing.
  dev_.Push(FromHex("1B 73 3B 31 32 33 34 3F 41 3B 35 36 37 38 3F 3F 1C"));
  std::memset(t1, 0, sizeof t1);
  std::memset(t2, 0, sizeof t2);
  const auto start = Clock::now();
  ASSERT_EQ(PollRead(h, t1, t2), 0);
  // The head's burst is given 200 ms to arrive completely.
  EXPECT_GE(MsSince(start), 195);
  EXPECT_STREQ(t1, ";1234");
  EXPECT_STREQ(t2, ";5678");

  // Without a separator every data byte goes to the first track.
  std::memset(t1, 0, sizeof t1);
  std::memset(t2, 0, sizeof t2);
  dev_.Push(FromHex("1B 73 3B 39 38 37 36 35 3F 1C"));
  ASSERT_EQ(PollRead(h, t1, t2), 0);
  EXPECT_STREQ(t1, ";98765");
  EXPECT_EQ(t2[0], 0);

  // A track starting with 7F carries nothing: its first four bytes are
  // zeroed.  No terminator is written behind the stored bytes.
  std::memset(t1, 'x', sizeof t1);
  std::memset(t2, 'x', sizeof t2);
  dev_.Push(FromHex("1B 73 7F 31 32 41 3B 35 36 37 3F 1C"));
  ASSERT_EQ(PollRead(h, t1, t2), 0);
  EXPECT_EQ(Bytes(t1, t1 + 5), (Bytes{0, 0, 0, 0, 'x'}));
  EXPECT_EQ(Bytes(t2, t2 + 5), (Bytes{';', '5', '6', '7', 'x'}));
}

TEST_F(MagneticTest, ShortHeadStreamIsConsumedAndRefused) {
  const int h = Open(2);
  ASSERT_EQ(KP_DEV_Magnetic_Accept(h), 0);
  ASSERT_TRUE(dev_.WaitRequests(1));
  char t1[16], t2[16];
  std::memset(t1, 'x', sizeof t1);
  std::memset(t2, 'x', sizeof t2);
  dev_.Push(FromHex("1B 73 31 32 33 3F 1C"));  // 7 bytes
  EXPECT_EQ(PollRead(h, t1, t2), -102);
  EXPECT_EQ(t1[0], 0);
  EXPECT_EQ(t2[0], 0);
  EXPECT_EQ(t1[1], 'x');
  // The short data is gone.
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h, t1, t2), -101);
}

TEST_F(MagneticTest, WriteMessagesAndLengthLimit) {
  const int h = Open(2);

  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "%AB?", ""), 0);
  ASSERT_TRUE(dev_.WaitRequests(1));
  EXPECT_EQ(dev_.Requests()[0], Concat({FromHex("1B 34 1B 74"), TextBytes("%AB?"), kTail}));

  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "", ";123?"), 0);
  ASSERT_TRUE(dev_.WaitRequests(2));
  EXPECT_EQ(dev_.Requests()[1], Concat({FromHex("1B 54 34 1B 74 41"), TextBytes(";123?"), kTail}));

  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "%AB?", ";123?"), 0);
  ASSERT_TRUE(dev_.WaitRequests(3));
  EXPECT_EQ(dev_.Requests()[2],
            Concat({FromHex("1B 34 1B 54 34 1B 74"), TextBytes("%AB?"), {0x41}, TextBytes(";123?"), kTail}));

  // 2070 characters are accepted, 2071 refused before anything is sent;
  // for both tracks the limit is on the sum.
  const std::string t2070(2070, '5'), t2071(2071, '5'), t1000(1000, '1'), t1070(1070, '7'), t1071(1071, '7');
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, t2070.c_str(), ""), 0);
  ASSERT_TRUE(dev_.WaitRequests(4));
  EXPECT_EQ(dev_.Requests()[3].size(), 2070u + 9u);
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "", t2070.c_str()), 0);
  ASSERT_TRUE(dev_.WaitRequests(5));
  EXPECT_EQ(dev_.Requests()[4].size(), 2070u + 11u);
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, t1000.c_str(), t1070.c_str()), 0);
  ASSERT_TRUE(dev_.WaitRequests(6));
  EXPECT_EQ(dev_.Requests()[5].size(), 2070u + 13u);
  dev_.ClearReceived();
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, t2071.c_str(), ""), -5);
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "", t2071.c_str()), -5);
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, t1000.c_str(), t1071.c_str()), -5);
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "", ""), -5);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_TRUE(dev_.Received().empty());
}

TEST_F(MagneticTest, ConfirmationJudgedByItsLastExpectedByte) {
  const int h = Open(2);

  // Nothing armed and nothing waiting.
  EXPECT_EQ(KP_DEV_Magnetic_ConfirmWriteTrack(h), -101);

  // First track: three bytes, the third decides; earlier bytes do not.
  dev_.Reply({0x71, 0x71, 0x70});
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "1", ""), 0);
  EXPECT_EQ(PollConfirm(h), 0);

  dev_.Reply({0x1B, 0x31, 0x71});
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "1", ""), 0);
  EXPECT_EQ(PollConfirm(h), -103);

  dev_.Reply({0x1B, 0x31, 0x41});
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "1", ""), 0);
  EXPECT_EQ(PollConfirm(h), -9);

  // Second track: four bytes expected, the fourth decides.
  dev_.Reply({0x1B, 0x31, 0x32, 0x70});
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "", "2"), 0);
  EXPECT_EQ(PollConfirm(h), 0);

  dev_.Reply({0x1B, 0x31, 0x32, 0x71});
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "1", "2"), 0);
  EXPECT_EQ(PollConfirm(h), -103);

  // Only three of four: the missing fourth byte counts as 0, after the
  // read has waited its full second.
  dev_.Reply({0x1B, 0x31, 0x70});
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "", "2"), 0);
  auto start = Clock::now();
  EXPECT_EQ(PollConfirm(h), -9);
  EXPECT_GE(MsSince(start), 990);

  // Fewer than three bytes.
  dev_.Reply({0x1B, 0x70});
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "1", ""), 0);
  EXPECT_EQ(PollConfirm(h), -4);
}

TEST_F(MagneticTest, ArmOlderThanTwentyNineSecondsIsWithdrawn) {
  Armable reader(kp::kFamilyType1);
  dev_.Reply(kEscOk);
  ASSERT_EQ(reader.OpenDevice(2, kp::ParsePortSpec(dev_.PortSpec().c_str())), 0);
  ASSERT_TRUE(dev_.WaitRequests(1));
  dev_.ClearReceived();
  char t1[16] = {}, t2[16] = {};

  // 28 s is still young enough.
  reader.SetArmTick(kp::platform::TickMs() - 28000);
  EXPECT_EQ(reader.Head()->Magnetic_ReadTrack(t1, t2), -101);
  EXPECT_EQ(reader.Head()->Magnetic_ConfirmWriteTrack(), -101);

  // Past 29 s a read poll cancels the arm (ESC 0) once; then it is idle.
  reader.SetArmTick(kp::platform::TickMs() - 29001);
  EXPECT_EQ(reader.Head()->Magnetic_ReadTrack(t1, t2), -2);
  EXPECT_EQ(reader.ArmTick(), 0u);
  EXPECT_EQ(reader.Head()->Magnetic_ReadTrack(t1, t2), -101);
  EXPECT_EQ(dev_.ReceivedSettled(kCancel.size()), kCancel);

  // The same for the write confirmation.
  dev_.ClearReceived();
  reader.SetArmTick(kp::platform::TickMs() - 29001);
  EXPECT_EQ(reader.Head()->Magnetic_ConfirmWriteTrack(), -2);
  EXPECT_EQ(reader.Head()->Magnetic_ConfirmWriteTrack(), -101);
  EXPECT_EQ(dev_.ReceivedSettled(kCancel.size()), kCancel);

  // A new arm starts the clock again.
  ASSERT_EQ(reader.Head()->Magnetic_Accept(), 0);
  EXPECT_NE(reader.ArmTick(), 0u);
  EXPECT_EQ(reader.Head()->Magnetic_ReadTrack(t1, t2), -101);
}

TEST_F(MagneticTest, TypeSixtyOneArmsOnEveryReadAndHasNoModuleCheck) {
  const int h = Open(61);
  EXPECT_EQ(KP_DEV_Magnetic_Accept(h), 0);
  EXPECT_EQ(KP_DEV_Magnetic_Reset(h), 0);
  EXPECT_EQ(dev_.ReceivedSettled(kReset.size()), kReset);

  // Each poll sends the arm and waits 100 ms for the head.
  dev_.ClearReceived();
  char t1[32] = {}, t2[32] = {};
  const auto start = Clock::now();
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h, t1, t2), -101);
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h, t1, t2), -101);
  EXPECT_GE(MsSince(start), 195);
  const Bytes sent = Concat({kAccept, kAccept});
  EXPECT_EQ(dev_.ReceivedSettled(sent.size()), sent);

  dev_.Reply(FromHex("1B 73 3B 31 32 33 34 3F 41 3B 35 36 37 38 3F 3F 1C"));
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h, t1, t2), 0);
  EXPECT_STREQ(t1, ";1234");
  EXPECT_STREQ(t2, ";5678");

  dev_.Reply({0x31, 0x32, 0x70});
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "1", ""), 0);
  EXPECT_EQ(PollConfirm(h), 0);
  EXPECT_EQ(KP_DEV_Magnetic_CancelAccept(h), 0);
}

TEST_F(MagneticTest, TypeSixtyOneReadPollHasNoAgeLimit) {
  Armable reader(kp::kFamilyType61);
  ASSERT_EQ(reader.OpenDevice(61, kp::ParsePortSpec(dev_.PortSpec().c_str())), 0);
  reader.SetArmTick(kp::platform::TickMs() - 60000);
  char t1[16] = {}, t2[16] = {};
  EXPECT_EQ(reader.Head()->Magnetic_ReadTrack(t1, t2), -101);
  EXPECT_EQ(dev_.ReceivedSettled(kAccept.size()), kAccept);
}

}  // namespace
