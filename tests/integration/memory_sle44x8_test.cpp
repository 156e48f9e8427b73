// SLE4442 and SLE4428 cards through the exported interface against the
// virtual reader: the frames each reader class sends, what reaches the
// caller's buffers, and what the chip ends up holding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "integration/memory_wire.h"
#include "kp_dev.h"

using namespace kptest;

namespace {

// ------------------------------------------------------------ SLE4442

TEST(Sle4442, PscCounterAndMainMemoryOnTypeOne) {
  MemoryReader r("t1", 1, {"0 sle4442 psc=123456 data=A213109100112233"});

  // Writing before the PSC: the card refuses, nothing changes.
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0x20, "AABB"), kNeedPassword);
  r.ExpectSent(0x3236, "00 20 00 0002 AABB");

  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "123456"), 0);
  r.ExpectSent(0x3234, "00 03 123456");
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0x20, "AABB"), 0);
  r.ExpectSent(0x3236, "00 20 00 0002 AABB");
  EXPECT_EQ(r.Dump("0 memory 31 4"), "FFAABBFF");

  // The read appends to the caller's text.
  char data[64] = "77";
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(r.h(), 0, 0x04, 4, data), 0);
  r.ExpectSent(0x3235, "00 04 00 0004");
  EXPECT_STREQ(data, "7700112233");

  // Two wrong PSCs: the counter goes down, and stored on every read.
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "000000"), kWrongPassword);
  int count = -1;
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(r.h(), 0, &count), 0);
  r.ExpectSent({{0x3234, "00 03 000000"}, {0x323C, "00"}});
  EXPECT_EQ(count, 2);
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "000001"), kWrongPassword);
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(r.h(), 0, &count), 0);
  EXPECT_EQ(count, 1);
  // The third locks the card; the counter read reports the lock and still
  // delivers the count.
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "000002"), kLocked);
  count = 99;
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(r.h(), 0, &count), kLocked);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "123456"), kLocked);
  r.ExpectSent(
      {{0x3234, "00 03 000001"}, {0x323C, "00"}, {0x3234, "00 03 000002"}, {0x323C, "00"}, {0x3234, "00 03 123456"}});
}

TEST(Sle4442, ReadRangeIsCheckedBeforeSending) {
  MemoryReader r("t1", 1, {"0 sle4442"});
  char data[32] = "";
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(r.h(), 0, 250, 6, data), 0);
  r.ExpectSent(0x3235, "00 FA 00 0006");
  EXPECT_STREQ(data, "FFFFFFFFFFFF");
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(r.h(), 0, 250, 7, data), -5);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(r.h(), 0, 30, 3, data), -5);
  r.ExpectNothingSent();
  EXPECT_STREQ(data, "FFFFFFFFFFFF");
}

TEST(Sle4442, ProtectionMemoryOnTypeOneAndSixtyOne) {
  for (const char* family : {"t1", "t61"}) {
    SCOPED_TRACE(family);
    MemoryReader r(family, family[1] == '1' ? 1 : 61, {"0 sle4442 data=A2131091CAFE protect=0-3"});
    // Bit 1: writable; 0: protected.
    char bits[32] = "";
    EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(r.h(), 0, 2, 4, bits), 0);
    r.ExpectSent(0x323A, "00 02 00 0004");
    EXPECT_STREQ(bits, "00000101");

    ASSERT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "FFFFFF"), 0);
    // Protecting needs the bytes' current content.
    EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(r.h(), 0, 4, "CAFF"), kProtected);
    EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(r.h(), 0, 4, "CAFE"), 0);
    r.ExpectSent({{0x3234, "00 03 FFFFFF"}, {0x323B, "00 04 00 0002 CAFF"}, {0x323B, "00 04 00 0002 CAFE"}});
    EXPECT_EQ(r.Dump("0 protection 0 7"), "00000000000001");
    // A protected byte is not written again.
    EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 5, "00"), kProtected);
    EXPECT_EQ(r.Dump("0 memory 4 2"), "CAFE");

    EXPECT_EQ(KP_DEV_SLE4442_ModifyPwd(r.h(), 0, "654321"), 0);
    EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(r.h(), 0, bits), -20);
    r.ExpectSent({{0x3236, "00 05 00 0001 00"}, {0x3238, "00 03 654321"}});
    EXPECT_NE(r.Dump("0").find(" psc=654321 "), std::string::npos);
  }
}

TEST(Sle4442, TypeZeroLayouts) {
  MemoryReader r("t0", 0, {"0 sle4442 psc=123456 data=A213109155"});
  char text[32] = "keep";
  EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(r.h(), 0, text), 0);
  r.ExpectSent(0x3237, "00");
  EXPECT_STREQ(text, "000000");  // the chip hides its PSC until presented

  // Lower-case or foreign characters never leave the host.
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "12345g"), -5);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0x20, "12ab"), -5);
  EXPECT_EQ(KP_DEV_SLE4442_ModifyPwd(r.h(), 0, "abcdef"), -5);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(r.h(), 0, 4, "5x"), -5);
  r.ExpectNothingSent();

  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "123456"), 0);
  EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(r.h(), 0, text), 0);
  EXPECT_STREQ(text, "123456");
  // The new PSC without a length byte; the protection memory with one-byte
  // address and length.
  EXPECT_EQ(KP_DEV_SLE4442_ModifyPwd(r.h(), 0, "ABCDEF"), 0);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(r.h(), 0, 4, "55"), 0);
  char bits[32] = "";
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(r.h(), 0, 2, 4, bits), 0);
  EXPECT_STREQ(bits, "00000001");
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0x10, "1234"), 0);
  r.ExpectSent({{0x3234, "00 03 123456"},
                {0x3237, "00"},
                {0x3238, "00 ABCDEF"},
                {0x323B, "00 04 01 55"},
                {0x323A, "00 02 04"},
                {0x3236, "00 10 00 0002 1234"}});
  EXPECT_EQ(r.Dump("0 memory 16 2"), "1234");
}

TEST(Sle4442, TypeOneSendsLowerCaseDataAsItIs) {
  MemoryReader r("t1", 1, {"0 sle4442"});
  // The characters 'a' and 'b' travel as 0x5A and 0x5B, which the device
  // does not take for nibbles.
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0x20, "12ab"), kBadFrame);
  r.ExpectSentBytes(FrameOfText(0x3236, "002000000212ab"));
}

TEST(Sle4442, WrongModuleAndEmptySeat) {
  MemoryReader r("t1", 2, {"0 sle4442"});
  char text[16] = "keep";
  int count = 7;
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "FFFFFF"), -20);
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(r.h(), 0, &count), -20);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(r.h(), 0, 0, 300, text), -20);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0, "00"), -20);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(r.h(), 0, 0, 1, text), -20);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(r.h(), 0, 0, "A2"), -20);
  EXPECT_EQ(KP_DEV_SLE4442_ModifyPwd(r.h(), 0, "FFFFFF"), -20);
  r.ExpectNothingSent();
  EXPECT_STREQ(text, "keep");
  EXPECT_EQ(count, 7);

  MemoryReader t61("t61", 61);
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(t61.h(), 1, 0, 1, text), kNoCard);
  t61.ExpectSent(0x3235, "01 00 00 0001");
  EXPECT_STREQ(text, "keep");
}

// ------------------------------------------------------------ SLE4428

TEST(Sle4428, DataWithProtectionBitsAndWriteModes) {
  MemoryReader r("t1", 1, {"0 sle4428 psc=1234 data=AABBCC protect=1"});
  char data[64] = "";
  char flags[64] = "xxxxxx";
  // Mode 1: the data and a bit per byte (1 writable, 0 protected).
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(r.h(), 0, 1, 0, 2, data, flags), 0);
  r.ExpectSent(0x3235, "00 00 00 0002 01");
  EXPECT_STREQ(data, "AABB");
  EXPECT_STREQ(flags, "10");
  // Mode 0: data alone; the flags are left as they were.
  std::strcpy(flags, "xxxxxx");
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(r.h(), 0, 0, 2, 1, data, flags), 0);
  r.ExpectSent(0x3235, "00 02 00 0001 00");
  EXPECT_STREQ(data, "AABBCC");
  EXPECT_STREQ(flags, "xxxxxx");

  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 1, 0x0010, "1234"), kNeedPassword);
  EXPECT_EQ(KP_DEV_SLE4428_VerifyPwd(r.h(), 0, "1234"), 0);
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 1, 0x0010, "1234"), 0);
  r.ExpectSent({{0x3236, "00 10 00 0002 01 1234"}, {0x3234, "00 02 1234"}, {0x3236, "00 10 00 0002 01 1234"}});
  EXPECT_EQ(r.Dump("0 memory 16 2"), "1234");
  EXPECT_EQ(r.Dump("0 protection 15 3"), "010000");
  // Written with protection: a second write is refused and changes nothing.
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 0, 0x0011, "99"), kProtected);
  EXPECT_EQ(r.Dump("0 memory 16 2"), "1234");
}

TEST(Sle4428, RangeCounterAndPassword) {
  MemoryReader r("t61", 61, {"0 sle4428 psc=1234"});
  char data[128] = "";
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(r.h(), 0, 0, 1000, 25, data, nullptr), -5);
  r.ExpectNothingSent();
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(r.h(), 0, 0, 1000, 24, data, nullptr), 0);
  r.ExpectSent(0x3235, "00 E8 03 0018 00");
  EXPECT_EQ(std::string(data), std::string(48, 'F'));

  EXPECT_EQ(KP_DEV_SLE4428_VerifyPwd(r.h(), 0, "4321"), kWrongPassword);
  int count = -1;
  EXPECT_EQ(KP_DEV_SLE4428_ReadERROR(r.h(), 0, &count), 0);
  EXPECT_EQ(count, 7);
  EXPECT_EQ(KP_DEV_SLE4428_ModifyPwd(r.h(), 0, "5678"), kNeedPassword);
  EXPECT_EQ(KP_DEV_SLE4428_VerifyPwd(r.h(), 0, "1234"), 0);
  EXPECT_EQ(KP_DEV_SLE4428_ModifyPwd(r.h(), 0, "5678"), 0);
  EXPECT_EQ(KP_DEV_SLE4428_ReadERROR(r.h(), 0, &count), 0);
  EXPECT_EQ(count, 8);
  char pwd[16] = "keep";
  EXPECT_EQ(KP_DEV_SLE4428_ReadPwd(r.h(), 0, pwd), -20);
  EXPECT_STREQ(pwd, "keep");
  r.ExpectSent({{0x3234, "00 02 4321"},
                {0x323C, "00"},
                {0x3238, "00 02 5678"},
                {0x3234, "00 02 1234"},
                {0x3238, "00 02 5678"},
                {0x323C, "00"}});
  EXPECT_EQ(r.Dump("0").substr(0, 35), "kind=sle4428 psc=5678 tries=8 grant");
}

TEST(Sle4428, TypeZeroReadsAndChangesThePsc) {
  MemoryReader r("t0", 0, {"0 sle4428 psc=1234"});
  char pwd[16] = "keep";
  EXPECT_EQ(KP_DEV_SLE4428_VerifyPwd(r.h(), 0, "1234"), 0);
  EXPECT_EQ(KP_DEV_SLE4428_ReadPwd(r.h(), 0, pwd), 0);
  EXPECT_STREQ(pwd, "1234");
  EXPECT_EQ(KP_DEV_SLE4428_ModifyPwd(r.h(), 0, "9876"), 0);
  EXPECT_EQ(KP_DEV_SLE4428_ModifyPwd(r.h(), 0, "98x6"), -5);
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 0, 0, "0g"), -5);
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 0, 0, "0102"), 0);
  r.ExpectSent({{0x3234, "00 02 1234"}, {0x3237, "00"}, {0x3238, "00 9876"}, {0x3236, "00 00 00 0002 00 0102"}});
  EXPECT_EQ(r.Dump("0 memory 0 3"), "0102FF");
}

}  // namespace
