// Contact CPU card operations against a scripted device: frames on the wire
// (0xC003 before power-on and speed changes of seats up to 4), results, what
// reaches the caller's buffers, the type-0 answer-to-reset cache and the
// type-1 module check.
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

const Bytes kC003 = CommandFrame(0xC003);

class ContactTest : public kptest::ReaderTest {
 protected:
  ContactTest() : ReaderTest(20) {}
};

TEST_F(ContactTest, PowerOnPreparesLowSeatsAndChecksRoom) {
  const int h = Open(5);
  char atr[40];
  std::memset(atr, 'x', sizeof atr);
  int atrLen = 3;  // room equal to the answer
  Ok();
  Ok({0x3B, 0x6F, 0x00});
  ASSERT_EQ(KP_DEV_IC_PowerOn(h, 0, &atrLen, atr), 0);
  EXPECT_EQ(atrLen, 3);
  EXPECT_STREQ(atr, "3B6F00");
  EXPECT_EQ(Sent(), (Frames{FromHex("02 30 30 30 32 3C 30 30 33 3C 33 03"),
                            FromHex("02 30 30 30 35 33 32 32 32 30 30 30 3A 30 30 31 3A 03")}));

  std::memset(atr, 'x', sizeof atr);
  atrLen = 2;  // one byte short
  Ok();
  Ok({0x3B, 0x6F, 0x00});
  EXPECT_EQ(KP_DEV_IC_PowerOn(h, 4, &atrLen, atr), -304);
  EXPECT_EQ(atrLen, 2);
  atrLen = 5;  // seat 5 is not prepared; no answer bytes leave atr alone
  Ok();
  EXPECT_EQ(KP_DEV_IC_PowerOn(h, 5, &atrLen, atr), 0);
  EXPECT_EQ(atrLen, 0);
  Ok();  // a negative seat is prepared too, and travels as its low byte
  dev_.ReplyFrame(0x1004);
  EXPECT_EQ(KP_DEV_IC_PowerOn(h, -1, &atrLen, atr), -307);
  EXPECT_EQ(atrLen, 0);
  EXPECT_EQ(atr[0], 'x');
  EXPECT_EQ(Sent(), (Frames{kC003, CommandFrame(0x3222, {0x00, 0x0A, 0x04}), CommandFrame(0x3222, {0x00, 0x0A, 0x05}),
                            kC003, CommandFrame(0x3222, {0x00, 0x0A, 0xFF})}));
}

TEST_F(ContactTest, CardSpeedCodes) {
  const int h = Open(61);
  const struct {
    int seat, baud, code;
  } cases[] = {{3, 9600, 0}, {1, 19200, 1}, {0, 38400, 2}, {4, 57600, 3}, {5, 115200, 4}, {9, 14400, 0}};
  for (const auto& c : cases) {
    if (c.seat <= 4) Ok();
    Ok();
    EXPECT_EQ(KP_DEV_IC_SetBaudRate(h, c.seat, c.baud), 0);
    Frames expected = {CommandFrame(0x3002, {static_cast<std::uint8_t>(c.seat), static_cast<std::uint8_t>(c.code)})};
    if (c.seat <= 4) expected.insert(expected.begin(), kC003);
    EXPECT_EQ(Sent(), expected) << c.baud;
  }
  dev_.ReplyFrame(0x1001);  // the answer to 0xC003 decides nothing
  dev_.ReplyFrame(0x2007);
  EXPECT_EQ(KP_DEV_IC_SetBaudRate(h, 0, 9600), -321);
}

TEST_F(ContactTest, SeatStateComesFromTheStatusWord) {
  const int h = Open(0);
  const struct {
    std::uint16_t status;
    int state;
  } table[] = {{0x1001, 1},  {0x1002, 2},  {0x1003, 3},  {0x1004, 4},  {0x2001, 8},  {0x2003, 9},
               {0x2004, 10}, {0x3001, 20}, {0x3003, 18}, {0x3004, 19}, {0x0000, -7}, {0x1005, -7}};
  for (const auto& row : table) {
    dev_.ReplyFrame(row.status, {0x01});
    int state = -7;
    EXPECT_EQ(KP_DEV_IC_GetStatus(h, 2, &state), 0);
    EXPECT_EQ(state, row.state) << row.status;
    EXPECT_EQ(Sent(), Frames{CommandFrame(0x3221, {0x02})});
  }
}

TEST_F(ContactTest, ApduAnswerAndTextLimit) {
  const int h = Open(1);
  static char response[2100];
  std::memset(response, 'x', sizeof response);
  Ok({0x6F, 0x1E, 0x90, 0x00});
  ASSERT_EQ(KP_DEV_IC_SendApdu(h, 255, 7, "00A4040002A1B2", 3, response), 0);
  EXPECT_STREQ(response, "6F1E9000");
  EXPECT_EQ(Sent(), Frames{CommandFrame(0x3226, FromHex("FF 00A4040002A1B2"))});

  std::memset(response, 'x', sizeof response);
  Ok();  // only a status word: emptied
  EXPECT_EQ(KP_DEV_IC_SendApdu(h, 0, 0, "0084000008", 0, response), 0);
  EXPECT_EQ(response[0], '\0');
  std::memset(response, 'x', sizeof response);
  dev_.ReplyFrame(0x1001);  // an error empties it as well: four bytes, no more
  EXPECT_EQ(KP_DEV_IC_SendApdu(h, 0, 0, "0084000008", 0, response), -305);
  EXPECT_EQ(std::memcmp(response, "\0\0\0\0x", 5), 0);

  // With the seat, 2066 characters are the most one frame carries.
  Sent();
  std::string apdu(2064, '1');
  Ok({0x90, 0x00});
  EXPECT_EQ(KP_DEV_IC_SendApdu(h, 0, 0, apdu.c_str(), 0, response), 0);
  Bytes data(1033, 0x11);
  data[0] = 0x00;
  EXPECT_EQ(Sent(), Frames{CommandFrame(0x3226, data)});
  apdu += "11";
  EXPECT_EQ(KP_DEV_IC_SendApdu(h, 0, 0, apdu.c_str(), 0, response), -5);
  EXPECT_TRUE(Sent().empty());

  // An answer body holds at most 1039 bytes: status word and 1037 bytes of
  // answer are taken; one byte more is refused, and its rest is dropped so
  // that the next command gets its own answer.
  std::string longest;
  for (int i = 0; i < 1037; ++i) longest += "A5";
  Ok(Bytes(1037, 0xA5));
  ASSERT_EQ(KP_DEV_IC_SendApdu(h, 0, 0, "00B0000000", 0, response), 0);
  EXPECT_EQ(std::string(response), longest);
  std::memset(response, 'x', sizeof response);
  Ok(Bytes(1038, 0xA5));
  EXPECT_EQ(KP_DEV_IC_SendApdu(h, 0, 0, "00B0000000", 0, response), -8);
  EXPECT_EQ(std::memcmp(response, "\0\0\0\0x", 5), 0);
  Ok({0x90, 0x00});
  EXPECT_EQ(KP_DEV_IC_SendApdu(h, 0, 0, "00B0000000", 0, response), 0);
  EXPECT_STREQ(response, "9000");
}

TEST_F(ContactTest, CardTypeOfASeat) {
  const int h = Open(0);
  int type = -1;
  Ok();
  EXPECT_EQ(KP_DEV_IC_SetCardType(h, 1, 0x12), 0);
  Ok({0x42, 0x99});
  EXPECT_EQ(KP_DEV_IC_GetCardType(h, 3, &type), 0);
  EXPECT_EQ(type, 0x42);
  EXPECT_EQ(Sent(), (Frames{CommandFrame(0x3231, {0x01, 0x12}), CommandFrame(0x3232, {0x03})}));
  Ok({0x00});  // no card type: stored, and reported as -326
  EXPECT_EQ(KP_DEV_IC_GetCardType(h, 3, &type), -326);
  EXPECT_EQ(type, 0);
  type = -1;
  Ok();
  EXPECT_EQ(KP_DEV_IC_GetCardType(h, 3, &type), -326);
  EXPECT_EQ(type, 0);
  type = -1;
  dev_.ReplyFrame(0x1003, {0x42});  // unknown status word: nothing stored
  EXPECT_EQ(KP_DEV_IC_GetCardType(h, 3, &type), -9);
  EXPECT_EQ(type, -1);
  Sent();
  EXPECT_EQ(KP_DEV_IC_SetCardType(h, 0, 0x100), -5);  // wider than its byte
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ContactTest, TypeZeroReplaysAnswerToResetOfSeatsSixteenToThirty) {
  const int h = Open(0);
  char atr[40] = {};
  int atrLen = 4;
  Ok({0x3B, 0x02, 0x14, 0x50});
  ASSERT_EQ(KP_DEV_IC_PowerOn(h, 16, &atrLen, atr), 0);
  EXPECT_EQ(Sent(), Frames{CommandFrame(0x3222, {0x00, 0x0A, 0x10})});
  // Power-off sends nothing; the replay ignores the room given.
  EXPECT_EQ(KP_DEV_IC_PowerOff(h, 16), 0);
  std::memset(atr, 'x', sizeof atr);
  atrLen = 1;
  EXPECT_EQ(KP_DEV_IC_PowerOn(h, 16, &atrLen, atr), 0);
  EXPECT_STREQ(atr, "3B021450");
  EXPECT_EQ(atrLen, 4);
  EXPECT_TRUE(Sent().empty());

  dev_.ReplyFrame(0x1002);  // a failed power-on caches nothing
  EXPECT_EQ(KP_DEV_IC_PowerOn(h, 30, &atrLen, atr), -306);
  atrLen = 8;
  Ok({0x3B, 0x00});
  EXPECT_EQ(KP_DEV_IC_PowerOn(h, 30, &atrLen, atr), 0);
  EXPECT_EQ(KP_DEV_IC_PowerOn(h, 30, &atrLen, atr), 0);
  EXPECT_EQ(Sent().size(), 2u);

  for (int seat : {15, 31}) {  // never cached
    Ok({0x3B, 0x01});
    Ok({0x3B, 0x01});
    Ok();
    EXPECT_EQ(KP_DEV_IC_PowerOn(h, seat, &atrLen, atr), 0);
    EXPECT_EQ(KP_DEV_IC_PowerOn(h, seat, &atrLen, atr), 0);
    EXPECT_EQ(KP_DEV_IC_PowerOff(h, seat), 0);
    const Bytes on = CommandFrame(0x3222, {0x00, 0x0A, static_cast<std::uint8_t>(seat)});
    EXPECT_EQ(Sent(), (Frames{on, on, CommandFrame(0x3223, {static_cast<std::uint8_t>(seat)})}));
  }
}

}  // namespace
