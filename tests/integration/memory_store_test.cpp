// The generic store-card exports (key, password, read and write at an
// address, and their zoned variants) against memory chips in the virtual
// reader: the frames, the results, and the caller's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "integration/memory_wire.h"
#include "kp_dev.h"

using namespace kptest;

namespace {

TEST(StoreCard, ReadAppendsOnlyCompleteAnswers) {
  MemoryReader r("t1", 1, {"0 at24c02 data=00112233445566778899"});
  // Two reads into one buffer: the second is appended to the first.
  char data[64] = "";
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 0, 4, data), 0);
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 4, 4, data), 0);
  r.ExpectSent({{0x3235, "00 00 00 0004"}, {0x3235, "00 04 00 0004"}});
  EXPECT_STREQ(data, "0011223344556677");

  // Length 0, and 0x10000 whose low 16 bits are 0: sent, nothing written.
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 8, 0, data), 0);
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 8, 0x10000, data), 0);
  r.ExpectSent({{0x3235, "00 08 00 0000"}, {0x3235, "00 08 00 0000"}});
  EXPECT_STREQ(data, "0011223344556677");

  // 248 is the longest read; past the chip's end the card refuses it.
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 0x10, 248, data), kOutOfRange);
  r.ExpectSent(0x3235, "00 10 00 00F8");
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 0, 249, data), -5);
  r.ExpectNothingSent();
  EXPECT_STREQ(data, "0011223344556677");
  char big[600] = "";
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 8, 248, big), 0);
  r.ExpectSent(0x3235, "00 08 00 00F8");
  EXPECT_EQ(std::strlen(big), 496u);
  EXPECT_EQ(std::string(big, 4), "8899");
}

TEST(StoreCard, WriteSendsAddressLowByteFirst) {
  MemoryReader r("t61", 61, {"0 at24c16"});
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(r.h(), 0, 0x0102, "11223344"), 0);
  r.ExpectSent(0x3236, "00 02 01 0004 11223344");
  EXPECT_EQ(r.Dump("0 memory 257 6"), "FF11223344FF");
  // Past the end of the 2048-byte chip: refused, nothing written.
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(r.h(), 0, 0x07FF, "AABB"), kOutOfRange);
  r.ExpectSent(0x3236, "00 FF 07 0002 AABB");
  EXPECT_EQ(r.Dump("0 memory 2047 1"), "FF");
}

TEST(StoreCard, PasswordAndKeyOnTypeOne) {
  MemoryReader r("t1", 1, {"0 sle4442 psc=123456", "1 at88sc1608"});
  EXPECT_EQ(KP_DEV_IC_VerifyPwd(r.h(), 0, "654321"), kWrongPassword);
  EXPECT_EQ(KP_DEV_IC_VerifyPwd(r.h(), 0, "123456"), 0);
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(r.h(), 0, 0x40, "5A"), 0);
  r.ExpectSent({{0x3234, "00 03 654321"}, {0x3234, "00 03 123456"}, {0x3236, "00 40 00 0001 5A"}});
  EXPECT_EQ(r.Dump("0 memory 64 1"), "5A");

  // The key goes to the AT88SC1608 in seat 1; the SLE4442 has none.
  EXPECT_EQ(KP_DEV_IC_InitializeKey(r.h(), 1, "0102030405060708"), 0);
  EXPECT_EQ(KP_DEV_IC_InitializeKey(r.h(), 0, "0102030405060708"), kWrongCard);
  r.ExpectSent({{0x3233, "01 08 0102030405060708"}, {0x3233, "00 08 0102030405060708"}});
  EXPECT_NE(r.Dump("1").find(" key=0102030405060708 "), std::string::npos);
}

TEST(StoreCard, OddTextsKeepTheirCharacters) {
  MemoryReader r("t0", 0, {"0 at88sc1608"});
  // Seven characters: length byte 03 and the text unchanged, which leaves
  // the frame with an odd number of characters for the device to refuse.
  EXPECT_EQ(KP_DEV_IC_InitializeKey(r.h(), 0, "1234567"), kBadFrame);
  r.ExpectSentBytes(HexBytes("02 30 30 30 37 33 32 33 33 30 30 30 33 31 32 33 34 35 36 37 37 32 03"));
  EXPECT_NE(r.Dump("0").find(" key=0102030405060708 "), std::string::npos);
}

TEST(StoreCard, ZonedVariantsOnEveryFamily) {
  struct Case {
    const char* family;
    int type;
  };
  for (const Case& c : {Case{"t1", 5}, Case{"t61", 62}, Case{"t0", 0}}) {
    SCOPED_TRACE(c.family);
    MemoryReader r(c.family, c.type, {"0 at88sc1608 pwd9=999999", "1 at88sc102 pwd1=010203040506"});
    EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1608(r.h(), 0, 9, "999999"), 0);
    EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT102(r.h(), 1, 1, "010203040506"), 0);
    EXPECT_EQ(KP_DEV_IC_WriteStoreDataEXAT1608(r.h(), 0, 4, 0xFE, "A1A2"), 0);
    char data[16] = "";
    EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(r.h(), 0, 4, 0xFE, 2, data), 0);
    EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(r.h(), 0, 4, 0xFF, 2, data), kOutOfRange);
    EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(r.h(), 0, 4, 0xFF, 249, data), -5);
    r.ExpectSent({{0x3234, "00 03 09 999999"},
                  {0x3234, "01 06 01 010203040506"},
                  {0x3236, "00 04 FE 00 0002 A1A2"},
                  {0x3235, "00 04 FE 00 0002"},
                  {0x3235, "00 04 FF 00 0002"}});
    EXPECT_STREQ(data, "A1A2");
    EXPECT_EQ(r.Dump("0 zone4 254 2"), "A1A2");
    EXPECT_NE(r.Dump("0").find(" pwd9=999999:8:1"), std::string::npos);
    EXPECT_NE(r.Dump("1").find(" pwd1=010203040506:4:1"), std::string::npos);
  }
}

TEST(StoreCard, SelectorVerificationForTheAt88sc1604) {
  MemoryReader r("t61", 61, {"0 at88sc1604 fused=1 pwd0=0F0F"});
  EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1604(r.h(), 0, 0x00FF, "0F0F"), kOutOfRange);
  EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1604(r.h(), 0, 0x0000, "0F0E"), kWrongPassword);
  EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1604(r.h(), 0, 0x10000, "0F0F"), 0);
  r.ExpectSent({{0x3234, "00 02 FF 00 0F0F"}, {0x3234, "00 02 00 00 0F0E"}, {0x3234, "00 02 00 00 0F0F"}});
  EXPECT_NE(r.Dump("0").find(" pwd0=0F0F:8:1"), std::string::npos);
}

TEST(StoreCard, NoCardAndWrongModule) {
  MemoryReader r("t1", 1, {"3 sle4442"});
  char data[16] = "keep";
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 2, 0, 4, data), kNoCard);
  EXPECT_EQ(KP_DEV_IC_VerifyPwd(r.h(), 2, "FFFFFF"), kNoCard);
  r.ExpectSent({{0x3235, "02 00 00 0004"}, {0x3234, "02 03 FFFFFF"}});
  EXPECT_STREQ(data, "keep");

  MemoryReader magnetic("t1", 2, {"0 sle4442"});
  EXPECT_EQ(KP_DEV_IC_InitializeKey(magnetic.h(), 0, "00"), -20);
  EXPECT_EQ(KP_DEV_IC_VerifyPwd(magnetic.h(), 0, "FFFFFF"), -20);
  EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT102(magnetic.h(), 0, 0, "FFFF"), -20);
  EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1604(magnetic.h(), 0, 0, "FFFF"), -20);
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(magnetic.h(), 0, 0, 300, data), -20);
  EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(magnetic.h(), 0, 0, 0, 1, data), -20);
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(magnetic.h(), 0, 0, "00"), -20);
  EXPECT_EQ(KP_DEV_IC_WriteStoreDataEXAT1608(magnetic.h(), 0, 0, 0, "00"), -20);
  magnetic.ExpectNothingSent();
  EXPECT_STREQ(data, "keep");
}

}  // namespace
