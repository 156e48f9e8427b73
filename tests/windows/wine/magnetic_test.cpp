// The magnetic head of a type-2 reader through the Windows DLL: the raw
// sequences that arm, cancel and reset it, the two tracks of a swipe split
// out of the head's stream, and track writes with their confirmations.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "card_reader.h"
#include "kp_dev.h"

namespace {

using kpwine::Hex;
using kpwine::Text;

// Track texts without the head's framing bytes (1B 73 3F 1C 41).
const char kTrack1[] = "B6222021234567890^KP^25121010";
const char kTrack2[] = "6222021234567890=25121010000012345";

std::string HexOf(const std::string& text) { return Hex(kpwine::Bytes(text.begin(), text.end())); }

class MagneticHead : public kpwine::CardReaderTest {
 protected:
  // Polls KP_DEV_Magnetic_ReadTrack while it reports that nothing came.
  int ReadTrack(char* first, char* second) {
    const ULONGLONG deadline = GetTickCount64() + 3000;
    int result = KP_DEV_Magnetic_ReadTrack(h(), first, second);
    while (result == -101 && GetTickCount64() < deadline) {
      Sleep(20);
      result = KP_DEV_Magnetic_ReadTrack(h(), first, second);
    }
    return result;
  }
  int ConfirmWrite() {
    const ULONGLONG deadline = GetTickCount64() + 3000;
    int result = KP_DEV_Magnetic_ConfirmWriteTrack(h());
    while (result == -101 && GetTickCount64() < deadline) {
      Sleep(20);
      result = KP_DEV_Magnetic_ConfirmWriteTrack(h());
    }
    return result;
  }
  void Arm() {
    ASSERT_EQ(KP_DEV_Magnetic_Accept(h()), 0);
    ASSERT_EQ(Hex(SentAtLeast(3)), "1B425D");
  }
};

TEST_F(MagneticHead, OpenSelectsTheHeadAndASwipeGivesBothTracks) {
  char port[64];
  std::snprintf(port, sizeof port, "COM%d:9600:N:8:1", h());
  int handle = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(2, port, &handle), 0);
  EXPECT_EQ(Hex(Sent()), "1B2442");
  int module = -1;
  ASSERT_EQ(KP_DEV_CheckIsOpen(h(), &module), 0);
  EXPECT_EQ(module, 2);

  // Nothing swiped yet: nothing is consumed or written.
  Text first('Z'), second('Z');
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h(), first.chars, second.chars), -101);
  EXPECT_EQ(first.At(0, 4), "ZZZZ");
  EXPECT_EQ(second.At(0, 4), "ZZZZ");

  Arm();
  EXPECT_EQ(Control(std::string("swipe ") + kTrack1 + " " + kTrack2), "read");
  Text one('\0'), two('\0');
  ASSERT_EQ(ReadTrack(one.chars, two.chars), 0);
  EXPECT_STREQ(one.chars, kTrack1);
  EXPECT_STREQ(two.chars, kTrack2);
  // The head answered once; the next poll finds nothing.
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h(), first.chars, second.chars), -101);
  EXPECT_EQ(first.At(0, 4), "ZZZZ");

  ASSERT_EQ(KP_DEV_Magnetic_CancelAccept(h()), 0);
  EXPECT_EQ(Hex(SentAtLeast(2)), "1B30");
  ASSERT_EQ(KP_DEV_Magnetic_Reset(h()), 0);
  EXPECT_EQ(Hex(SentAtLeast(2)), "1B61");
  // The type-2 reader restores no module on close.
  EXPECT_EQ(KP_DEV_CloseDevice(h()), 0);
  Sleep(100);
  EXPECT_EQ(Hex(Sent()), "");
}

TEST_F(MagneticHead, EmptyTrackAndBlankCard) {
  OpenReader(2);

  // An empty first track (7F) comes back as four zero bytes; the track
  // bytes are written without a terminator.
  Arm();
  EXPECT_EQ(Control(std::string("swipe - ") + kTrack2), "read");
  Text first('Z'), second('Z');
  ASSERT_EQ(ReadTrack(first.chars, second.chars), 0);
  EXPECT_EQ(first.At(0, 4), std::string(4, '\0'));
  EXPECT_EQ(first.At(4, 2), "ZZ");
  EXPECT_EQ(second.At(0, sizeof kTrack2 - 1), kTrack2);
  EXPECT_EQ(second.At(sizeof kTrack2 - 1, 2), "ZZ");

  // A blank card is 7 bytes: too short, consumed, and only the first byte
  // of each output is cleared.
  Arm();
  EXPECT_EQ(Control("swipe"), "read");
  Text a('Z'), b('Z');
  EXPECT_EQ(ReadTrack(a.chars, b.chars), -102);
  EXPECT_EQ(a.At(0, 2), std::string("\0Z", 2));
  EXPECT_EQ(b.At(0, 2), std::string("\0Z", 2));
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h(), a.chars, b.chars), -101);
}

TEST_F(MagneticHead, WritesOneOrBothTracksAndReportsTheOutcome) {
  OpenReader(2);

  // The second track alone: ESC T 4 ESC t A, the text, GS ESC \ ESC j.
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h(), "", kTrack2), 0);
  const std::string second = "1B54341B7441" + HexOf(kTrack2) + "1D1B5C1B6A";
  EXPECT_EQ(Hex(SentAtLeast(second.size() / 2)), second);
  EXPECT_EQ(Control("swipe 1111 2222"), "written");
  EXPECT_EQ(ConfirmWrite(), 0);
  EXPECT_NE(Control("head").find("last=31313131/" + HexOf(kTrack2)), std::string::npos) << Control("head");

  // Both tracks.
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h(), kTrack1, "1234"), 0);
  const std::string both = "1B341B54341B74" + HexOf(kTrack1) + "41" + HexOf("1234") + "1D1B5C1B6A";
  EXPECT_EQ(Hex(SentAtLeast(both.size() / 2)), both);
  EXPECT_EQ(Control("swipe 1111 2222"), "written");
  EXPECT_EQ(ConfirmWrite(), 0);
  EXPECT_NE(Control("head").find("last=" + HexOf(kTrack1) + "/" + HexOf("1234")), std::string::npos);

  // The first track, and a head that fails the write: q.
  Control("head fail-write");
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h(), "9999", ""), 0);
  const std::string first = "1B341B74" + HexOf("9999") + "1D1B5C1B6A";
  EXPECT_EQ(Hex(SentAtLeast(first.size() / 2)), first);
  EXPECT_EQ(Control("swipe 1111 2222"), "write-failed");
  EXPECT_EQ(ConfirmWrite(), -103);
  EXPECT_NE(Control("head").find("last=31313131/32323232"), std::string::npos);

  // Two empty texts: refused before anything is sent.
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h(), "", ""), -5);
  Sleep(100);
  EXPECT_EQ(Hex(Sent()), "");
}

TEST_F(MagneticHead, CardReaderTypeHasNoHead) {
  OpenReader(1);
  Text first('Z'), second('Z');
  EXPECT_EQ(KP_DEV_Magnetic_Accept(h()), -20);
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h(), first.chars, second.chars), -20);
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h(), "1234", ""), -20);
  EXPECT_EQ(first.At(0, 4), "ZZZZ");
  Sleep(100);
  EXPECT_EQ(Hex(Sent()), "");
}

}  // namespace
