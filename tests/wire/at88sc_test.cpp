// AT88SC102, AT88SC1604 and AT88SC1608 memory cards on the three reader
// families: command frames, results, and the caller's buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kp_dev.h"
#include "wire/fixture.h"

using kptest::CommandFrame;
using kptest::FromHex;

namespace {

char g_text[64];
int g_value;

class At88scTest : public kptest::ReaderTest {
 protected:
  At88scTest() : ReaderTest(25) {}
};

TEST_F(At88scTest, TypeOneAndSixtyOneFrames) {
  const std::vector<Call> frames = {
      {[](int h) { return KP_DEV_AT88SC102_Fuse(h, 0); }, 0x3239, "00"},
      {[](int h) { return KP_DEV_AT88SC1604_Fuse(h, 1); }, 0x3239, "01"},
      {[](int h) { return KP_DEV_AT88SC1608_Fuse(h, 2); }, 0x3239, "02"},
      {[](int h) { return KP_DEV_AT88SC102_VerifyPwd(h, 0, 1, "F0F0"); }, 0x3234, "00 01 02 F0F0"},
      {[](int h) { return KP_DEV_AT88SC1604_VerifyPwd(h, 1, 3, "112233"); }, 0x3234, "01 03 03 112233"},
      {[](int h) { return KP_DEV_AT88SC102_ModifyPwd(h, 0, 1, "F0F0"); }, 0x3238, "00 01 02 F0F0"},
      {[](int h) { return KP_DEV_AT88SC1604_ModifyPwd(h, 0, 2, "F0F0F0"); }, 0x3238, "00 02 03 F0F0F0"},
      {[](int h) { return KP_DEV_AT88SC102_ReadERROR(h, 0, 1, &g_value); }, 0x323C, "00 01"},
      {[](int h) { return KP_DEV_AT88SC1604_ReadERROR(h, 1, 2, &g_value); }, 0x323C, "01 02"},
      {[](int h) { return KP_DEV_AT88SC102_ReadData(h, 0, 0x0102, 4, g_text); }, 0x3235, "00 02 01 0004"},
      {[](int h) { return KP_DEV_AT88SC1604_ReadData(h, 0, 0x0010, 1024, g_text); }, 0x3235, "00 10 00 0400"},
      {[](int h) { return KP_DEV_AT88SC102_WriteData(h, 0, 0x0102, "11223344"); }, 0x3236, "00 02 01 0004 11223344"},
      {[](int h) { return KP_DEV_AT88SC1604_WriteData(h, 1, 0x0010, "AB"); }, 0x3236, "01 10 00 0001 AB"},
      // The AT88SC1608 selector goes in the zone field; the set and the
      // data zone are not sent.
      {[](int h) { return KP_DEV_AT88SC1608_VerifyPwd(h, 0, 5, 3, "AABBCC"); }, 0x3234, "00 05 03 AABBCC"},
      {[](int h) { return KP_DEV_AT88SC1608_ModifyPwd(h, 0, 5, 3, "AABBCC"); }, 0x3238, "00 05 03 AABBCC"},
      {[](int h) { return KP_DEV_AT88SC1608_ReadERROR(h, 0, 1, 3, &g_value); }, 0x323C, "00 01"},
      {[](int h) { return KP_DEV_AT88SC1608_ReadData(h, 0, 5, 0x0102, 4, g_text); }, 0x3235, "00 02 01 0004"},
      {[](int h) { return KP_DEV_AT88SC1608_WriteData(h, 0, 5, 0x0102, "1122"); }, 0x3236, "00 02 01 0002 1122"},
  };
  for (int type : {5, 61}) {
    SCOPED_TRACE(type);
    Open(type);
    ExpectFrames(frames);
    dev_.ClearReceived();
    char out[8] = "keep";
    int value = 7;
    EXPECT_EQ(KP_DEV_AT88SC102_ReadPwd(h_, 0, 0, out), -20);
    EXPECT_EQ(KP_DEV_AT88SC1604_ReadPwd(h_, 0, 0, out), -20);
    EXPECT_EQ(KP_DEV_AT88SC1608_ReadPwd(h_, 0, 0, 0, out), -20);
    EXPECT_EQ(KP_DEV_AT88SC102_ClearData(h_, 0, 0, 4), -20);
    EXPECT_EQ(KP_DEV_AT88SC102_CWriteData(h_, 0, 0, "00"), -20);
    EXPECT_EQ(KP_DEV_AT88SC1608_InitAuthenticationCard(h_, 0, "00"), -20);
    EXPECT_EQ(KP_DEV_AT88SC1608_AuthenticationCard(h_, 0, "00"), -20);
    EXPECT_EQ(KP_DEV_AT88SC1608_ReadFuse(h_, 0, &value), -20);
    EXPECT_STREQ(out, "keep");
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(dev_.Received().empty());
  }
}

TEST_F(At88scTest, TypeZeroFrames) {
  Open(0);
  ExpectFrames({
      {[](int h) { return KP_DEV_AT88SC102_Fuse(h, 0); }, 0x3239, "00"},
      {[](int h) { return KP_DEV_AT88SC1604_Fuse(h, 1); }, 0x3239, "01"},
      {[](int h) { return KP_DEV_AT88SC1608_Fuse(h, 2); }, 0x3239, "02"},
      {[](int h) { return KP_DEV_AT88SC102_VerifyPwd(h, 0, 1, "F0F0"); }, 0x3234, "00 01 02 F0F0"},
      {[](int h) { return KP_DEV_AT88SC1604_VerifyPwd(h, 0, 3, "112233"); }, 0x3234, "00 03 03 112233"},
      // Password reads take any seat.
      {[](int h) { return KP_DEV_AT88SC102_ReadPwd(h, 1, 2, g_text); }, 0x3237, "01 02"},
      {[](int h) { return KP_DEV_AT88SC1604_ReadPwd(h, 0, 3, g_text); }, 0x3237, "00 03"},
      {[](int h) { return KP_DEV_AT88SC102_ModifyPwd(h, 0, 1, "F0F0"); }, 0x3238, "00 01 F0F0"},
      {[](int h) { return KP_DEV_AT88SC1604_ModifyPwd(h, 0, 2, "F0F0F0"); }, 0x3238, "00 02 F0F0F0"},
      {[](int h) { return KP_DEV_AT88SC102_ReadERROR(h, 0, 1, &g_value); }, 0x323C, "00 01"},
      {[](int h) { return KP_DEV_AT88SC1604_ReadERROR(h, 0, 2, &g_value); }, 0x323C, "00 02"},
      {[](int h) { return KP_DEV_AT88SC102_ReadData(h, 0, 0x0102, 4, g_text); }, 0x3235, "00 02 01 0004"},
      {[](int h) { return KP_DEV_AT88SC1604_ReadData(h, 0, 0x0010, 1024, g_text); }, 0x3235, "00 10 00 0400"},
      {[](int h) { return KP_DEV_AT88SC102_WriteData(h, 0, 0x0102, "11223344"); }, 0x3236, "00 02 01 0004 11223344"},
      {[](int h) { return KP_DEV_AT88SC1604_WriteData(h, 1, 0x0010, "AB"); }, 0x3236, "01 10 00 0001 AB"},
      {[](int h) { return KP_DEV_AT88SC102_ClearData(h, 0, 0x10, 4); }, 0x3240, "00 00 10 04"},
      {[](int h) { return KP_DEV_AT88SC102_CWriteData(h, 1, 0x20, "AABB"); }, 0x3240, "01 01 20 02 AABB"},
      // AT88SC1608 passwords are numbered select + 2 × set.
      {[](int h) { return KP_DEV_AT88SC1608_VerifyPwd(h, 0, 1, 3, "AABBCC"); }, 0x3234, "00 03 01 03 AABBCC"},
      {[](int h) { return KP_DEV_AT88SC1608_ReadPwd(h, 0, 1, 3, g_text); }, 0x3237, "00 07"},
      {[](int h) { return KP_DEV_AT88SC1608_ModifyPwd(h, 0, 1, 3, "AABBCC"); }, 0x3238, "00 07 AABBCC"},
      {[](int h) { return KP_DEV_AT88SC1608_ReadERROR(h, 0, 1, 3, &g_value); }, 0x323C, "00 07"},
      {[](int h) { return KP_DEV_AT88SC1608_ReadData(h, 0, 5, 0x0102, 4, g_text); }, 0x3235, "00 05 02 01 0004"},
      {[](int h) { return KP_DEV_AT88SC1608_WriteData(h, 0, 5, 0x0102, "1122"); }, 0x3236, "00 05 02 01 0002 1122"},
      {[](int h) { return KP_DEV_AT88SC1608_InitAuthenticationCard(h, 0, "0102030405060708"); }, 0x323D,
       "00 0102030405060708"},
      {[](int h) { return KP_DEV_AT88SC1608_AuthenticationCard(h, 1, "A1A2"); }, 0x323E, "01 A1A2"},
      {[](int h) { return KP_DEV_AT88SC1608_ReadFuse(h, 0, &g_value); }, 0x323F, "00"},
  });
}

TEST_F(At88scTest, LockedPasswordAnswersWithCounterSixteen) {
  Open(0);
  // 0x6005 makes the check read the counter of password number 16 and
  // return that read's status.
  dev_.ReplyFrame(0x6005);
  dev_.ReplyFrame(0x1004, {0x02});
  EXPECT_EQ(KP_DEV_AT88SC1608_VerifyPwd(h_, 1, 2, 0, "AABBCC"), -307);
  ASSERT_EQ(dev_.Requests().size(), 2u);
  EXPECT_EQ(dev_.Requests()[1], CommandFrame(0x323C, FromHex("01 10")));
  dev_.ClearReceived();
  dev_.ReplyFrame(0x6005);
  dev_.ReplyFrame(0x0000, {0x05});
  EXPECT_EQ(KP_DEV_AT88SC1608_VerifyPwd(h_, 0, 0, 0, "AABBCC"), 0);
  EXPECT_EQ(dev_.Requests().size(), 2u);

  // Any other status is mapped as usual, without a second command; 0x6005
  // is not in the status table.
  dev_.ClearReceived();
  dev_.ReplyFrame(0x1001);
  EXPECT_EQ(KP_DEV_AT88SC1608_VerifyPwd(h_, 0, 0, 0, "AABBCC"), -305);
  dev_.ReplyFrame(0x6005);
  EXPECT_EQ(KP_DEV_AT88SC1608_ModifyPwd(h_, 0, 0, 0, "AABBCC"), -9);
  EXPECT_EQ(dev_.Requests().size(), 2u);
}

TEST_F(At88scTest, OutputsAreWrittenOnlyAsTheCardAnswers) {
  Open(0);
  // Counters and the fuse are stored before the status is mapped; password
  // number 16 (select 0, set 8) leaves the count alone.
  int count = -1;
  dev_.ReplyFrame(0x1004, {0x03});
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadERROR(h_, 0, 2, &count), -307);
  EXPECT_EQ(count, 3);
  dev_.ReplyFrame(0x1001, {0x09});
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadERROR(h_, 0, 0, 8, &count), -305);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(dev_.Requests().back(), CommandFrame(0x323C, FromHex("00 10")));
  int fuse = -1;
  dev_.ReplyFrame(0x1001, {0x01});
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadFuse(h_, 0, &fuse), -305);
  EXPECT_EQ(fuse, 1);

  char data[32] = "55";
  dev_.ReplyFrame(0x0000, {0xDE, 0xAD});
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadData(h_, 0, 1, 0, 2, data), 0);
  dev_.ReplyFrame(0x0000, {0xDE});
  EXPECT_EQ(KP_DEV_AT88SC102_ReadData(h_, 0, 0, 2, data), 0);
  dev_.ReplyFrame(0x1002, {0xDE, 0xAD});
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadData(h_, 0, 0, 2, data), -306);
  EXPECT_STREQ(data, "55DEAD");

  char pwd[16] = "zzzzzzzz";
  dev_.ReplyFrame(0x0000, {0x12, 0x34});
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadPwd(h_, 0, 0, 0, pwd), 0);
  EXPECT_STREQ(pwd, "1234");
  EXPECT_EQ(pwd[5], 'z');
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_AT88SC102_ReadPwd(h_, 0, 0, pwd), 0);
  EXPECT_STREQ(pwd, "1234");

  Open(61);
  dev_.ReplyFrame(0x2005, {0x06});
  EXPECT_EQ(KP_DEV_AT88SC102_ReadERROR(h_, 0, 1, &count), -310);
  EXPECT_EQ(count, 6);
}

TEST_F(At88scTest, RefusalsSendNothing) {
  Open(0);
  char data[16] = "";
  // The AT88SC102/1604 password and counter commands serve seat 0 only.
  EXPECT_EQ(KP_DEV_AT88SC102_VerifyPwd(h_, 1, 0, "F0F0"), -5);
  EXPECT_EQ(KP_DEV_AT88SC1604_VerifyPwd(h_, 1, 0, "F0F0"), -5);
  EXPECT_EQ(KP_DEV_AT88SC102_ModifyPwd(h_, 2, 0, "F0F0"), -5);
  EXPECT_EQ(KP_DEV_AT88SC1604_ModifyPwd(h_, 1, 0, "F0F0"), -5);
  EXPECT_EQ(KP_DEV_AT88SC102_ReadERROR(h_, 1, 0, &g_value), -5);
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadERROR(h_, 1, 0, &g_value), -5);
  // Upper-case hex only; reads of at most 1024 bytes; texts that fit a frame.
  EXPECT_EQ(KP_DEV_AT88SC1604_VerifyPwd(h_, 0, 0, "f0f0"), -5);
  EXPECT_EQ(KP_DEV_AT88SC102_ModifyPwd(h_, 0, 0, "F0 F0"), -5);
  EXPECT_EQ(KP_DEV_AT88SC102_WriteData(h_, 0, 0, "12ab"), -5);
  EXPECT_EQ(KP_DEV_AT88SC102_CWriteData(h_, 0, 0, "zz"), -5);
  EXPECT_EQ(KP_DEV_AT88SC1608_VerifyPwd(h_, 0, 0, 0, "GG"), -5);
  EXPECT_EQ(KP_DEV_AT88SC1608_ModifyPwd(h_, 0, 0, 0, "aa"), -5);
  EXPECT_EQ(KP_DEV_AT88SC1608_WriteData(h_, 0, 0, 0, "0g"), -5);
  EXPECT_EQ(KP_DEV_AT88SC102_ReadData(h_, 0, 0, 1025, data), -5);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadData(h_, 0, 0, 0, 1025, data), -5);
  EXPECT_EQ(KP_DEV_AT88SC1608_InitAuthenticationCard(h_, 0, std::string(2080, 'A').c_str()), -5);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadFuse(h_, 0, nullptr), -5);
  EXPECT_TRUE(dev_.Received().empty());

  Open(5);
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadData(h_, 0, 0, 1025, data), -5);
  EXPECT_EQ(KP_DEV_AT88SC102_VerifyPwd(h_, 0, 0, nullptr), -5);
  EXPECT_TRUE(dev_.Received().empty());
}

}  // namespace
