// The magnetic head through the exported interface against the virtual
// reader: arming and polling a read until the card is swiped, writing and
// reading the written card back, a failed write, and cancelling.  The
// short read and the type-61 reader's arm on every poll are the unit
// tests' (scripted device).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "kp_dev.h"
#include "support/sim_reader.h"
#include "support/wait.h"

using kptest::Hex;
using kptest::HexBytes;
using kptest::SimReader;

namespace {

constexpr auto kSwipeWait = std::chrono::milliseconds(3000);

std::string Ascii(const std::string& text) { return Hex(kptest::Bytes(text.begin(), text.end())); }

// Output buffers as callers pass them: zero-filled, large enough for any
// track the head sends.
struct Tracks {
  char first[512] = {};
  char second[512] = {};
};

// Polls KP_DEV_Magnetic_ReadTrack while it reports nothing presented yet;
// its last result.
int PollRead(int handle, Tracks* tracks) {
  int r = -101;
  kptest::WaitUntil(
      [&] {
        r = KP_DEV_Magnetic_ReadTrack(handle, tracks->first, tracks->second);
        return r != -101;
      },
      kSwipeWait);
  return r;
}

// The host's bytes as the device heard them, once they equal `expected`
// or the wait gives up: arming sequences get no answer, so the device may
// not have read them yet when the call returns.
std::string HostBytes(SimReader& sim, const std::string& expected) {
  std::string heard;
  kptest::WaitUntil([&] {
    heard = Hex(sim.Traffic().host_to_device);
    return heard == expected;
  });
  return heard;
}

int PollConfirm(int handle) {
  int r = -101;
  kptest::WaitUntil(
      [&] {
        r = KP_DEV_Magnetic_ConfirmWriteTrack(handle);
        return r != -101;
      },
      kSwipeWait);
  return r;
}

class MagneticT1 : public ::testing::Test {
 protected:
  void SetUp() override {
    // A type-2 reader switches the line to its magnetic head when opened.
    ASSERT_EQ(sim_.Open(2, 9600), 0);
    ASSERT_EQ(sim_.Status("module"), "B");
    sim_.ClearTraffic();
  }
  std::string Control(const std::string& line) { return sim_.control().Request(line); }

  SimReader sim_{"t1"};
};

TEST_F(MagneticT1, ReadPollsUntilTheSwipeAndDropsTheFraming) {
  ASSERT_EQ(KP_DEV_Magnetic_Accept(sim_.handle()), 0);
  Tracks tracks;
  std::strcpy(tracks.first, "keep");
  std::strcpy(tracks.second, "keep");
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(sim_.handle(), tracks.first, tracks.second), -101);
  EXPECT_STREQ(tracks.first, "keep");
  EXPECT_STREQ(tracks.second, "keep");

  tracks = Tracks{};
  // The end sentinels '?' are framing bytes to the host; the start
  // sentinels are track characters.
  EXPECT_EQ(Control("swipe %B6222020200112233^LI/MING^2912? ;6222020200112233=29121010000?").rfind("ok ", 0), 0u);
  ASSERT_EQ(PollRead(sim_.handle(), &tracks), 0);
  EXPECT_STREQ(tracks.first, "%B6222020200112233^LI/MING^2912");
  EXPECT_STREQ(tracks.second, ";6222020200112233=29121010000");
  // The arm is ESC B ]; the polls send nothing.
  EXPECT_EQ(Hex(sim_.Traffic().host_to_device), "1B425D");

  // The head answers one swipe per arm: the next card waits for the next
  // Accept.
  tracks = Tracks{};
  EXPECT_EQ(Control("swipe - ;4321?"), "ok held");
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(sim_.handle(), tracks.first, tracks.second), -101);
  ASSERT_EQ(KP_DEV_Magnetic_Accept(sim_.handle()), 0);
  std::strcpy(tracks.first, "xxxxx");
  ASSERT_EQ(PollRead(sim_.handle(), &tracks), 0);
  // A track that starts with 7F comes back as four zero bytes.
  EXPECT_EQ(std::memcmp(tracks.first, "\0\0\0\0x", 5), 0);
  EXPECT_STREQ(tracks.second, ";4321");
}

TEST_F(MagneticT1, WrittenCardReadsBackWithTheNewTracks) {
  const int h = sim_.handle();
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "%B99^TEST^?", ";555=666?"), 0);
  const std::string message = "1B341B54341B74" + Ascii("%B99^TEST^?") + "41" + Ascii(";555=666?") + "1D1B5C1B6A";
  EXPECT_EQ(HostBytes(sim_, message), message);
  EXPECT_EQ(KP_DEV_Magnetic_ConfirmWriteTrack(h), -101);

  EXPECT_EQ(Control("swipe"), "ok written");
  EXPECT_EQ(PollConfirm(h), 0);

  sim_.ClearTraffic();
  ASSERT_EQ(KP_DEV_Magnetic_Accept(h), 0);
  EXPECT_EQ(Control("swipe last").rfind("ok ", 0), 0u);
  Tracks tracks;
  ASSERT_EQ(PollRead(h, &tracks), 0);
  EXPECT_STREQ(tracks.first, "%B99^TEST^");
  EXPECT_STREQ(tracks.second, ";555=666");

  // A second-track write keeps the first track and is confirmed with four
  // bytes.
  sim_.ClearTraffic();
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "", ";777?"), 0);
  const std::string second = "1B54341B7441" + Ascii(";777?") + "1D1B5C1B6A";
  EXPECT_EQ(HostBytes(sim_, second), second);
  EXPECT_EQ(Control("swipe last"), "ok written");
  EXPECT_EQ(PollConfirm(h), 0);
  ASSERT_EQ(KP_DEV_Magnetic_Accept(h), 0);
  Control("swipe last");
  tracks = Tracks{};
  ASSERT_EQ(PollRead(h, &tracks), 0);
  EXPECT_STREQ(tracks.first, "%B99^TEST^");
  EXPECT_STREQ(tracks.second, ";777");
}

TEST_F(MagneticT1, FailedWriteReportsMinus103AndTheCardKeepsItsTracks) {
  const int h = sim_.handle();
  ASSERT_EQ(Control("head fail-write"), "ok");
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "%NEW?", ""), 0);
  const std::string message = "1B341B74" + Ascii("%NEW?") + "1D1B5C1B6A";
  EXPECT_EQ(HostBytes(sim_, message), message);
  EXPECT_EQ(Control("swipe %OLD? ;1?"), "ok write-failed");
  EXPECT_EQ(PollConfirm(h), -103);

  ASSERT_EQ(KP_DEV_Magnetic_Accept(h), 0);
  Control("swipe last");
  Tracks tracks;
  ASSERT_EQ(PollRead(h, &tracks), 0);
  EXPECT_STREQ(tracks.first, "%OLD");
  EXPECT_STREQ(tracks.second, ";1");
}

TEST_F(MagneticT1, CancelDisarmsTheHeadForReadsAndWrites) {
  const int h = sim_.handle();
  ASSERT_EQ(KP_DEV_Magnetic_Accept(h), 0);
  ASSERT_EQ(KP_DEV_Magnetic_CancelAccept(h), 0);
  // The write arm discards whatever the port has not sent yet, so the
  // cancel must be on the line before it.
  ASSERT_EQ(HostBytes(sim_, "1B425D1B30"), "1B425D1B30");
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "W", ""), 0);
  ASSERT_EQ(KP_DEV_Magnetic_CancelWriteTrack(h), 0);
  const std::string sent =
      "1B425D1B30"
      "1B341B74571D1B5C1B6A"
      "1B30";
  // Once the device has heard the cancels, a swipe waits at the idle head
  // and nothing reaches the host.
  ASSERT_EQ(HostBytes(sim_, sent), sent);
  EXPECT_EQ(Control("swipe 1 2"), "ok held");
  Tracks tracks;
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h, tracks.first, tracks.second), -101);
  EXPECT_EQ(KP_DEV_Magnetic_ConfirmWriteTrack(h), -101);
  EXPECT_TRUE(sim_.Traffic().device_to_host.empty());
}

}  // namespace
