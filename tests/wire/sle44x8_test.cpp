// SLE4428 and SLE4442 memory cards on the three reader families: the
// command frames on the wire, the results, and what the caller's buffers
// receive or keep.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "wire/fixture.h"

using kptest::CommandFrame;
using kptest::FromHex;

namespace {

char g_text[64];
char g_flags[64];
int g_value;

class Sle44x8Test : public kptest::ReaderTest {
 protected:
  Sle44x8Test() : ReaderTest(24) {}
};

TEST_F(Sle44x8Test, TypeOneAndSixtyOneFrames) {
  const std::vector<Call> frames = {
      {[](int h) { return KP_DEV_SLE4428_VerifyPwd(h, 0, "FFFF"); }, 0x3234, "00 02 FFFF"},
      {[](int h) { return KP_DEV_SLE4442_VerifyPwd(h, 1, "123456"); }, 0x3234, "01 03 123456"},
      {[](int h) { return KP_DEV_SLE4428_ModifyPwd(h, 0, "ABCD"); }, 0x3238, "00 02 ABCD"},
      {[](int h) { return KP_DEV_SLE4442_ModifyPwd(h, 0, "112233"); }, 0x3238, "00 03 112233"},
      {[](int h) { return KP_DEV_SLE4428_ReadERROR(h, 2, &g_value); }, 0x323C, "02"},
      {[](int h) { return KP_DEV_SLE4442_ReadERROR(h, 3, &g_value); }, 0x323C, "03"},
      {[](int h) { return KP_DEV_SLE4428_ReadData(h, 0, 1, 0x0102, 2, g_text, g_flags); }, 0x3235, "00 02 01 0002 01"},
      {[](int h) { return KP_DEV_SLE4428_ReadData(h, 0, 0, 0x0002, 1, g_text, g_flags); }, 0x3235, "00 02 00 0001 00"},
      {[](int h) { return KP_DEV_SLE4428_WriteData(h, 0, 1, 0x0010, "1234"); }, 0x3236, "00 10 00 0002 01 1234"},
      {[](int h) { return KP_DEV_SLE4442_ReadDataForUser(h, 0, 0x00FC, 4, g_text); }, 0x3235, "00 FC 00 0004"},
      {[](int h) { return KP_DEV_SLE4442_WriteDataForUser(h, 0, 0x0102, "1122"); }, 0x3236, "00 02 01 0002 1122"},
      {[](int h) { return KP_DEV_SLE4442_ReadDataForProtection(h, 0, 2, 4, g_text); }, 0x323A, "00 02 00 0004"},
      {[](int h) { return KP_DEV_SLE4442_WriteDataForProtection(h, 0, 3, "AABB"); }, 0x323B, "00 03 00 0002 AABB"},
  };
  for (int type : {5, 61}) {
    SCOPED_TRACE(type);
    Open(type);
    ExpectFrames(frames);
    // These readers cannot read a password back.
    dev_.ClearReceived();
    char pwd[8] = "keep";
    EXPECT_EQ(KP_DEV_SLE4428_ReadPwd(h_, 0, pwd), -20);
    EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(h_, 0, pwd), -20);
    EXPECT_STREQ(pwd, "keep");
    EXPECT_TRUE(dev_.Received().empty());
  }
}

TEST_F(Sle44x8Test, TypeZeroFrames) {
  Open(0);
  ExpectFrames({
      {[](int h) { return KP_DEV_SLE4428_VerifyPwd(h, 0, "FFFF"); }, 0x3234, "00 02 FFFF"},
      {[](int h) { return KP_DEV_SLE4442_ReadPwd(h, 1, g_text); }, 0x3237, "01"},
      // The change carries no length byte on this family.
      {[](int h) { return KP_DEV_SLE4442_ModifyPwd(h, 0, "112233"); }, 0x3238, "00 112233"},
      {[](int h) { return KP_DEV_SLE4428_ReadERROR(h, 2, &g_value); }, 0x323C, "02"},
      {[](int h) { return KP_DEV_SLE4428_ReadData(h, 0, 1, 0x0102, 2, g_text, g_flags); }, 0x3235, "00 02 01 0002 01"},
      {[](int h) { return KP_DEV_SLE4428_WriteData(h, 0, 1, 0x0010, "1234"); }, 0x3236, "00 10 00 0002 01 1234"},
      {[](int h) { return KP_DEV_SLE4428_WriteData(h, 0, 0, 0x0000, "0102"); }, 0x3236, "00 00 00 0002 00 0102"},
      {[](int h) { return KP_DEV_SLE4442_ReadDataForUser(h, 0, 0x00FC, 4, g_text); }, 0x3235, "00 FC 00 0004"},
      {[](int h) { return KP_DEV_SLE4442_WriteDataForUser(h, 0, 0x0102, "1122"); }, 0x3236, "00 02 01 0002 1122"},
      // Protection memory: one-byte address and length fields.
      {[](int h) { return KP_DEV_SLE4442_ReadDataForProtection(h, 0, 2, 4, g_text); }, 0x323A, "00 02 04"},
      {[](int h) { return KP_DEV_SLE4442_WriteDataForProtection(h, 0, 3, "AABB"); }, 0x323B, "00 03 02 AABB"},
  });
}

TEST_F(Sle44x8Test, ReadsDeliverOnlyCompleteAnswers) {
  Open(0);
  char data[32] = "11";
  char flags[8] = "zzzzzz";
  dev_.ReplyFrame(0x0000, {0xAA, 0xBB, 0x01, 0x00});
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(h_, 0, 0, 0, 2, data, flags), 0);
  EXPECT_STREQ(data, "11AABB");  // appended to the text already there
  EXPECT_STREQ(flags, "10");
  // Data without flags leaves the flags alone.
  std::strcpy(flags, "zz");
  dev_.ReplyFrame(0x0000, {0xCC, 0xDD});
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(h_, 0, 0, 0, 2, data, flags), 0);
  dev_.ReplyFrame(0x0000, {0xA0, 0xB0});
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(h_, 0, 0, 2, data), 0);
  EXPECT_STREQ(data, "11AABBCCDDA0B0");
  EXPECT_STREQ(flags, "zz");

  // Neither n nor 2n bytes, an error status, or length 0: nothing written.
  dev_.ReplyFrame(0x0000, {0x01, 0x02, 0x03});
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(h_, 0, 0, 0, 2, data, flags), 0);
  dev_.ReplyFrame(0x1001, {0xAA, 0xBB});
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(h_, 0, 0, 0, 2, data, flags), -305);
  dev_.ReplyFrame(0x0000, {1, 2, 3});
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(h_, 0, 0, 4, data), 0);
  dev_.ReplyFrame(0x3009, {1, 2, 3, 4});
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(h_, 0, 0, 4, data), -314);
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(h_, 0, 0, 0, data), 0);
  EXPECT_STREQ(data, "11AABBCCDDA0B0");
  EXPECT_STREQ(flags, "zz");
}

TEST_F(Sle44x8Test, CounterAndPasswordOutputs) {
  Open(0);
  // The counter is stored also when the status reports an error.
  int count = -1;
  dev_.ReplyFrame(0x1004, {0x03});
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(h_, 0, &count), -307);
  EXPECT_EQ(count, 3);
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SLE4428_ReadERROR(h_, 0, &count), 0);
  EXPECT_EQ(count, 0);
  count = 9;
  dev_.NoReply();
  EXPECT_EQ(KP_DEV_SLE4428_ReadERROR(h_, 0, &count), -4);
  EXPECT_EQ(count, 9);

  // A password read back is written from the start of the text.
  char pwd[16] = "zzzzzzzzzz";
  dev_.ReplyFrame(0x0000, {0xA1, 0xB2, 0xC3});
  EXPECT_EQ(KP_DEV_SLE4428_ReadPwd(h_, 0, pwd), 0);
  EXPECT_STREQ(pwd, "A1B2C3");
  EXPECT_EQ(pwd[7], 'z');
  std::strcpy(pwd, "keep");
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(h_, 0, pwd), 0);
  dev_.ReplyFrame(0x2004, {0x11});
  EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(h_, 0, pwd), -319);
  EXPECT_STREQ(pwd, "keep");
}

TEST_F(Sle44x8Test, RangesAndTextsRefusedBeforeSending) {
  const std::string tooLong(2100, 'A');
  Open(0);
  char data[16] = "";
  // Reads must end inside 1024, 256 and 32 bytes, on 16-bit values.
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(h_, 0, 0, 1000, 24, data, data), 0);
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(h_, 0, 0x10000 + 250, 6, data), 0);
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(h_, 0, 28, 4, data), 0);
  EXPECT_EQ(dev_.Requests().at(1), CommandFrame(0x3235, FromHex("00 FA 00 0006")));
  dev_.ClearReceived();
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(h_, 0, 0, 1000, 25, data, data), -5);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(h_, 0, 250, 7, data), -5);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(h_, 0, 29, 4, data), -5);
  // Type 0 takes upper-case hex only; no text may overflow the frame.
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(h_, 0, 0, "12ab"), -5);
  EXPECT_EQ(KP_DEV_SLE4428_VerifyPwd(h_, 0, "FFFG"), -5);
  EXPECT_EQ(KP_DEV_SLE4428_ModifyPwd(h_, 0, "ff"), -5);
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(h_, 0, 0, 0, "1 2"), -5);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(h_, 0, 0, "x"), -5);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(h_, 0, 0, tooLong.c_str()), -5);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(h_, 0, 0, 4, nullptr), -5);
  EXPECT_EQ(KP_DEV_SLE4428_ReadERROR(h_, 0, nullptr), -5);
  EXPECT_TRUE(dev_.Received().empty());

  // Type 1 passes the text on as it is: "ab" travels as 5A 5B and counts as
  // the byte AB in the checksum.
  Open(5);
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(h_, 0, 0, "12ab"), 0);
  EXPECT_EQ(dev_.Requests().at(0), FromHex("02 30303039 33323336 30303030303030303032 31325A5B 3B3F 03"));
  dev_.ClearReceived();
  EXPECT_EQ(KP_DEV_SLE4428_ModifyPwd(h_, 0, tooLong.c_str()), -5);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(h_, 0, 0, nullptr), -5);
  EXPECT_TRUE(dev_.Received().empty());
}

}  // namespace
