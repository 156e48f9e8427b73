// The firmware in-process, on a clock of the test's own: what the device
// answers, byte for byte, and what it changes or leaves alone.

#include <gtest/gtest.h>

#include "core/virtual_reader.h"

namespace kpsim {
namespace {

using std::chrono::milliseconds;

// 0x3111 with data 00, as the host library frames it.
const Bytes kVersionRequest{0x02, 0x30, 0x30, 0x30, 0x33, 0x33, 0x31, 0x31, 0x31, 0x30, 0x30, 0x32, 0x30, 0x03};
// 0xC003 without data.
const Bytes kC003{0x02, 0x30, 0x30, 0x30, 0x32, 0x3C, 0x30, 0x30, 0x33, 0x3C, 0x33, 0x03};
// 0x3001 with data 01 04 (115200); checksum 30 ^ 01 ^ 01 ^ 04 = 34.
const Bytes kSpeed115200{0x02, 0x30, 0x30, 0x30, 0x34, 0x33, 0x30, 0x30,
                         0x31, 0x30, 0x31, 0x30, 0x34, 0x33, 0x34, 0x03};
const Bytes kBuzzerOn{0x02, 0x30, 0x30, 0x30, 0x32, 0x33, 0x31, 0x31, 0x37, 0x32, 0x36, 0x03};
const Bytes kBuzzerOff{0x02, 0x30, 0x30, 0x30, 0x32, 0x33, 0x31, 0x31, 0x36, 0x32, 0x37, 0x03};
// Answer frame: L = 2, status 0000, checksum 00.
const Bytes kOkAnswer{0x02, 0x30, 0x30, 0x30, 0x32, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x03};

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes both = a;
  both.insert(both.end(), b.begin(), b.end());
  return both;
}

// Status word of an answer frame as four characters: "0000", "1005", ...
std::string StatusOf(const Bytes& answer) {
  if (answer.size() < 12 || answer[0] != 0x02) return "none";
  std::string text;
  for (int i = 5; i < 9; ++i) text += "0123456789ABCDEF"[answer[i] & 0x0F];
  return text;
}

class ReaderTest : public ::testing::Test {
 protected:
  ReaderTest() : reader_(Options()) {}

  static ReaderOptions Options() {
    ReaderOptions options;
    options.version = Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    return options;
  }

  // Sends at `host_baud` and returns what the device answers at once.
  Bytes Send(const Bytes& bytes, int host_baud = 9600) {
    reader_.OnHostBytes(bytes.data(), bytes.size(), host_baud, now_);
    return reader_.Service(host_baud, now_);
  }
  Bytes Advance(milliseconds by, int host_baud = 9600) {
    now_ += by;
    return reader_.Service(host_baud, now_);
  }
  std::string Control(const std::string& line) { return reader_.HandleControl(line); }

  VirtualReader reader_;
  TimePoint now_ = TimePoint{} + std::chrono::hours(1);
};

TEST_F(ReaderTest, EachFamilyAnswersOnlyItsOwnCommands) {
  // Frames with one data byte: 0x3003 code 0, 0x3112 mode 0.
  const Bytes set_speed_t0{0x02, 0x30, 0x30, 0x30, 0x33, 0x33, 0x30, 0x30, 0x33, 0x30, 0x30, 0x33, 0x33, 0x03};
  const Bytes soft_reset{0x02, 0x30, 0x30, 0x30, 0x33, 0x33, 0x31, 0x31, 0x32, 0x30, 0x30, 0x32, 0x33, 0x03};
  const struct {
    const char* family;
    std::string version, set_speed_t0, soft_reset, c003;
  } kTable[] = {
      {"t1", "0000", "1005", "1005", "0000"},
      {"t61", "1005", "1005", "0000", "0000"},
      {"t0", "0000", "0000", "1005", "0000"},
  };
  for (const auto& row : kTable) {
    SCOPED_TRACE(row.family);
    ASSERT_EQ(Control(std::string("family ") + row.family), "ok");
    EXPECT_EQ(StatusOf(Send(kVersionRequest)), row.version);
    EXPECT_EQ(StatusOf(Send(set_speed_t0)), row.set_speed_t0);
    EXPECT_EQ(StatusOf(Send(soft_reset)), row.soft_reset);
    EXPECT_EQ(StatusOf(Send(kC003)), row.c003);
  }
  EXPECT_EQ(reader_.state().counters.unknown_commands, 5u);
  EXPECT_EQ(reader_.state().counters.soft_resets, 1u);
  EXPECT_EQ(reader_.state().counters.c003, 3u);
  // An unknown answer is the status alone: 02, L = 2, 10 05, checksum 15, ETX.
  EXPECT_EQ(Send(soft_reset), (Bytes{0x02, 0x30, 0x30, 0x30, 0x32, 0x31, 0x30, 0x30, 0x35, 0x31, 0x35, 0x03}));
}

TEST_F(ReaderTest, MagneticModuleDoesNotHearFramesOnT1ButDoesOnT61) {
  Send({0x1B, '$', 'B'});
  EXPECT_TRUE(Send(kC003).empty());
  EXPECT_TRUE(Send(kBuzzerOn).empty());
  EXPECT_FALSE(reader_.state().buzzer);
  EXPECT_EQ(reader_.state().counters.ignored_bytes, kC003.size() + kBuzzerOn.size());
  Send({0x1B, '$', 'I', '0'});
  EXPECT_EQ(Send(kC003), kOkAnswer);

  Control("family t61");
  Send({0x1B, '$', 'B'});
  EXPECT_EQ(Send(kC003), kOkAnswer);
}

TEST_F(ReaderTest, SwipeOnAFrameGoesOutBeforeItsAnswer) {
  Control("family t61");
  Send({0x1B, 'B', ']'});  // the host arms the head
  ASSERT_EQ(Control("head swipe-on C003 ;12 ;34"), "ok");
  EXPECT_EQ(Send(kVersionRequest).size(), 12u);  // another command: nothing happens (1005)
  // ESC s, tracks, ? FS, then the frame's own answer.
  EXPECT_EQ(Send(kC003), Concat({0x1B, 's', ';', '1', '2', 'A', ';', '3', '4', '?', 0x1C}, kOkAnswer));
  EXPECT_EQ(Send(kC003), kOkAnswer);  // once only
  // Before the head is armed, the card waits at the head.
  ASSERT_EQ(Control("head swipe-on C003"), "ok");
  EXPECT_EQ(Send(kC003), kOkAnswer);
  EXPECT_NE(Control("head").find(" held=-/- "), std::string::npos);
  for (const char* bad : {"head swipe-on", "head swipe-on C00", "head swipe-on XYZW", "head swipe-on C003 a b c"}) {
    EXPECT_EQ(Control(bad).rfind("err ", 0), 0u) << bad;
  }
}

TEST_F(ReaderTest, HostSpeedMismatchIsNoiseBothWays) {
  EXPECT_TRUE(Send(kVersionRequest, 19200).empty());
  EXPECT_EQ(reader_.state().counters.noise_bytes, kVersionRequest.size());
  EXPECT_EQ(reader_.state().counters.frames, 0u);

  // An answer that goes out after the host changed its speed is lost.
  Control("fault delay 100");
  EXPECT_TRUE(Send(kC003).empty());
  EXPECT_TRUE(Advance(milliseconds(100), 19200).empty());
  EXPECT_EQ(reader_.state().counters.lost_bytes, kOkAnswer.size());
  EXPECT_EQ(Control("traffic"),
            "ok H~D " + ToHex(kVersionRequest) + " H>D " + ToHex(kC003) + " D~H " + ToHex(kOkAnswer));
}

TEST_F(ReaderTest, FramesAreFoundInAnyChunkingAndBadOnesAnswered) {
  // Split mid-frame, with line noise before it.
  EXPECT_TRUE(Send({0x55, 0x02, 0x30, 0x30, 0x30}).empty());
  EXPECT_EQ(Send({0x32, 0x3C, 0x30, 0x30, 0x33, 0x3C, 0x33, 0x03}), kOkAnswer);
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 1u);
  // A new STX abandons a partial frame without an answer.
  EXPECT_EQ(Send(Concat({0x02, 0x30, 0x30}, kC003)), kOkAnswer);
  EXPECT_EQ(reader_.state().counters.bad_frames, 1u);
  // Bad checksum: status 1006 (checksum 16); malformed: 1007 (checksum 17).
  EXPECT_EQ(Send({0x02, 0x30, 0x30, 0x30, 0x32, 0x3C, 0x30, 0x30, 0x33, 0x3C, 0x34, 0x03}),
            (Bytes{0x02, 0x30, 0x30, 0x30, 0x32, 0x31, 0x30, 0x30, 0x36, 0x31, 0x36, 0x03}));
  EXPECT_EQ(Send({0x02, 0x30, 0x30, 0x30, 0x35, 0x3C, 0x30, 0x30, 0x33, 0x3C, 0x33, 0x03}),
            (Bytes{0x02, 0x30, 0x30, 0x30, 0x32, 0x31, 0x30, 0x30, 0x37, 0x31, 0x37, 0x03}));
  EXPECT_EQ(reader_.state().counters.bad_checksums, 1u);
  EXPECT_EQ(reader_.state().counters.bad_frames, 2u);
}

TEST_F(ReaderTest, IncompleteSequenceIsDroppedAfterAQuietSecond) {
  Send({0x02, 0x30, 0x30, 0x30});
  ASSERT_TRUE(reader_.NextDeadline().has_value());
  EXPECT_TRUE(Advance(milliseconds(999)).empty());
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 0u);
  Advance(milliseconds(1));
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 4u);
  EXPECT_FALSE(reader_.NextDeadline().has_value());
  // The rest of that frame arriving later is garbage, the next frame is not.
  EXPECT_EQ(Send(Concat({0x32, 0x3C, 0x30, 0x03}, kC003)), kOkAnswer);
}

TEST_F(ReaderTest, ShapingFaultsCorruptTheAnswerOnTheWire) {
  const struct {
    const char* fault;
    Bytes expected;
  } kCases[] = {
      {"nonstx", Concat({0x06}, kOkAnswer)},
      {"badetx", {0x02, 0x30, 0x30, 0x30, 0x32, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x04}},
      // Header and the first two of the four body characters.
      {"short", {0x02, 0x30, 0x30, 0x30, 0x32, 0x30, 0x30}},
      {"badsum", {0x02, 0x30, 0x30, 0x30, 0x32, 0x30, 0x30, 0x30, 0x30, 0x3F, 0x3F, 0x03}},
      {"status 6003", {0x02, 0x30, 0x30, 0x30, 0x32, 0x36, 0x30, 0x30, 0x33, 0x36, 0x33, 0x03}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    ASSERT_EQ(Control(std::string("fault ") + c.fault), "ok");
    EXPECT_EQ(Send(kC003), c.expected);
    EXPECT_EQ(Send(kC003), kOkAnswer) << "a fault armed once affects one answer";
  }
}

TEST_F(ReaderTest, SilentAndStatusFaultsKeepTheCommandFromRunning) {
  Control("fault silent");
  EXPECT_TRUE(Send(kSpeed115200).empty());
  Control("fault status 1001");
  EXPECT_EQ(StatusOf(Send(kSpeed115200)), "1001");
  EXPECT_EQ(reader_.state().baud, 9600);
  EXPECT_EQ(reader_.state().counters.swallowed, 1u);
  // A corrupted answer still means the command ran.
  Control("fault badetx");
  Send(kSpeed115200);
  EXPECT_EQ(reader_.state().baud, 115200);
}

TEST_F(ReaderTest, OversizeAnswerAnnouncesAndCarriesOneByteMoreThanHostsHold) {
  Control("fault oversize");
  const Bytes answer = Send(kC003);
  // L = 1040 = 0x0410, then 2080 body characters, checksum, ETX.
  ASSERT_EQ(answer.size(), 5u + 2080u + 3u);
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 9), (Bytes{0x02, 0x30, 0x34, 0x31, 0x30, 0x30, 0x30, 0x30, 0x30}));
  EXPECT_EQ(answer.back(), 0x03);
}

TEST_F(ReaderTest, GarbageReplacesTheAnswerWithNoiseThatNeverLooksLikeAnAnswer) {
  for (int i = 0; i < 50; ++i) {
    Control("fault garbage");
    const Bytes noise = Send(kC003);
    ASSERT_GE(noise.size(), 8u);
    ASSERT_LE(noise.size(), 23u);
    for (std::uint8_t byte : noise) {
      ASSERT_TRUE(byte != 0x02 && byte != 0x03 && byte != 0x1B && (byte < '0' || byte > '2')) << int(byte);
    }
  }
}

TEST_F(ReaderTest, DelayHoldsTheAnswerAndLaterAnswersQueueBehindIt) {
  Control("fault delay 500");
  EXPECT_TRUE(Send(kVersionRequest).empty());
  EXPECT_TRUE(Send(kC003).empty()) << "the second answer must not overtake the first";
  EXPECT_TRUE(Advance(milliseconds(499)).empty());
  const Bytes both = Advance(milliseconds(1));
  ASSERT_GT(both.size(), kOkAnswer.size());
  EXPECT_EQ(StatusOf(both), "0000");
  EXPECT_EQ(Bytes(both.end() - 12, both.end()), kOkAnswer);
}

TEST_F(ReaderTest, FaultsApplyInTheOrderArmedAndOnlyToAnswersTheyFit) {
  ASSERT_EQ(Control("fault modreply 2"), "ok");
  ASSERT_EQ(Control("fault badetx 2"), "ok");
  ASSERT_EQ(Control("fault silent"), "ok");
  EXPECT_EQ(Control("status").find("faults=modreply=2:1,badetx:2,silent:1") != std::string::npos, true);
  // Frames skip the module-reply fault.
  EXPECT_EQ(Send(kC003).back(), 0x04);
  EXPECT_EQ(Send(kC003).back(), 0x04);
  EXPECT_TRUE(Send(kC003).empty());
  EXPECT_EQ(Send(kC003), kOkAnswer);
  // The module reply refused by the fault changes nothing.
  EXPECT_EQ(Send({0x1B, '$', 'I', '4'}), (Bytes{0x1B, '2'}));
  EXPECT_EQ(reader_.state().baud, 9600);
  // Escapes take short and silent too.
  Control("fault short");
  EXPECT_EQ(Send({0x1B, '$', 'B'}), (Bytes{0x1B}));
  Control("fault silent");
  Control("fault clear");
  EXPECT_EQ(Send({0x1B, '$', 'B'}), (Bytes{0x1B, '0'}));
}

TEST_F(ReaderTest, TrafficRecordsExactBytesUntilCleared) {
  Send(kVersionRequest);
  Send({0x1B, '$', 'B'});
  Send(kBuzzerOn);
  Send(kBuzzerOff);
  EXPECT_EQ(Control("traffic"),
            "ok H>D 0230303033333131313030323003 D>H 0230303038303030303031303230333034303530363037"
            "03 H>D 1B2442 D>H 1B30 H>D 023030303233313137323603023030303233313136323703");
  EXPECT_EQ(Control("clear"), "ok");
  EXPECT_EQ(Control("traffic"), "ok");
  EXPECT_EQ(reader_.state().counters.frames, 0u);
  EXPECT_EQ(reader_.state().module, Module::kMagnetic) << "clear forgets records, not state";
}

TEST_F(ReaderTest, ControlRequestsReportAndRefuse) {
  const std::string status = Control("status");
  for (const char* expected : {"ok family=t1 module=I device_baud=9600 ", " buzzer=off ", " version=010203040506 ",
                               " faults=none ", " frames=0 "}) {
    EXPECT_NE(status.find(expected), std::string::npos) << expected;
  }
  EXPECT_EQ(Control("version"), "ok 010203040506");
  EXPECT_EQ(Control("version  two  blanks "), "ok");
  EXPECT_EQ(Control("version"), "ok " + ToHex(reinterpret_cast<const std::uint8_t*>(" two  blanks "), 13));
  EXPECT_EQ(Control("version-hex 0A0b"), "ok");
  EXPECT_EQ(reader_.state().version, (Bytes{0x0A, 0x0B}));
  EXPECT_EQ(Control("baud 57600"), "ok");
  EXPECT_EQ(reader_.state().baud, 57600);
  EXPECT_EQ(Control("module B"), "ok");
  EXPECT_EQ(reader_.state().module, Module::kMagnetic);

  for (const char* bad : {"", "bogus", "fault", "fault bogus", "fault status 12", "fault status 12345",
                          "fault delay -5", "fault nonstx 0", "fault nonstx 2 3", "baud 14400", "family t2", "module Q",
                          "version-hex 123", "insert 0 no-such-kind", "insert 256 cpu", "remove 0", "swipe - - -"}) {
    EXPECT_EQ(Control(bad).rfind("err ", 0), 0u) << bad;
  }
  EXPECT_EQ(reader_.state().baud, 57600);
  EXPECT_TRUE(reader_.faults().empty());
}

}  // namespace
}  // namespace kpsim
