// AT24Cxx and AT45DB041 memory cards on the three reader families: command
// frames, range checks, results and the caller's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kp_dev.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::CommandFrame;
using kptest::FromHex;

namespace {

class At24At45Test : public kptest::ReaderTest {
 protected:
  At24At45Test() : ReaderTest(26) {}
};

TEST_F(At24At45Test, At24FramesAndLimitsOnEveryFamily) {
  for (int type : {5, 61, 0}) {
    SCOPED_TRACE(type);
    Open(type);
    char data[32] = "";
    // The address is not checked; the count may reach 1024.
    dev_.ReplyFrame(0x0000);
    EXPECT_EQ(KP_DEV_AT24CXX_ReadData(h_, 0, 0xFFF0, 1024, data), 0);
    EXPECT_EQ(OnlyRequest(), CommandFrame(0x3235, FromHex("00 F0 FF 0400")));
    dev_.ReplyFrame(0x0000, {0x01, 0x02, 0x03});
    EXPECT_EQ(KP_DEV_AT24CXX_ReadData(h_, 1, 0x0102, 3, data), 0);
    EXPECT_EQ(OnlyRequest(), CommandFrame(0x3235, FromHex("01 02 01 0003")));
    EXPECT_STREQ(data, "010203");
    dev_.ReplyFrame(0x0000);
    EXPECT_EQ(KP_DEV_AT24CXX_WriteData(h_, 0, 0x0102, "11223344"), 0);
    EXPECT_EQ(OnlyRequest(), CommandFrame(0x3236, FromHex("00 02 01 0004 11223344")));

    EXPECT_EQ(KP_DEV_AT24CXX_ReadData(h_, 0, 0, 1025, data), -5);
    EXPECT_TRUE(dev_.Received().empty());
  }
  // Only the type-0 family checks the text.
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(h_, 0, 0, "12ab"), -5);
  EXPECT_TRUE(dev_.Received().empty());
}

TEST_F(At24At45Test, At45FramesAndRanges) {
  Open(0);
  char data[32] = "AA";
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(h_, 0, 2047, 0, 256, data), 0);
  EXPECT_EQ(OnlyRequest(), CommandFrame(0x3235, FromHex("00 00 FF 07 0100")));
  dev_.ReplyFrame(0x0000, {0x10, 0x20});
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(h_, 1, 0x0102, 0x10, 2, data), 0);
  EXPECT_EQ(OnlyRequest(), CommandFrame(0x3235, FromHex("01 10 02 01 0002")));
  EXPECT_STREQ(data, "AA1020");
  // A short answer, or an answer not closed by ETX, writes nothing.
  dev_.ReplyFrame(0x0000, {0x10});
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(h_, 0, 0, 0, 2, data), 0);
  Bytes open = kptest::ResponseFrame(0x0000, {0x10, 0x20});
  open.back() = 0x04;
  dev_.Reply(open);
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(h_, 0, 0, 0, 2, data), -8);
  EXPECT_STREQ(data, "AA1020");
  dev_.ClearReceived();

  // The read offset is not checked: 300 goes out as the three digits 12C
  // (data text 0012C01000004, 13 characters; N = 8).
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(h_, 0, 1, 300, 4, data), 0);
  EXPECT_EQ(OnlyRequest(), FromHex("02 30303038 33323335 30303132 3C303130 30303030 34 3C35 03"));

  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(h_, 0, 0x0102, 0x10, "AABB"), 0);
  EXPECT_EQ(OnlyRequest(), CommandFrame(0x3236, FromHex("00 10 02 01 0002 AABB")));
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(h_, 0, 2047, 255, "01"), 0);
  EXPECT_EQ(OnlyRequest(), CommandFrame(0x3236, FromHex("00 FF FF 07 0001 01")));
  dev_.ReplyFrame(0x2006);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(h_, 0, 0, 0, "01"), -320);
  dev_.ClearReceived();

  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(h_, 0, 2048, 0, 4, data), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(h_, 0, 0, 0, 257, data), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(h_, 0, 0, 0, 4, nullptr), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(h_, 0, 0, 256, "01"), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(h_, 0, 2048, 0, "01"), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(h_, 0, 0, 0, "0a"), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(h_, 0, 0, 0, std::string(2060, '0').c_str()), -5);
  EXPECT_TRUE(dev_.Received().empty());
}

}  // namespace
