// A contact CPU card in seat 0 through the Windows DLL: seat state, power
// on with the answer to reset, APDUs (with the response chaining of
// KP_DEV_IC_SendApdu_A), power off, and what each call leaves alone when
// the reader refuses it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "card_reader.h"
#include "kp_dev.h"

namespace {

using kpwine::C003;
using kpwine::CommandFrame;
using kpwine::Frames;
using kpwine::Hex;
using kpwine::HexBytes;
using kpwine::Text;

// A 15-byte answer to reset of the test card.
const char kAtr[] = "3B6B0000804B504445565445535431";

// The frame of command 0x3222 for seat 0 (data 000A00), byte by byte: the
// anchor for the frames the helper builds.
const char kPowerOnSeat0[] = "02 30303035 33323232 303030 3A3030 313A 03";
const char kC003[] = "02 30303032 3C303033 3C33 03";

class ContactCard : public kpwine::CardReaderTest {};

TEST_F(ContactCard, PowerOnApduAndPowerOffOfSeatZero) {
  Insert(std::string("0 cpu atr=") + kAtr + " apdu=0084000008:A1A2A3A4A5A6A7A89000" + " apdu=00B2010400:6A82");
  OpenReader(1);

  int state = 77;
  ASSERT_EQ(KP_DEV_IC_GetStatus(h(), 0, &state), 0);
  EXPECT_EQ(state, 2);  // present, not powered
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3221, "00")));

  // The room given is exactly the 15 bytes of the answer to reset.
  Text atr;
  int atrLen = 15;
  ASSERT_EQ(KP_DEV_IC_PowerOn(h(), 0, &atrLen, atr.chars), 0);
  EXPECT_EQ(atrLen, 15);
  EXPECT_STREQ(atr.chars, kAtr);
  EXPECT_EQ(atr.At(31, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(HexBytes(std::string(kC003) + kPowerOnSeat0)));
  ASSERT_EQ(KP_DEV_IC_GetStatus(h(), 0, &state), 0);
  EXPECT_EQ(state, 3);  // powered
  Sent();

  // The reserved argument and the APDU length are not used: the APDU text
  // goes out up to its NUL behind the seat byte.
  Text response;
  ASSERT_EQ(KP_DEV_IC_SendApdu(h(), 0, 7, "0084000008", 99, response.chars), 0);
  EXPECT_STREQ(response.chars, "A1A2A3A4A5A6A7A89000");
  EXPECT_EQ(response.At(21, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3226, "00 0084000008")));

  // A command the card refuses is no error at this level: its status word
  // ends the response text.
  ASSERT_EQ(KP_DEV_IC_SendApdu(h(), 0, 0, "00B2010400", 10, response.chars), 0);
  EXPECT_STREQ(response.chars, "6A82");

  ASSERT_EQ(KP_DEV_IC_PowerOff(h(), 0), 0);
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3226, "00 00B2010400"), CommandFrame(0x3223, "00")})));
  ASSERT_EQ(KP_DEV_IC_GetStatus(h(), 0, &state), 0);
  EXPECT_EQ(state, 2);
  Sent();

  // An APDU to the card now unpowered: the response text is emptied before
  // the exchange and nothing else of it is written.
  Text refused;
  EXPECT_EQ(KP_DEV_IC_SendApdu(h(), 0, 0, "0084000008", 10, refused.chars), -306);
  EXPECT_EQ(std::string(refused.chars, 4), std::string(4, '\0'));
  EXPECT_EQ(refused.At(4, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3226, "00 0084000008")));
}

TEST_F(ContactCard, EmptySeatMuteCardAndSeatsWithoutC003) {
  Insert("2 cpu mute");
  OpenReader(1);

  Text atr;
  int atrLen = 33;
  EXPECT_EQ(KP_DEV_IC_PowerOn(h(), 1, &atrLen, atr.chars), -305);
  EXPECT_EQ(KP_DEV_IC_PowerOn(h(), 2, &atrLen, atr.chars), -307);
  // Seats above 4 get no C003 before the power-on.
  EXPECT_EQ(KP_DEV_IC_PowerOn(h(), 5, &atrLen, atr.chars), -305);
  EXPECT_EQ(atrLen, 33);
  EXPECT_EQ(atr.At(0, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(Frames({C003(), CommandFrame(0x3222, "000A01"), C003(), CommandFrame(0x3222, "000A02"),
                                     CommandFrame(0x3222, "000A05")})));

  int state = 77;
  ASSERT_EQ(KP_DEV_IC_GetStatus(h(), 1, &state), 0);
  EXPECT_EQ(state, 1);  // empty
  ASSERT_EQ(KP_DEV_IC_GetStatus(h(), 2, &state), 0);
  EXPECT_EQ(state, 4);  // the last power-on got no answer to reset
}

TEST_F(ContactCard, AnswerToResetLargerThanTheRoomIsNotWritten) {
  Insert(std::string("0 cpu atr=") + kAtr);
  OpenReader(1);
  Text atr;
  int atrLen = 14;
  EXPECT_EQ(KP_DEV_IC_PowerOn(h(), 0, &atrLen, atr.chars), -304);
  EXPECT_EQ(atrLen, 14);
  EXPECT_EQ(atr.At(0, 4), "ZZZZ");
}

TEST_F(ContactCard, SendApduAFetchesWhatTheStatusWordAsksFor) {
  const std::string fci = "6F0E8407F04B5044455601A5038801019000";  // 16 bytes and 9000
  const std::string record =
      "70"
      "1B" +
      std::string(54, 'C') + "9000";  // 29 bytes and 9000
  Insert("0 cpu apdu=00A4040007F04B5044455601:6110 apdu=00C0000010:" + fci + " apdu=00B2010C00:6C1D" +
         " apdu=00B2010C1D:" + record + " apdu=0020000003:63C2 apdu=00C0000000:9000 apdu=00B2020C00:6281");
  OpenReader(1);
  Text atr;
  int atrLen = 33;
  ASSERT_EQ(KP_DEV_IC_PowerOn(h(), 0, &atrLen, atr.chars), 0);
  Sent();

  // 61xx: GET RESPONSE with Le = SW2; the caller gets its answer. The
  // length argument is not used.
  Text response;
  ASSERT_EQ(KP_DEV_IC_SendApdu_A(h(), 0, 0, "00A4040007F04B5044455601", 3, response.chars), 0);
  EXPECT_STREQ(response.chars, fci.c_str());
  EXPECT_EQ(Hex(Sent()),
            Hex(Frames({CommandFrame(0x3226, "00 00A4040007F04B5044455601"), CommandFrame(0x3226, "00 00C0000010")})));

  // 6Cxx: the command again with its Le byte replaced by SW2.
  ASSERT_EQ(KP_DEV_IC_SendApdu_A(h(), 0, 0, "00B2010C00", 10, response.chars), 0);
  EXPECT_STREQ(response.chars, record.c_str());
  EXPECT_EQ(Hex(Sent()), Hex(Frames({CommandFrame(0x3226, "00 00B2010C00"), CommandFrame(0x3226, "00 00B2010C1D")})));

  // 63xx: GET RESPONSE with Le = 00.
  ASSERT_EQ(KP_DEV_IC_SendApdu_A(h(), 0, 0, "0020000003123456", 16, response.chars), 0);
  EXPECT_STREQ(response.chars, "9000");
  EXPECT_EQ(Hex(Sent()),
            Hex(Frames({CommandFrame(0x3226, "00 0020000003123456"), CommandFrame(0x3226, "00 00C0000000")})));

  // 62 with SW2 other than 83: nothing more is sent.
  ASSERT_EQ(KP_DEV_IC_SendApdu_A(h(), 0, 0, "00B2020C00", 10, response.chars), 0);
  EXPECT_STREQ(response.chars, "6281");
  EXPECT_EQ(Hex(Sent()), Hex(CommandFrame(0x3226, "00 00B2020C00")));
}

TEST_F(ContactCard, MagneticReaderRefusesCardOperationsWithoutSending) {
  Insert("0 cpu");
  OpenReader(2);
  Text atr;
  int atrLen = 33;
  EXPECT_EQ(KP_DEV_IC_PowerOn(h(), 0, &atrLen, atr.chars), -20);
  Text response;
  EXPECT_EQ(KP_DEV_IC_SendApdu(h(), 0, 0, "0084000008", 10, response.chars), -20);
  int state = 77;
  EXPECT_EQ(KP_DEV_IC_GetStatus(h(), 0, &state), -20);
  EXPECT_EQ(state, 77);
  EXPECT_EQ(atrLen, 33);
  EXPECT_EQ(atr.At(0, 4), "ZZZZ");
  EXPECT_EQ(response.At(0, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), "");
}

}  // namespace
