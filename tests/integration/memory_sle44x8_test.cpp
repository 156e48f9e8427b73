// SLE4442 and SLE4428 cards through the exported interface against the
// virtual reader: the chip takes what each reader class sends, and the
// caller's buffers and the chip end up holding what they should; the frames
// themselves are the unit tests'.
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

  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "123456"), 0);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0x20, "AABB"), 0);
  EXPECT_EQ(r.Dump("0 memory 31 4"), "FFAABBFF");

  // The read appends to the caller's text.
  char data[64] = "77";
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(r.h(), 0, 0x04, 4, data), 0);
  EXPECT_STREQ(data, "7700112233");

  // A wrong PSC costs a try; the third locks the card, and the counter
  // read reports the lock and still delivers the count.
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "000000"), kWrongPassword);
  int count = -1;
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(r.h(), 0, &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "000001"), kWrongPassword);
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "000002"), kLocked);
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(r.h(), 0, &count), kLocked);
  EXPECT_EQ(count, 0);
}

TEST(Sle4442, ProtectionMemoryOnTypeOneAndSixtyOne) {
  for (const char* family : {"t1", "t61"}) {
    SCOPED_TRACE(family);
    MemoryReader r(family, family[1] == '1' ? 1 : 61, {"0 sle4442 data=A2131091CAFE protect=0-3"});
    // Bit 1: writable; 0: protected.
    char bits[32] = "";
    EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(r.h(), 0, 2, 4, bits), 0);
    EXPECT_STREQ(bits, "00000101");

    ASSERT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "FFFFFF"), 0);
    // Protecting needs the bytes' current content.
    EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(r.h(), 0, 4, "CAFF"), kProtected);
    EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(r.h(), 0, 4, "CAFE"), 0);
    EXPECT_EQ(r.Dump("0 protection 0 7"), "00000000000001");
    // A protected byte is not written again.
    EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 5, "00"), kProtected);
    EXPECT_EQ(r.Dump("0 memory 4 2"), "CAFE");

    EXPECT_EQ(KP_DEV_SLE4442_ModifyPwd(r.h(), 0, "654321"), 0);
    EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(r.h(), 0, bits), -20);
    EXPECT_NE(r.Dump("0").find(" psc=654321 "), std::string::npos);
  }
}

TEST(Sle4442, TypeZeroLayouts) {
  MemoryReader r("t0", 0, {"0 sle4442 psc=123456 data=A213109155"});
  char text[32] = "keep";
  EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(r.h(), 0, text), 0);
  EXPECT_STREQ(text, "000000");  // the chip hides its PSC until presented

  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "123456"), 0);
  EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(r.h(), 0, text), 0);
  EXPECT_STREQ(text, "123456");
  // The type-0 layouts: the new PSC without a length byte, the protection
  // memory with one-byte address and length.
  EXPECT_EQ(KP_DEV_SLE4442_ModifyPwd(r.h(), 0, "ABCDEF"), 0);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForProtection(r.h(), 0, 4, "55"), 0);
  char bits[32] = "";
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(r.h(), 0, 2, 4, bits), 0);
  EXPECT_STREQ(bits, "00000001");
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0x10, "1234"), 0);
  EXPECT_EQ(r.Dump("0 memory 16 2"), "1234");
}

// ------------------------------------------------------------ SLE4428

TEST(Sle4428, DataWithProtectionBitsAndWriteModes) {
  MemoryReader r("t1", 1, {"0 sle4428 psc=1234 data=AABBCC protect=1"});
  char data[64] = "";
  char flags[64] = "xxxxxx";
  // Mode 1: the data and a bit per byte (1 writable, 0 protected).
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(r.h(), 0, 1, 0, 2, data, flags), 0);
  EXPECT_STREQ(data, "AABB");
  EXPECT_STREQ(flags, "10");
  // Mode 0: data alone; the flags are left as they were.
  std::strcpy(flags, "xxxxxx");
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(r.h(), 0, 0, 2, 1, data, flags), 0);
  EXPECT_STREQ(data, "AABBCC");
  EXPECT_STREQ(flags, "xxxxxx");

  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 1, 0x0010, "1234"), kNeedPassword);
  EXPECT_EQ(KP_DEV_SLE4428_VerifyPwd(r.h(), 0, "1234"), 0);
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 1, 0x0010, "1234"), 0);
  EXPECT_EQ(r.Dump("0 memory 16 2"), "1234");
  EXPECT_EQ(r.Dump("0 protection 15 3"), "010000");
  // Written with protection: a second write is refused and changes nothing.
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 0, 0x0011, "99"), kProtected);
  EXPECT_EQ(r.Dump("0 memory 16 2"), "1234");
}

TEST(Sle4428, RangeCounterAndPassword) {
  MemoryReader r("t61", 61, {"0 sle4428 psc=1234"});
  char data[128] = "";
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(r.h(), 0, 0, 1000, 24, data, nullptr), 0);
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
  EXPECT_EQ(r.Dump("0").substr(0, 35), "kind=sle4428 psc=5678 tries=8 grant");
}

TEST(Sle4428, TypeZeroReadsAndChangesThePsc) {
  MemoryReader r("t0", 0, {"0 sle4428 psc=1234"});
  char pwd[16] = "keep";
  EXPECT_EQ(KP_DEV_SLE4428_VerifyPwd(r.h(), 0, "1234"), 0);
  EXPECT_EQ(KP_DEV_SLE4428_ReadPwd(r.h(), 0, pwd), 0);
  EXPECT_STREQ(pwd, "1234");
  EXPECT_EQ(KP_DEV_SLE4428_ModifyPwd(r.h(), 0, "9876"), 0);
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 0, 0, "0102"), 0);
  EXPECT_EQ(r.Dump("0 memory 0 3"), "0102FF");
}

}  // namespace
