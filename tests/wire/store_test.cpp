// Store-card operations against a scripted device: the fields of every data
// text (seat, length byte, zone or selector, address low byte first, count),
// reads appended to the caller's text, the read limit and the module check.
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

class StoreTest : public kptest::ReaderTest {
 protected:
  StoreTest() : ReaderTest(21) {}
};

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

}  // namespace
