// Memory cards on the three reader families, against the scripted device:
// the fields of every command frame (seat, length byte, zone or selector,
// address low byte first, count), which family sends which layout, the
// results, what reaches the caller's buffers and what they keep, and the
// range and text checks that refuse before anything is sent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::CommandFrame;
using kptest::Frames;
using kptest::FromHex;

namespace {

char g_text[64];
char g_flags[64];
int g_value;

class MemoryCardTest : public kptest::ReaderTest {
 protected:
  MemoryCardTest() : ReaderTest(24) {}
};
class StoreTest : public MemoryCardTest {};
class Sle44x8Test : public MemoryCardTest {};
class At88scTest : public MemoryCardTest {};
class At24At45Test : public MemoryCardTest {};

// ---- The generic store-card family

TEST_F(StoreTest, PasswordAndKeyTextsCarryTheirByteCount) {
  // The type-0 readers build these texts on their own, the same way.
  for (int type : {5, 0}) {
    SCOPED_TRACE(type);
    const int h = Open(type);
    for (int i = 0; i < 5; ++i) Ok();
    dev_.ReplyFrame(0x1005);
    EXPECT_EQ(KP_DEV_IC_VerifyPwd(h, 0, "FFFFFF"), 0);
    EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1608(h, 1, 0x10007, "A1B2"), 0);  // low 16 bits of the zone
    EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1604(h, 2, 0x0102, "1234"), 0);
    EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1604(h, 2, 0x00FF, "1234"), 0);
    EXPECT_EQ(KP_DEV_IC_InitializeKey(h, 0, "00112233"), 0);
    EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT102(h, 1, 3, "A1B2"), -308);
    EXPECT_EQ(
        Sent(),
        (Frames{CommandFrame(0x3234, FromHex("00 03 FFFFFF")), CommandFrame(0x3234, FromHex("01 02 07 A1B2")),
                CommandFrame(0x3234, FromHex("02 02 02 01 1234")), CommandFrame(0x3234, FromHex("02 02 FF 00 1234")),
                CommandFrame(0x3233, FromHex("00 04 00112233")), CommandFrame(0x3234, FromHex("01 02 03 A1B2"))}));

    // An odd text: length byte rounded down, the seven characters sent as they
    // are (the checksum covers whole bytes only).
    Ok();
    EXPECT_EQ(KP_DEV_IC_InitializeKey(h, 0, "1234567"), 0);
    EXPECT_EQ(Sent(), Frames{FromHex("02 30 30 30 37 33 32 33 33 30 30 30 33 31 32 33 34 35 36 37 37 32 03")});

    // Fields wider than their byte never reach the device.
    char out[8] = "";
    EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1608(h, 0, 0x100, "1234"), -5);
    EXPECT_EQ(KP_DEV_IC_WriteStoreDataEXAT1608(h, 0, -1, 0, "1234"), -5);
    EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(h, 0, 0x1FF, 0, 4, out), -5);
    EXPECT_EQ(KP_DEV_IC_InitializeKey(h, 0, std::string(512, 'A').c_str()), -5);
    EXPECT_TRUE(Sent().empty());
  }
}

TEST_F(StoreTest, WritesCarryAddressLowByteFirstAndTheirCount) {
  int h = Open(1);
  Ok();
  dev_.ReplyFrame(0x2005);
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(h, 0, 0x0102, "11223344"), 0);
  EXPECT_EQ(KP_DEV_IC_WriteStoreDataEXAT1608(h, 1, 2, 0x0304, "AABB"), -310);
  EXPECT_EQ(Sent(), (Frames{CommandFrame(0x3236, FromHex("00 02 01 0004 11223344")),
                            CommandFrame(0x3236, FromHex("01 02 04 03 0002 AABB"))}));

  // The longest data text one frame carries after the ten field characters.
  std::string data(2056, '5');
  Ok();
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(h, 0, 0, data.c_str()), 0);
  Bytes expected = FromHex("00 00 00 0404");
  expected.insert(expected.end(), 1028, 0x55);
  EXPECT_EQ(Sent(), Frames{CommandFrame(0x3236, expected)});
  data += "55";
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(h, 0, 0, data.c_str()), -5);
  EXPECT_TRUE(Sent().empty());

  // The type-0 readers send the text unchecked: 'a' 'b' are lowered by 7 on
  // the wire like every letter, and the checksum reads them as hex.
  h = Open(0);
  Ok();
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(h, 0, 0, "12ab"), 0);
  EXPECT_EQ(Sent(), Frames{FromHex("02 30 30 30 39 33 32 33 36 30 30 30 30 30 30 30 30 30 32 31 32 5A 5B 3B 3F 03")});
}

TEST_F(StoreTest, ReadsAppendExactlyTheBytesAsked) {
  static char out[600];
  for (int type : {61, 0}) {
    SCOPED_TRACE(type);
    const int h = Open(type);
    out[0] = '\0';
    Ok({0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(KP_DEV_IC_ReadStoreData(h, 0, 0x0102, 4, out), 0);
    Ok({0xA0, 0xB0, 0xC0, 0xD0});
    EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(h, 0, 1, 0x10, 4, out), 0);
    EXPECT_STREQ(out, "01020304A0B0C0D0");
    // Another count than asked, nothing asked, or a device error: unchanged.
    Ok({0x01, 0x02, 0x03});
    EXPECT_EQ(KP_DEV_IC_ReadStoreData(h, 0, 0, 4, out), 0);
    Ok();
    EXPECT_EQ(KP_DEV_IC_ReadStoreData(h, 0, 0, 0x10000, out), 0);  // low 16 bits: 0
    dev_.ReplyFrame(0x3005, {0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(KP_DEV_IC_ReadStoreData(h, 0, 0, 4, out), -312);
    EXPECT_STREQ(out, "01020304A0B0C0D0");
    const Frames sent = Sent();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0], CommandFrame(0x3235, FromHex("00 02 01 0004")));
    EXPECT_EQ(sent[1], CommandFrame(0x3235, FromHex("00 01 10 00 0004")));
    EXPECT_EQ(sent[3], CommandFrame(0x3235, FromHex("00 00 00 0000")));

    out[0] = '\0';
    Ok(Bytes(248, 0xEE));
    EXPECT_EQ(KP_DEV_IC_ReadStoreData(h, 2, 0, 248, out), 0);
    EXPECT_EQ(std::string(out), std::string(496, 'E'));
    EXPECT_EQ(Sent(), Frames{CommandFrame(0x3235, FromHex("02 00 00 00F8"))});
    EXPECT_EQ(KP_DEV_IC_ReadStoreData(h, 2, 0, 249, out), -5);
    EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(h, 2, 1, 0, 0xFFFF, out), -5);
    EXPECT_TRUE(Sent().empty());
  }
}

// ---- SLE4428 and SLE4442

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

// ---- AT88SC102, AT88SC1604 and AT88SC1608

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

// ---- AT24Cxx and AT45DB041

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
