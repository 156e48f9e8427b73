// The contact CPU card exports against the virtual reader: seat state,
// card speed, power on and off, APDUs and the card type of a seat.  Each
// case checks the frames on the line, the result, what reaches the
// caller's variables and what is left as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "integration/card_wire.h"
#include "kp_dev.h"

using kptest::AnswerFrame;
using kptest::C003;
using kptest::CardSim;
using kptest::CommandFrame;
using kptest::HexBytes;

namespace {

// The virtual reader's default answer to reset (sim/README.md).
const char kAtr[] = "3B680000804B504445563031";

// A buffer of `fill` characters, so that what a call leaves alone shows.
struct Text {
  explicit Text(char fill = 'Z') {
    std::memset(chars, fill, sizeof chars);
    chars[sizeof chars - 1] = '\0';
  }
  std::string Tail(std::size_t from) const { return std::string(chars + from, 4); }
  char chars[256];
};

TEST(ContactPowerOn, AnswersTheAtrInsideTheRoomGiven) {
  CardSim r("t1", 1, {"0 cpu", "2 cpu mute"});
  Text atr;
  int len = 12;  // exactly the 12 bytes of the answer
  EXPECT_EQ(KP_DEV_IC_PowerOn(r.h(), 0, &len, atr.chars), 0);
  EXPECT_EQ(len, 12);
  EXPECT_STREQ(atr.chars, kAtr);
  EXPECT_EQ(atr.Tail(25), "ZZZZ");
  r.Expect({C003(), CommandFrame(0x3222, HexBytes("000A00"))}, {AnswerFrame(0), AnswerFrame(0, kAtr)});
  EXPECT_EQ(r.Control("seat 0"), "card=cpu state=1003 type=01 speed=9600");

  // One byte less room: -304, nothing written.
  Text small;
  len = 11;
  EXPECT_EQ(KP_DEV_IC_PowerOn(r.h(), 0, &len, small.chars), -304);
  EXPECT_EQ(len, 11);
  EXPECT_EQ(small.Tail(0), "ZZZZ");
  r.Expect({C003(), CommandFrame(0x3222, HexBytes("000A00"))}, {AnswerFrame(0), AnswerFrame(0, kAtr)});

  // Empty seat 1 (C003 first), mute card in seat 2.
  len = 40;
  EXPECT_EQ(KP_DEV_IC_PowerOn(r.h(), 1, &len, small.chars), -305);
  EXPECT_EQ(KP_DEV_IC_PowerOn(r.h(), 2, &len, small.chars), -307);
  EXPECT_EQ(len, 40);
  EXPECT_EQ(small.Tail(0), "ZZZZ");
  r.Expect({C003(), CommandFrame(0x3222, HexBytes("000A01")), C003(), CommandFrame(0x3222, HexBytes("000A02"))},
           {AnswerFrame(0), AnswerFrame(0x1001), AnswerFrame(0), AnswerFrame(0x1004)});

  // Seats above 4 get no C003; an answer without data reports length 0.
  r.Fault("status 0000");
  EXPECT_EQ(KP_DEV_IC_PowerOn(r.h(), 5, &len, small.chars), 0);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(small.Tail(0), "ZZZZ");
  r.Expect({CommandFrame(0x3222, HexBytes("000A05"))}, {AnswerFrame(0)});
}

TEST(ContactPowerOn, TypeZeroReplaysTheFirstAnswerOfSeatsSixteenToThirty) {
  CardSim r("t0", 0, {"15 cpu atr=3B0215", "16 cpu atr=3B0216"});
  Text atr;
  int len = 10;
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 16, &len, atr.chars), 0);
  r.Expect({CommandFrame(0x3222, HexBytes("000A10"))}, {AnswerFrame(0, "3B0216")});
  EXPECT_EQ(KP_DEV_IC_PowerOff(r.h(), 16), 0);
  Text again;
  len = 1;  // the replay does not compare the room
  EXPECT_EQ(KP_DEV_IC_PowerOn(r.h(), 16, &len, again.chars), 0);
  EXPECT_EQ(len, 3);
  EXPECT_STREQ(again.chars, "3B0216");
  r.ExpectQuiet();
  EXPECT_EQ(r.Control("seat 16"), "card=cpu state=1003 type=01 speed=9600");

  // Seat 15 is not cached.
  len = 10;
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 15, &len, atr.chars), 0);
  ASSERT_EQ(KP_DEV_IC_PowerOff(r.h(), 15), 0);
  r.Expect({CommandFrame(0x3222, HexBytes("000A0F")), CommandFrame(0x3223, HexBytes("0F"))},
           {AnswerFrame(0, "3B0215"), AnswerFrame(0)});
  EXPECT_EQ(r.Control("seat 15"), "card=cpu state=1002 type=01 speed=9600");
}

TEST(ContactApdu, ExchangesWithTheFileSystemAndEmptiesTheResponseFirst) {
  CardSim r("t1", 1, {"0 cpu"});
  Text response;
  // Not powered yet: -306, the first four characters zeroed, the rest kept.
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "00A40000020001", 14, response.chars), -306);
  EXPECT_EQ(std::memcmp(response.chars, "\0\0\0\0ZZZZ", 8), 0);
  r.Expect({CommandFrame(0x3226, HexBytes("0000A40000020001"))}, {AnswerFrame(0x1002)});

  int len = 33;
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 0, &len, response.chars), 0);
  r.sim().ClearTraffic();
  const struct {
    const char* apdu;
    const char* answer;  // data and SW1 SW2
  } cases[] = {
      {"00A40000020001", "6F0E80020010820101830200018801019000"},
      {"00B0000004", "4B5044459000"},
      {"00A4040007F04B504445560100", "6F10820138830210018407F04B50444556019000"},
      {"00B2021400", "B1B2B3B4B5B6B7B89000"},
      {"00B2021404", "6C08"},
      {"00A40000029999", "6A82"},
      {"00CA9F3600", "6D00"},
      {"80A40000023F00", "6E00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.apdu);
    Text out;
    EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, c.apdu, 0, out.chars), 0);
    EXPECT_STREQ(out.chars, c.answer);
    EXPECT_EQ(out.Tail(std::strlen(c.answer) + 1), "ZZZZ");
    r.Expect({CommandFrame(0x3226, HexBytes(std::string("00") + c.apdu))}, {AnswerFrame(0, c.answer)});
  }

  // Random challenge: 8 bytes and 9000.
  Text challenge;
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "0084000008", 10, challenge.chars), 0);
  EXPECT_EQ(std::strlen(challenge.chars), 20u);
  EXPECT_STREQ(challenge.chars + 16, "9000");
  r.sim().ClearTraffic();

  // A status word alone: success, response empty.
  r.Fault("status 0000");
  Text bare;
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "00B0000004", 10, bare.chars), 0);
  EXPECT_STREQ(bare.chars, "");
  EXPECT_EQ(std::memcmp(bare.chars, "\0\0\0\0ZZZZ", 8), 0);

  // Power off, then APDUs are refused again; an empty seat says so.
  r.sim().ClearTraffic();
  EXPECT_EQ(KP_DEV_IC_PowerOff(r.h(), 0), 0);
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "00B0000004", 10, bare.chars), -306);
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 3, 0, "00B0000004", 10, bare.chars), -305);
  EXPECT_EQ(KP_DEV_IC_PowerOff(r.h(), 3), -305);
  r.Expect({CommandFrame(0x3223, HexBytes("00")), CommandFrame(0x3226, HexBytes("0000B0000004")),
            CommandFrame(0x3226, HexBytes("0300B0000004")), CommandFrame(0x3223, HexBytes("03"))},
           {AnswerFrame(0), AnswerFrame(0x1002), AnswerFrame(0x1001), AnswerFrame(0x1001)});
}

TEST(ContactApdu, ScriptedAnswersAndSeveralSeats) {
  CardSim r("t61", 61, {"0 cpu apdu=80CA:6A88 apdu=80CA9F36:9F3602001A9000", "1 cpu atr=3B00"});
  int len = 33;
  Text atr;
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 0, &len, atr.chars), 0);
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 1, &len, atr.chars), 0);
  EXPECT_STREQ(atr.chars, "3B00");
  r.sim().ClearTraffic();
  Text out;
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "80CA9F3600", 10, out.chars), 0);
  EXPECT_STREQ(out.chars, "9F3602001A9000");
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "80CA9F1700", 10, out.chars), 0);
  EXPECT_STREQ(out.chars, "6A88");
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 1, 0, "80CA9F3600", 10, out.chars), 0);
  EXPECT_STREQ(out.chars, "6E00");
  r.Expect({CommandFrame(0x3226, HexBytes("0080CA9F3600")), CommandFrame(0x3226, HexBytes("0080CA9F1700")),
            CommandFrame(0x3226, HexBytes("0180CA9F3600"))},
           {AnswerFrame(0, "9F3602001A9000"), AnswerFrame(0, "6A88"), AnswerFrame(0, "6E00")});
}

TEST(ContactStatus, ReportsTheSeatStateAndLeavesItForOtherWords) {
  CardSim r("t1", 1, {"1 cpu", "2 cpu mute", "3 sle4442", "255 sector"});
  int len = 33;
  Text atr;
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 1, &len, atr.chars), 0);
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 2, &len, atr.chars), -307);
  int halted[4] = {};
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(r.h(), &halted[0], &halted[1], atr.chars, &halted[2], atr.chars), 0);
  ASSERT_EQ(KP_DEV_IC_ConnectlessHalt(r.h()), 0);
  r.sim().ClearTraffic();

  const struct {
    int seat;
    const char* word;
    int state;
  } cases[] = {{0, "1001", 1}, {4, "1001", 1}, {1, "1003", 3}, {2, "1004", 4}, {3, "2001", 8}, {255, "3001", 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seat);
    int state = 77;
    EXPECT_EQ(KP_DEV_IC_GetStatus(r.h(), c.seat, &state), 0);
    EXPECT_EQ(state, c.state);
    char seat[3];
    std::snprintf(seat, sizeof seat, "%02X", c.seat);
    r.Expect({CommandFrame(0x3221, HexBytes(seat))},
             {AnswerFrame(static_cast<std::uint16_t>(std::stoi(c.word, nullptr, 16)))});
  }
  ASSERT_EQ(KP_DEV_IC_PowerOff(r.h(), 1), 0);
  int state = 77;
  EXPECT_EQ(KP_DEV_IC_GetStatus(r.h(), 1, &state), 0);
  EXPECT_EQ(state, 2);

  // Words outside the state table leave the variable alone, 0000 included.
  for (const char* word : {"0000", "1005", "6003"}) {
    r.Fault(std::string("status ") + word);
    state = 77;
    EXPECT_EQ(KP_DEV_IC_GetStatus(r.h(), 1, &state), 0) << word;
    EXPECT_EQ(state, 77) << word;
  }
}

TEST(ContactSettings, CardSpeedAndCardTypeOfASeat) {
  CardSim r("t1", 1, {"0 cpu"});
  // Seats up to 4 get C003 first; speeds without a code of their own send 0.
  EXPECT_EQ(KP_DEV_IC_SetBaudRate(r.h(), 0, 38400), 0);
  EXPECT_EQ(KP_DEV_IC_SetBaudRate(r.h(), 3, 9600), 0);
  EXPECT_EQ(KP_DEV_IC_SetBaudRate(r.h(), 7, 115200), 0);
  EXPECT_EQ(KP_DEV_IC_SetBaudRate(r.h(), 8, 14400), 0);
  r.Expect({C003(), CommandFrame(0x3002, HexBytes("0002")), C003(), CommandFrame(0x3002, HexBytes("0300")),
            CommandFrame(0x3002, HexBytes("0704")), CommandFrame(0x3002, HexBytes("0800"))},
           {AnswerFrame(0), AnswerFrame(0), AnswerFrame(0), AnswerFrame(0), AnswerFrame(0), AnswerFrame(0)});
  EXPECT_EQ(r.Control("seat 0"), "card=cpu state=1002 type=01 speed=38400");
  EXPECT_EQ(r.Control("seat 7"), "card=- state=1001 type=00 speed=115200");

  int type = 99;
  EXPECT_EQ(KP_DEV_IC_GetCardType(r.h(), 0, &type), 0);
  EXPECT_EQ(type, 1);
  // Nothing in seat 2 and nothing set: 0 stored, -326.
  type = 99;
  EXPECT_EQ(KP_DEV_IC_GetCardType(r.h(), 2, &type), -326);
  EXPECT_EQ(type, 0);
  EXPECT_EQ(KP_DEV_IC_SetCardType(r.h(), 2, 0x15), 0);
  EXPECT_EQ(KP_DEV_IC_GetCardType(r.h(), 2, &type), 0);
  EXPECT_EQ(type, 0x15);
  r.Expect({CommandFrame(0x3232, HexBytes("00")), CommandFrame(0x3232, HexBytes("02")),
            CommandFrame(0x3231, HexBytes("0215")), CommandFrame(0x3232, HexBytes("02"))},
           {AnswerFrame(0, "01"), AnswerFrame(0, "00"), AnswerFrame(0), AnswerFrame(0, "15")});
  EXPECT_EQ(r.Control("seat 2"), "card=- state=1001 type=15 speed=9600");

  r.Fault("status 2005");
  EXPECT_EQ(KP_DEV_IC_SetCardType(r.h(), 2, 0x16), -310);
  EXPECT_EQ(r.Control("seat 2"), "card=- state=1001 type=15 speed=9600");
}

TEST(ContactFamily, ATypeTwoReaderRefusesEveryOperationWithoutSending) {
  CardSim r("t1", 2, {"0 cpu"});
  int value = 5;
  Text text;
  EXPECT_EQ(KP_DEV_IC_GetStatus(r.h(), 0, &value), -20);
  EXPECT_EQ(KP_DEV_IC_SetBaudRate(r.h(), 0, 9600), -20);
  EXPECT_EQ(KP_DEV_IC_PowerOn(r.h(), 0, &value, text.chars), -20);
  EXPECT_EQ(KP_DEV_IC_PowerOff(r.h(), 0), -20);
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "00B0000004", 10, text.chars), -20);
  EXPECT_EQ(KP_DEV_IC_SetCardType(r.h(), 0, 1), -20);
  EXPECT_EQ(KP_DEV_IC_GetCardType(r.h(), 0, &value), -20);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(text.Tail(0), "ZZZZ");
  r.ExpectQuiet();
}

}  // namespace
