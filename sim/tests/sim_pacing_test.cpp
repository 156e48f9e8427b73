// The firmware in real time, on a clock of the test's own: each byte takes
// 10 bit times at the speed of the side that sends it, a command is acted on
// once its last byte is in, and the answer follows after the device's time.

#include <gtest/gtest.h>

#include "core/virtual_reader.h"

namespace kpsim {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// 0x3111 with data 00 (14 bytes); the answer with a 6-byte version is 24 bytes.
const Bytes kVersionRequest{0x02, 0x30, 0x30, 0x30, 0x33, 0x33, 0x31, 0x31, 0x31, 0x30, 0x30, 0x32, 0x30, 0x03};
constexpr std::size_t kVersionAnswerSize = 24;
// One byte at 9600 baud: 10 bits, 1041666 ns.
constexpr nanoseconds kByte9600{10'000'000'000LL / 9600};
constexpr nanoseconds kByte115200{10'000'000'000LL / 115200};

class PacingTest : public ::testing::Test {
 protected:
  PacingTest() : reader_(Options()) {}

  static ReaderOptions Options() {
    ReaderOptions options;
    options.version = Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    options.pacing = true;
    return options;
  }

  void Send(const Bytes& bytes, int host_baud = 9600) {
    reader_.OnHostBytes(bytes.data(), bytes.size(), host_baud, start_);
  }
  // Bytes the host has received by `at` after the start, in all.
  std::size_t ReceivedBy(nanoseconds at, int host_baud = 9600) {
    received_ += reader_.Service(host_baud, start_ + at).size();
    return received_;
  }

  VirtualReader reader_;
  TimePoint start_ = TimePoint{} + std::chrono::hours(1);
  std::size_t received_ = 0;
};

TEST_F(PacingTest, CommandWaitsForItsLastByteAndAnswerTricklesAtTheLineSpeed) {
  ASSERT_EQ(reader_.HandleControl("device-time 3111 2"), "ok");
  Send(kVersionRequest);
  const nanoseconds in = 14 * kByte9600;
  const nanoseconds out = in + milliseconds(2);  // first answer byte starts here
  EXPECT_EQ(reader_.NextDeadline(), start_ + kByte9600);
  EXPECT_EQ(ReceivedBy(in - nanoseconds(1)), 0u);
  EXPECT_EQ(reader_.state().counters.frames, 0u);
  EXPECT_EQ(ReceivedBy(in), 0u);
  EXPECT_EQ(reader_.state().counters.frames, 1u);
  // The host's receive FIFO hands the bytes over eight at a time, the last
  // ones as soon as the last is in.
  EXPECT_EQ(ReceivedBy(out + 8 * kByte9600 - nanoseconds(1)), 0u);
  EXPECT_EQ(ReceivedBy(out + 8 * kByte9600), 8u);
  EXPECT_EQ(ReceivedBy(out + 10 * kByte9600 + kByte9600 / 2), 8u);
  EXPECT_EQ(ReceivedBy(out + 24 * kByte9600 - nanoseconds(1)), 16u);
  EXPECT_EQ(ReceivedBy(out + 24 * kByte9600), kVersionAnswerSize);
  EXPECT_FALSE(reader_.NextDeadline().has_value());
}

TEST_F(PacingTest, DeviceTimesAreSetPerCommandAndApdusAddTheCardsThinking) {
  EXPECT_EQ(reader_.HandleControl("device-time 3111 50.5"), "ok");
  Send(kVersionRequest);
  const nanoseconds first = 14 * kByte9600 + microseconds(50500) + 8 * kByte9600;
  EXPECT_EQ(ReceivedBy(first - nanoseconds(1)), 0u);
  EXPECT_EQ(ReceivedBy(first), 8u);

  DeviceTimes times;
  ASSERT_TRUE(times.Set("3226", milliseconds(7)));
  ASSERT_TRUE(times.Set("think", milliseconds(40)));
  ASSERT_TRUE(times.Set("frame", milliseconds(3)));
  EXPECT_EQ(times.ForCommand(0x3226), milliseconds(47));
  EXPECT_EQ(times.ForCommand(0x3112), milliseconds(3));
  EXPECT_EQ(times.ForKey("id-3001"), milliseconds(400));
}

TEST_F(PacingTest, HostBytesTakeTheHostsSpeedAndQueueBehindEachOther) {
  ASSERT_EQ(reader_.HandleControl("baud 115200"), "ok");
  ASSERT_EQ(reader_.HandleControl("device-time 3111 0"), "ok");
  const Bytes first(kVersionRequest.begin(), kVersionRequest.begin() + 6);
  const Bytes rest(kVersionRequest.begin() + 6, kVersionRequest.end());
  Send(first, 115200);
  Send(rest, 115200);  // written at the same moment, so sent after the first part
  EXPECT_EQ(ReceivedBy(14 * kByte115200 + 8 * kByte115200 - nanoseconds(1), 115200), 0u);
  EXPECT_EQ(ReceivedBy(14 * kByte115200 + 8 * kByte115200, 115200), 8u);
}

TEST_F(PacingTest, HostChangingSpeedMidFrameIsNoiseAndGetsNoAnswer) {
  const Bytes first(kVersionRequest.begin(), kVersionRequest.begin() + 7);
  const Bytes rest(kVersionRequest.begin() + 7, kVersionRequest.end());
  Send(first, 9600);
  Send(rest, 115200);
  EXPECT_EQ(ReceivedBy(milliseconds(500)), 0u);
  EXPECT_EQ(reader_.state().counters.noise_bytes, rest.size());
  EXPECT_EQ(ReceivedBy(milliseconds(2000)), 0u);  // the partial frame is dropped, unanswered
  EXPECT_EQ(reader_.state().counters.frames, 0u);

  // The next whole frame at the right speed is answered.
  start_ += milliseconds(3000);
  received_ = 0;
  Send(kVersionRequest);
  EXPECT_EQ(ReceivedBy(milliseconds(100)), kVersionAnswerSize);
}

TEST_F(PacingTest, TurningPacingOffDeliversAtOnceAndControlRefusesBadRequests) {
  Send(kVersionRequest);
  EXPECT_EQ(reader_.HandleControl("pacing"), "ok on");
  EXPECT_EQ(reader_.HandleControl("pacing off"), "ok off");
  EXPECT_EQ(ReceivedBy(nanoseconds(0)), kVersionAnswerSize);
  received_ = 0;
  Send(kVersionRequest);
  EXPECT_EQ(ReceivedBy(nanoseconds(0)), kVersionAnswerSize);

  for (const char* bad : {"pacing maybe", "pacing on off", "device-time 3111", "device-time 31111 2",
                          "device-time 3111 -1", "device-time 3111 1.2345", "device-time nonsense 2"}) {
    EXPECT_EQ(reader_.HandleControl(bad).rfind("err ", 0), 0u) << bad;
  }
}

}  // namespace
}  // namespace kpsim
