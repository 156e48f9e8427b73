// AT88SC102, AT88SC1604 and AT88SC1608 cards through the exported interface
// against the virtual reader: the chip takes what each reader class sends
// (the layouts differ most for these chips), and the caller gets the chip's
// answers; the frames themselves are the unit tests'.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "integration/memory_wire.h"
#include "kp_dev.h"

using namespace kptest;

namespace {

// ------------------------------------------------------------ AT88SC102

TEST(At88sc102, TypeOneFuseZonesAndPasswords) {
  MemoryReader r("t1", 1, {"0 at88sc102 pwd0=1357 pwd1=010203040506"});
  // Before the fuse the issuer writes the issuer zone.
  EXPECT_EQ(KP_DEV_AT88SC102_WriteData(r.h(), 0, 0x02, "11223344"), 0);
  EXPECT_EQ(KP_DEV_AT88SC102_Fuse(r.h(), 0), 0);

  // Now the issuer zone is read-only and the code-protected zone closed.
  EXPECT_EQ(KP_DEV_AT88SC102_WriteData(r.h(), 0, 0x02, "55"), kProtected);
  char data[64] = "";
  EXPECT_EQ(KP_DEV_AT88SC102_ReadData(r.h(), 0, 0x0A, 2, data), kNeedPassword);
  EXPECT_STREQ(data, "");
  EXPECT_EQ(KP_DEV_AT88SC102_VerifyPwd(r.h(), 0, 0, "1357"), 0);
  EXPECT_EQ(KP_DEV_AT88SC102_ReadData(r.h(), 0, 0x00, 6, data), 0);
  EXPECT_STREQ(data, "102F11223344");

  EXPECT_EQ(KP_DEV_AT88SC102_VerifyPwd(r.h(), 0, 1, "010203040507"), kWrongPassword);
  int count = -1;
  EXPECT_EQ(KP_DEV_AT88SC102_ReadERROR(r.h(), 0, 1, &count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(KP_DEV_AT88SC102_ModifyPwd(r.h(), 0, 1, "0A0B0C0D0E0F"), 0);
  EXPECT_NE(r.Dump("0").find(" pwd1=0A0B0C0D0E0F:3:0"), std::string::npos);

  // The address is not checked by the host: the chip refuses the read.
  EXPECT_EQ(KP_DEV_AT88SC102_ReadData(r.h(), 0, 0, 1024, data), kOutOfRange);
}

TEST(At88sc102, GenericZoneVerificationOnTypeSixtyOne) {
  MemoryReader r("t61", 61, {"0 at88sc102 fused=1 pwd2=0A0B0C0D"});
  EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT102(r.h(), 0, 2, "0A0B0C0D"), 0);
  EXPECT_NE(r.Dump("0").find(" pwd2=0A0B0C0D:4:1"), std::string::npos);
}

TEST(At88sc102, TypeZeroSeatNumberEraseAndConditionalWrite) {
  MemoryReader r("t0", 0, {"0 at88sc102 pwd0=1357 data=00000000000000001122334455667788"});
  int count = 42;
  // Reading a password back is sent for any seat; seat 1 is empty.
  char pwd[16] = "keep";
  EXPECT_EQ(KP_DEV_AT88SC102_ReadPwd(r.h(), 1, 0, pwd), kNoCard);
  EXPECT_STREQ(pwd, "keep");
  EXPECT_EQ(KP_DEV_AT88SC102_ReadPwd(r.h(), 0, 0, pwd), 0);
  EXPECT_STREQ(pwd, "1357");
  EXPECT_EQ(KP_DEV_AT88SC102_ModifyPwd(r.h(), 0, 0, "2468"), 0);
  EXPECT_EQ(KP_DEV_AT88SC102_ReadERROR(r.h(), 0, 0, &count), 0);
  EXPECT_EQ(count, 4);

  // Erase 4 bytes from 0x10 (the last two of the code-protected zone, the
  // first two of AZ1), then program bits downwards from the erased FF.
  EXPECT_EQ(KP_DEV_AT88SC102_ClearData(r.h(), 0, 0x10, 4), 0);
  EXPECT_EQ(KP_DEV_AT88SC102_CWriteData(r.h(), 0, 0x12, "F00F"), 0);
  EXPECT_EQ(KP_DEV_AT88SC102_CWriteData(r.h(), 0, 0x12, "3C3C"), 0);
  EXPECT_EQ(KP_DEV_AT88SC102_WriteData(r.h(), 0, 0x14, "AB"), 0);
  EXPECT_EQ(r.Dump("0 memory 14 8"), "5566FFFF300CABFF");

  // After the fuse the AT88SC102 erase needs the zone's erase key.
  EXPECT_EQ(KP_DEV_AT88SC102_Fuse(r.h(), 0), 0);
  EXPECT_EQ(KP_DEV_AT88SC102_VerifyPwd(r.h(), 0, 0, "2468"), 0);
  EXPECT_EQ(KP_DEV_AT88SC102_ClearData(r.h(), 0, 0x12, 1), kNeedPassword);
  EXPECT_EQ(r.Dump("0 memory 18 1"), "30");
}

// ------------------------------------------------------------ AT88SC1604

TEST(At88sc1604, ZoneCodesOnTypeOne) {
  MemoryReader r("t1", 1, {"0 at88sc1604 fused=1 pwd3=3333"});
  // AZ3 starts at 0x600 and needs SC3.
  EXPECT_EQ(KP_DEV_AT88SC1604_WriteData(r.h(), 0, 0x0600, "5A"), kNeedPassword);
  EXPECT_EQ(KP_DEV_AT88SC1604_VerifyPwd(r.h(), 0, 3, "3333"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1604_WriteData(r.h(), 0, 0x0600, "5A"), 0);
  char data[16] = "";
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadData(r.h(), 0, 0x05FF, 2, data), 0);
  EXPECT_STREQ(data, "FF5A");

  int count = -1;
  EXPECT_EQ(KP_DEV_AT88SC1604_VerifyPwd(r.h(), 0, 1, "0000"), kWrongPassword);
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadERROR(r.h(), 0, 1, &count), 0);
  EXPECT_EQ(count, 7);
  // Only SC's holder changes codes.
  EXPECT_EQ(KP_DEV_AT88SC1604_ModifyPwd(r.h(), 0, 1, "1111"), kNeedPassword);
  EXPECT_EQ(KP_DEV_AT88SC1604_Fuse(r.h(), 0), 0);

  char big[2100] = "";
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadData(r.h(), 0, 0x0100, 1024, big), 0);
  EXPECT_EQ(std::strlen(big), 2048u);
  // The code-protected zone is closed to reads without SC.
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadData(r.h(), 0, 0x0A, 1, data), kNeedPassword);
  EXPECT_STREQ(data, "FF5A");
}

TEST(At88sc1604, SelectorVerificationAndTypeZero) {
  MemoryReader r("t0", 0, {"0 at88sc1604 pwd0=1604 pwd2=2222"});
  // The 16-bit selector goes out low byte first.
  EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1604(r.h(), 0, 0x0102, "2222"), kOutOfRange);
  EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1604(r.h(), 0, 0x0002, "2222"), 0);

  char pwd[16] = "";
  int count = -1;
  EXPECT_EQ(KP_DEV_AT88SC1604_VerifyPwd(r.h(), 0, 0, "1604"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1604_ModifyPwd(r.h(), 0, 4, "4444"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadPwd(r.h(), 0, 4, pwd), 0);
  EXPECT_EQ(KP_DEV_AT88SC1604_ReadERROR(r.h(), 0, 4, &count), 0);
  EXPECT_EQ(KP_DEV_AT88SC1604_WriteData(r.h(), 0, 0x0012, "ABCD"), 0);
  EXPECT_STREQ(pwd, "4444");
  EXPECT_EQ(count, 8);
  EXPECT_EQ(r.Dump("0 mtz"), "ABCD");
}

// ------------------------------------------------------------ AT88SC1608

TEST(At88sc1608, TypeOneSendsNumberAndLinearAddresses) {
  MemoryReader r("t1", 1, {"0 at88sc1608 fused=1 pwd6=666666"});
  // pwdSelect goes out as the password number; pwdSet is not sent.
  EXPECT_EQ(KP_DEV_AT88SC1608_VerifyPwd(r.h(), 0, 6, 3, "666666"), 0);
  // Without a zone byte the address is linear: zone 3 starts at 0x300.
  EXPECT_EQ(KP_DEV_AT88SC1608_WriteData(r.h(), 0, 5, 0x0300, "C0FFEE"), 0);
  char data[16] = "";
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadData(r.h(), 0, 5, 0x0300, 3, data), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadData(r.h(), 0, 5, 0x0400, 1, data), kNeedPassword);
  EXPECT_STREQ(data, "C0FFEE");
  EXPECT_EQ(r.Dump("0 zone3 0 3"), "C0FFEE");

  int count = -1;
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadERROR(r.h(), 0, 6, 5, &count), 0);
  EXPECT_EQ(count, 8);
  EXPECT_EQ(KP_DEV_AT88SC1608_ModifyPwd(r.h(), 0, 7, 3, "777777"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_Fuse(r.h(), 0), 0);
  EXPECT_NE(r.Dump("0").find(" pwd7=777777:8:0"), std::string::npos);
}

TEST(At88sc1608, GenericZoneCommandsOnTypeOne) {
  MemoryReader r("t1", 1, {"0 at88sc1608 pwd5=555555"});
  EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1608(r.h(), 0, 5, "555555"), 0);
  EXPECT_EQ(KP_DEV_IC_WriteStoreDataEXAT1608(r.h(), 0, 2, 0x10, "1234"), 0);
  char data[16] = "";
  EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(r.h(), 0, 2, 0x10, 2, data), 0);
  EXPECT_STREQ(data, "1234");
  EXPECT_EQ(r.Dump("0 zone2 16 2"), "1234");
}

TEST(At88sc1608, TypeZeroAuthenticationThenPasswords) {
  MemoryReader r("t0", 0, {"0 at88sc1608 fused=1 auth=1 key=0011223344556677 ci=0102030405060708 pwd2=222222"});
  int fuse = -1;
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadFuse(r.h(), 0, &fuse), 0);
  EXPECT_EQ(fuse, 7);
  // Refused before authentication (6005): the host then reads counter 16
  // (select 0, set 8), which reports that no authentication is in force.
  EXPECT_EQ(KP_DEV_AT88SC1608_VerifyPwd(r.h(), 0, 0, 1, "222222"), kAuthFailed);
  int count = 99;
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadERROR(r.h(), 0, 0, 8, &count), kAuthFailed);
  EXPECT_EQ(count, 99);

  // Q1 = key ^ Ci ^ Q0, byte by byte.
  EXPECT_EQ(KP_DEV_AT88SC1608_InitAuthenticationCard(r.h(), 0, "A0A1A2A3A4A5A6A7"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_AuthenticationCard(r.h(), 0, "A1B28394E5F6C7D8"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadERROR(r.h(), 0, 0, 8, &count), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_VerifyPwd(r.h(), 0, 0, 1, "222222"), 0);
  EXPECT_EQ(count, 99);
  EXPECT_EQ(r.Dump("0 config 120 8"), "A1B28394E5F6C7D8");

  // Password number select + 2 x set = 0 + 2 = 2 opens zone 1.
  char data[16] = "";
  EXPECT_EQ(KP_DEV_AT88SC1608_WriteData(r.h(), 0, 1, 0x20, "BEEF"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadData(r.h(), 0, 1, 0x20, 2, data), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadData(r.h(), 0, 0, 0x20, 2, data), kNeedPassword);
  char pwd[16] = "";
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadPwd(r.h(), 0, 1, 1, pwd), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ModifyPwd(r.h(), 0, 1, 1, "333333"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadERROR(r.h(), 0, 0, 1, &count), 0);
  EXPECT_STREQ(data, "BEEF");
  EXPECT_STREQ(pwd, "FFFFFF");
  EXPECT_EQ(count, 8);
  EXPECT_NE(r.Dump("0").find(" pwd3=333333:8:0"), std::string::npos);
}

TEST(At88sc1608, TypeZeroSeedAndFuse) {
  MemoryReader r("t0", 0, {"0 at88sc1608"});
  int fuse = -1;
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadFuse(r.h(), 0, &fuse), 0);
  EXPECT_EQ(fuse, 3);
  EXPECT_EQ(KP_DEV_IC_InitializeKey(r.h(), 0, "8877665544332211"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_Fuse(r.h(), 0), 0);
  EXPECT_EQ(KP_DEV_IC_InitializeKey(r.h(), 0, "0000000000000000"), kProtected);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadFuse(r.h(), 0, &fuse), 0);
  EXPECT_EQ(fuse, 7);
  EXPECT_NE(r.Dump("0").find(" key=8877665544332211 "), std::string::npos);
  // An empty seat: the fuse value (0, the answer has no data) is stored
  // before the status is looked at.
  fuse = -1;
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadFuse(r.h(), 2, &fuse), kNoCard);
  EXPECT_EQ(fuse, 0);
}

}  // namespace
