// The generic store-card exports (key, password, read and write at an
// address, and their zoned variants) against memory chips in the virtual
// reader: the results, the caller's buffer and the chip's state; the
// frames themselves are the unit tests'.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "integration/memory_wire.h"
#include "kp_dev.h"

using namespace kptest;

namespace {

TEST(StoreCard, ReadAppendsTheChipsBytes) {
  MemoryReader r("t1", 1, {"0 at24c02 data=00112233445566778899"});
  // Two reads into one buffer: the second is appended to the first.
  char data[64] = "";
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 0, 4, data), 0);
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 4, 4, data), 0);
  EXPECT_STREQ(data, "0011223344556677");
  // Past the chip's end the card refuses the read; nothing is appended.
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 0, 0x10, 248, data), kOutOfRange);
  EXPECT_STREQ(data, "0011223344556677");
}

TEST(StoreCard, WriteSendsAddressLowByteFirst) {
  MemoryReader r("t61", 61, {"0 at24c16"});
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(r.h(), 0, 0x0102, "11223344"), 0);
  EXPECT_EQ(r.Dump("0 memory 257 6"), "FF11223344FF");
  // Past the end of the 2048-byte chip: refused, nothing written.
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(r.h(), 0, 0x07FF, "AABB"), kOutOfRange);
  EXPECT_EQ(r.Dump("0 memory 2047 1"), "FF");
}

TEST(StoreCard, PasswordAndKeyOnTypeOne) {
  MemoryReader r("t1", 1, {"0 sle4442 psc=123456", "1 at88sc1608"});
  EXPECT_EQ(KP_DEV_IC_VerifyPwd(r.h(), 0, "654321"), kWrongPassword);
  EXPECT_EQ(KP_DEV_IC_VerifyPwd(r.h(), 0, "123456"), 0);
  EXPECT_EQ(KP_DEV_IC_WriteStoreData(r.h(), 0, 0x40, "5A"), 0);
  EXPECT_EQ(r.Dump("0 memory 64 1"), "5A");

  // The key goes to the AT88SC1608 in seat 1; the SLE4442 has none.
  EXPECT_EQ(KP_DEV_IC_InitializeKey(r.h(), 1, "0102030405060708"), 0);
  EXPECT_EQ(KP_DEV_IC_InitializeKey(r.h(), 0, "0102030405060708"), kWrongCard);
  EXPECT_NE(r.Dump("1").find(" key=0102030405060708 "), std::string::npos);
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
  EXPECT_NE(r.Dump("0").find(" pwd0=0F0F:8:1"), std::string::npos);
}

TEST(StoreCard, NoCard) {
  MemoryReader r("t1", 1, {"3 sle4442"});
  char data[16] = "keep";
  EXPECT_EQ(KP_DEV_IC_ReadStoreData(r.h(), 2, 0, 4, data), kNoCard);
  EXPECT_EQ(KP_DEV_IC_VerifyPwd(r.h(), 2, "FFFFFF"), kNoCard);
  EXPECT_STREQ(data, "keep");
}

}  // namespace
