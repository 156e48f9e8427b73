// An SLE4442 memory card in seat 0 through the Windows DLL: the PSC and
// its error counter, reads appended to the caller's text, writes that need
// the PSC, the protection memory, and what the card keeps when a request
// is refused.
#include <gtest/gtest.h>

#include <string>

#include "card_reader.h"
#include "kp_dev.h"

namespace {

using kpwine::CommandFrame;
using kpwine::Hex;
using kpwine::Text;

class Sle4442 : public kpwine::CardReaderTest {
 protected:
  void SetUp() override {
    CardReaderTest::SetUp();
    // Bytes 0-3 protected (the card's identification), PSC 123456.
    Insert("0 sle4442 psc=123456 data=A2131091 protect=0-3");
    OpenReader(1);
  }
  std::string Memory(int address, int length) {
    return Control("dump 0 memory " + std::to_string(address) + " " + std::to_string(length));
  }
  int Counter() {
    int count = -1;
    EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(h(), 0, &count), 0);
    Sent();
    return count;
  }
};

TEST_F(Sle4442, ReadsAreFreeAndAppendToTheCallersText) {
  Text data('\0');
  ASSERT_EQ(KP_DEV_SLE4442_ReadDataForUser(h(), 0, 0, 4, data.chars), 0);
  EXPECT_STREQ(data.chars, "A2131091");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3235, "00 0000 0004")));
  ASSERT_EQ(KP_DEV_SLE4442_ReadDataForUser(h(), 0, 0x20, 2, data.chars), 0);
  EXPECT_STREQ(data.chars, "A2131091FFFF");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3235, "00 2000 0002")));

  // The last bytes of the 256: 250 + 6 is read, 250 + 7 is refused unsent.
  Text tail('\0');
  ASSERT_EQ(KP_DEV_SLE4442_ReadDataForUser(h(), 0, 250, 6, tail.chars), 0);
  EXPECT_STREQ(tail.chars, "FFFFFFFFFFFF");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3235, "00 FA00 0006")));
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(h(), 0, 250, 7, tail.chars), -5);
  EXPECT_STREQ(tail.chars, "FFFFFFFFFFFF");
  EXPECT_EQ(Hex(Sent()), "");

  // The protection memory: bytes 2 and 3 protected, 4 and 5 writable.
  Text flags('\0');
  ASSERT_EQ(KP_DEV_SLE4442_ReadDataForProtection(h(), 0, 2, 4, flags.chars), 0);
  EXPECT_STREQ(flags.chars, "00000101");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x323A, "00 0200 0004")));
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForProtection(h(), 0, 30, 3, flags.chars), -5);
  EXPECT_EQ(Hex(Sent()), "");

  // The password is read back only on the type-0 reader.
  Text pwd;
  EXPECT_EQ(KP_DEV_SLE4442_ReadPwd(h(), 0, pwd.chars), -20);
  EXPECT_EQ(pwd.At(0, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), "");
}

TEST_F(Sle4442, WritesNeedThePscAndSpareProtectedBytes) {
  // Without the PSC the write is refused and the memory is unchanged.
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(h(), 0, 0x20, "11223344"), -316);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3236, "00 2000 0004 11223344")));
  EXPECT_EQ(Memory(0x1F, 6), "FFFFFFFFFFFF");

  // A wrong PSC costs a try.
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(h(), 0, "654321"), -312);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3234, "00 03 654321")));
  EXPECT_EQ(Counter(), 2);
  // The right one restores every try.
  ASSERT_EQ(KP_DEV_SLE4442_VerifyPwd(h(), 0, "123456"), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3234, "00 03 123456")));
  EXPECT_EQ(Counter(), 3);

  ASSERT_EQ(KP_DEV_SLE4442_WriteDataForUser(h(), 0, 0x20, "11223344"), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3236, "00 2000 0004 11223344")));
  EXPECT_EQ(Memory(0x1F, 6), "FF11223344FF");

  // Bytes 2 to 5 touch the protected bytes 2 and 3: nothing is written.
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(h(), 0, 2, "00000000"), -324);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3236, "00 0200 0004 00000000")));
  EXPECT_EQ(Memory(0, 6), "A2131091FFFF");

  // A new PSC of three bytes, then the old one no longer opens the card.
  ASSERT_EQ(KP_DEV_SLE4442_ModifyPwd(h(), 0, "ABCDEF"), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3238, "00 03 ABCDEF")));
  EXPECT_NE(Control("dump 0").find("psc=ABCDEF"), std::string::npos);
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(h(), 0, "123456"), -312);
}

TEST_F(Sle4442, ExhaustedCounterLocksTheCardAndIsStillReported) {
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(h(), 0, "000000"), -312);
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(h(), 0, "000000"), -312);
  EXPECT_EQ(Counter(), 1);
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(h(), 0, "000000"), -313);
  Sent();

  // The counter read reports the error and still stores the count.
  int count = 99;
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(h(), 0, &count), -313);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x323C, "00")));

  // Once locked, even the right PSC is refused and writes stay closed.
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(h(), 0, "123456"), -313);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(h(), 0, 0x40, "55"), -316);
  EXPECT_EQ(Memory(0x40, 1), "FF");
}

}  // namespace
