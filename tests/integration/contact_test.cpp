// The contact CPU card exports against the virtual reader: seat state,
// card speed, power on and off, APDUs and the card type of a seat, end to
// end: what reaches the caller and what the seat holds after.  The frames,
// the room checks, the cache of the type-0 reader and the refusals that
// send nothing are the unit tests' (scripted device).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "integration/card_wire.h"
#include "kp_dev.h"

using kptest::CardSim;

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
  EXPECT_EQ(r.Control("seat 0"), "card=cpu state=1003 type=01 speed=9600");

  // Empty seat 1, mute card in seat 2: nothing written.
  Text small;
  len = 40;
  EXPECT_EQ(KP_DEV_IC_PowerOn(r.h(), 1, &len, small.chars), -305);
  EXPECT_EQ(KP_DEV_IC_PowerOn(r.h(), 2, &len, small.chars), -307);
  EXPECT_EQ(len, 40);
  EXPECT_EQ(small.Tail(0), "ZZZZ");
}

TEST(ContactApdu, ExchangesWithTheFileSystemAndEmptiesTheResponseFirst) {
  CardSim r("t1", 1, {"0 cpu"});
  Text response;
  // Not powered yet: -306, the first four characters zeroed, the rest kept.
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "00A40000020001", 14, response.chars), -306);
  EXPECT_EQ(std::memcmp(response.chars, "\0\0\0\0ZZZZ", 8), 0);

  int len = 33;
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 0, &len, response.chars), 0);
  const struct {
    const char* apdu;
    const char* answer;  // data and SW1 SW2
  } cases[] = {
      {"00A40000020001", "6F0E80020010820101830200018801019000"},
      {"00B0000004", "4B5044459000"},
      {"00A40000029999", "6A82"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.apdu);
    Text out;
    EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, c.apdu, 0, out.chars), 0);
    EXPECT_STREQ(out.chars, c.answer);
    EXPECT_EQ(out.Tail(std::strlen(c.answer) + 1), "ZZZZ");
  }

  // Random challenge: 8 bytes and 9000.
  Text challenge;
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "0084000008", 10, challenge.chars), 0);
  EXPECT_EQ(std::strlen(challenge.chars), 20u);
  EXPECT_STREQ(challenge.chars + 16, "9000");

  // Power off, then APDUs are refused again; an empty seat says so.
  Text bare;
  EXPECT_EQ(KP_DEV_IC_PowerOff(r.h(), 0), 0);
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "00B0000004", 10, bare.chars), -306);
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 3, 0, "00B0000004", 10, bare.chars), -305);
  EXPECT_EQ(KP_DEV_IC_PowerOff(r.h(), 3), -305);
}

TEST(ContactStatus, ReportsTheStateOfEachSeat) {
  CardSim r("t1", 1, {"1 cpu", "2 cpu mute", "3 sle4442", "255 sector"});
  int len = 33;
  Text atr;
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 1, &len, atr.chars), 0);
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 2, &len, atr.chars), -307);
  int halted[4] = {};
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(r.h(), &halted[0], &halted[1], atr.chars, &halted[2], atr.chars), 0);
  ASSERT_EQ(KP_DEV_IC_ConnectlessHalt(r.h()), 0);

  const struct {
    int seat;
    int state;
  } cases[] = {{0, 1}, {4, 1}, {1, 3}, {2, 4}, {3, 8}, {255, 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seat);
    int state = 77;
    EXPECT_EQ(KP_DEV_IC_GetStatus(r.h(), c.seat, &state), 0);
    EXPECT_EQ(state, c.state);
  }
  ASSERT_EQ(KP_DEV_IC_PowerOff(r.h(), 1), 0);
  int state = 77;
  EXPECT_EQ(KP_DEV_IC_GetStatus(r.h(), 1, &state), 0);
  EXPECT_EQ(state, 2);
}

TEST(ContactSettings, CardSpeedAndCardTypeOfASeat) {
  CardSim r("t1", 1, {"0 cpu"});
  EXPECT_EQ(KP_DEV_IC_SetBaudRate(r.h(), 0, 38400), 0);
  EXPECT_EQ(KP_DEV_IC_SetCardType(r.h(), 2, 0x15), 0);
  int type = 99;
  EXPECT_EQ(KP_DEV_IC_GetCardType(r.h(), 0, &type), 0);
  EXPECT_EQ(type, 1);
  EXPECT_EQ(KP_DEV_IC_GetCardType(r.h(), 2, &type), 0);
  EXPECT_EQ(type, 0x15);
  EXPECT_EQ(r.Control("seat 0"), "card=cpu state=1002 type=01 speed=38400");
  EXPECT_EQ(r.Control("seat 2"), "card=- state=1001 type=15 speed=9600");
}

}  // namespace
