// The contactless field (seat 255) through the Windows DLL: a sector card
// activated, authenticated, read and written block by block, value blocks
// kept in hundredths in the byte order of the reader, and a processor card
// activated with its answer to select and given an APDU.
#include <gtest/gtest.h>

#include <string>

#include "card_reader.h"
#include "kp_dev.h"

namespace {

using kpwine::C003;
using kpwine::CommandFrame;
using kpwine::Frames;
using kpwine::Hex;
using kpwine::Text;

const std::string kZeros28(28, '0');

class Contactless : public kpwine::CardReaderTest {
 protected:
  // Activates the sector card and opens sector 1 with key A.
  void ActivateAndOpenSector1() {
    int type = 0, uidLen = 0, atsLen = 0;
    Text uid, ats;
    ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
    ASSERT_EQ(KP_DEV_IC_ConnectlessCertifySector(h(), 1, 0x60, "FFFFFFFFFFFF"), 0);
    Sent();
  }
};

TEST_F(Contactless, SectorCardActivateAuthenticateWriteReadHalt) {
  Insert("255 sector uid=A1B2C3D4 type=08");
  OpenReader(1);

  // Two activations 50 ms apart that agree on the UID; no ATS.
  int type = -1, uidLen = 0, atsLen = 9;
  Text uid, ats;
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(type, 8);
  EXPECT_EQ(uidLen, 4);
  EXPECT_STREQ(uid.chars, "A1B2C3D4");
  EXPECT_EQ(atsLen, 0);
  EXPECT_EQ(ats.At(0, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3241, "0001"), CommandFrame(0x3241, "0001")})));

  // The sector number itself, key type and key as given.
  ASSERT_EQ(KP_DEV_IC_ConnectlessCertifySector(h(), 1, 0x60, "FFFFFFFFFFFF"), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3242, "01 60 FFFFFFFFFFFF")));

  // Sector 1 block 1 is absolute block 5; a short text is padded with '0'
  // to 32 characters, a long one cut after 32.
  ASSERT_EQ(KP_DEV_IC_ConnectlessWriteBlock(h(), 1, 1, "0102"), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3244, "05 0102" + kZeros28)));
  EXPECT_EQ(Control("rf-block 5"), "0102" + kZeros28);
  const std::string forty = "00112233445566778899AABBCCDDEEFF01234567";
  ASSERT_EQ(KP_DEV_IC_ConnectlessWriteBlock(h(), 1, 2, forty.c_str()), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3244, "06" + forty.substr(0, 32))));

  // Room 32 characters for 16 bytes: the text and the byte count.
  Text data;
  int dataLen = 32;
  ASSERT_EQ(KP_DEV_IC_ConnectlessReadBlock(h(), 1, 1, &dataLen, data.chars), 0);
  EXPECT_EQ(dataLen, 16);
  EXPECT_STREQ(data.chars, ("0102" + kZeros28).c_str());
  EXPECT_EQ(data.At(33, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3243, "05")));

  // One character less room: the block is read but not written out.
  Text small;
  dataLen = 31;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(h(), 1, 2, &dataLen, small.chars), -304);
  EXPECT_EQ(dataLen, 31);
  EXPECT_EQ(small.At(0, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3243, "06")));

  // A block of another sector is refused by the card.
  dataLen = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(h(), 3, 2, &dataLen, small.chars), -316);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3243, "0E")));

  // The halt is followed by C003 on every reader.
  ASSERT_EQ(KP_DEV_IC_ConnectlessHalt(h()), 0);
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3225, "0000"), C003()})));
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(h(), 1, 1, &dataLen, small.chars), -306);
  EXPECT_EQ(small.At(0, 4), "ZZZZ");
}

TEST_F(Contactless, WrongKeyDropsTheCardBackToIdleAndKeysCanBeChanged) {
  Insert("255 sector");
  OpenReader(1);
  ActivateAndOpenSector1();

  // A new key B for sector 1, then a trailer that shows key A as zeros.
  ASSERT_EQ(KP_DEV_IC_ConnectlessWriteKey(h(), 1, 0x61, "0A0B0C0D0E0F"), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3249, "01 61 0A0B0C0D0E0F")));
  EXPECT_EQ(Control("rf-block 7").substr(20), "0A0B0C0D0E0F");

  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(h(), 1, 0x61, "FFFFFFFFFFFF"), -312);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3242, "01 61 FFFFFFFFFFFF")));
  Text data;
  int dataLen = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(h(), 1, 0, &dataLen, data.chars), -306);
  EXPECT_EQ(dataLen, 32);

  int type = 0, uidLen = 0, atsLen = 0;
  Text uid, ats;
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(h(), 1, 0x61, "0A0B0C0D0E0F"), 0);
}

TEST_F(Contactless, CardWhoseUidChangesBetweenTheTwoActivations) {
  Insert("255 sector uid=random");
  OpenReader(1);
  int type = -1, uidLen = 0, atsLen = 9;
  Text uid, ats;
  EXPECT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), -314);
  // The first activation's outputs stand.
  EXPECT_EQ(uidLen, 4);
  EXPECT_EQ(std::string(uid.chars).size(), 8u);
  EXPECT_EQ(atsLen, 0);
  EXPECT_EQ(ats.At(0, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3241, "0001"), CommandFrame(0x3241, "0001")})));
}

TEST_F(Contactless, ValuesTravelLeastSignificantByteFirstOnTypeOne) {
  Insert("255 sector");
  OpenReader(1);
  ActivateAndOpenSector1();

  // 10.25 is the count 1025 (0x00000401) in block 6.
  ASSERT_EQ(KP_DEV_IC_ConnectlessWriteValueBlock(h(), 1, 2, 10.25f), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3246, "06 01040000")));
  float value = 0;
  ASSERT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(h(), 1, 2, &value), 0);
  EXPECT_EQ(value, 10.25f);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3245, "06")));

  // Increase: a read of the block, then the write of 11.75 (1175).
  ASSERT_EQ(KP_DEV_IC_ConnectlessIncrease(h(), 1, 2, 1.5f), 0);
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3245, "06"), CommandFrame(0x3246, "06 97040000")})));
  // Decrease below zero writes a negative count: -825 is 0xFFFFFCC7.
  ASSERT_EQ(KP_DEV_IC_ConnectlessDecrease(h(), 1, 2, 20.0f), 0);
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3245, "06"), CommandFrame(0x3246, "06 C7FCFFFF")})));
  ASSERT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(h(), 1, 2, &value), 0);
  EXPECT_EQ(value, -8.25f);
  Sent();

  // 0.29 in single precision is 0.28999999...: the count is 28.
  ASSERT_EQ(KP_DEV_IC_ConnectlessWriteValueBlock(h(), 1, 2, 0.29f), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3246, "06 1C000000")));

  // Block 5 holds no value: the read fails, the value is left, and an
  // increase stops after the read.
  ASSERT_EQ(KP_DEV_IC_ConnectlessWriteBlock(h(), 1, 1, "0102"), 0);
  Sent();
  value = 3.5f;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(h(), 1, 1, &value), -321);
  EXPECT_EQ(value, 3.5f);
  EXPECT_EQ(KP_DEV_IC_ConnectlessIncrease(h(), 1, 1, 1.0f), -321);
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3245, "05"), CommandFrame(0x3245, "05")})));
}

TEST_F(Contactless, ValuesTravelMostSignificantByteFirstOnTypeSixtyOne) {
  Family("t61");
  Insert("255 sector");
  OpenReader(61);
  ActivateAndOpenSector1();

  ASSERT_EQ(KP_DEV_IC_ConnectlessWriteValueBlock(h(), 1, 0, 1.0f), 0);
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3246, "04 00000064")));
  ASSERT_EQ(KP_DEV_IC_ConnectlessIncrease(h(), 1, 0, 2.5f), 0);
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3245, "04"), CommandFrame(0x3246, "04 0000015E")})));
  float value = 0;
  ASSERT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(h(), 1, 0, &value), 0);
  EXPECT_EQ(value, 3.5f);
}

TEST_F(Contactless, ProcessorCardActivationAndApduOnSeat255) {
  Insert("255 rf-cpu uid=04112233445566 ats=0578807002 type=20 apdu=0084000004:010203049000");
  OpenReader(1);

  // Room for 4 UID bytes only: the card type is stored, the UID is not.
  int type = -1, uidLen = 4, atsLen = 8;
  Text uid, ats;
  EXPECT_EQ(KP_DEV_IC_ConnectlessActive(h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), -304);
  EXPECT_EQ(type, 0x20);
  EXPECT_EQ(uidLen, 4);
  EXPECT_EQ(uid.At(0, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3224, "0001")));

  uidLen = 7;
  ASSERT_EQ(KP_DEV_IC_ConnectlessActive(h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(uidLen, 7);
  EXPECT_STREQ(uid.chars, "04112233445566");
  EXPECT_EQ(atsLen, 5);
  EXPECT_STREQ(ats.chars, "0578807002");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3224, "0001")));

  Text response;
  ASSERT_EQ(KP_DEV_IC_SendApdu(h(), 255, 0, "0084000004", 10, response.chars), 0);
  EXPECT_STREQ(response.chars, "010203049000");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3226, "FF 0084000004")));

  ASSERT_EQ(KP_DEV_IC_ConnectlessHalt(h()), 0);
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3225, "0000"), C003()})));
  EXPECT_EQ(KP_DEV_IC_SendApdu(h(), 255, 0, "0084000004", 10, response.chars), -306);
}

}  // namespace
