// Contactless card operations against a scripted device: activation layout
// and room checks, the double activation of store cards, halt followed by
// 0xC003, absolute block numbers, block texts of 32 characters, and value
// blocks (hundredths as float, byte order by module, increase and decrease).
#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "readers/reader.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::CommandFrame;
using kptest::Frames;
using kptest::FromHex;

namespace {

class ContactlessTest : public kptest::ReaderTest {
 protected:
  ContactlessTest() : ReaderTest(22) {}
};

TEST_F(ContactlessTest, ActivationReportsTypeUidAndAtsWithinTheirRoom) {
  const int h = Open(5);
  const Bytes answer = FromHex("20 07 04112233445566 05 7577810280");
  char uid[32], ats[32];
  std::memset(uid, 'x', sizeof uid);
  std::memset(ats, 'x', sizeof ats);
  int type = -1, uidLen = 4, atsLen = 5;
  Ok(answer);  // room for 4 UID bytes: only the card type is written
  EXPECT_EQ(KP_DEV_IC_ConnectlessActive(h, &type, &uidLen, uid, &atsLen, ats), -304);
  EXPECT_EQ(type, 0x20);
  EXPECT_EQ(uidLen, 4);
  EXPECT_EQ(uid[0], 'x');
  uidLen = 7, atsLen = 4;
  Ok(answer);  // room for 4 ATS bytes: the UID is written, the ATS not
  EXPECT_EQ(KP_DEV_IC_ConnectlessActive(h, &type, &uidLen, uid, &atsLen, ats), -304);
  EXPECT_STREQ(uid, "04112233445566");
  EXPECT_EQ(atsLen, 4);
  EXPECT_EQ(ats[0], 'x');
  atsLen = 5;
  Ok(answer);
  EXPECT_EQ(KP_DEV_IC_ConnectlessActive(h, &type, &uidLen, uid, &atsLen, ats), 0);
  EXPECT_EQ(atsLen, 5);
  EXPECT_STREQ(ats, "7577810280");
  const Bytes request = FromHex("02 30 30 30 34 33 32 32 34 30 30 30 31 31 37 03");
  EXPECT_EQ(Sent(), (Frames{request, request, request}));

  std::memset(ats, 'x', sizeof ats);
  Ok(FromHex("08 04 DEADBEEF 00"));  // no ATS: count 0, text untouched
  EXPECT_EQ(KP_DEV_IC_ConnectlessActive(h, &type, &uidLen, uid, &atsLen, ats), 0);
  EXPECT_EQ(uidLen + atsLen, 4);
  EXPECT_STREQ(uid, "DEADBEEF");
  EXPECT_EQ(ats[0], 'x');
  type = -1;
  Ok(FromHex("08 07 0102"));  // lengths running past the answer
  EXPECT_EQ(KP_DEV_IC_ConnectlessActive(h, &type, &uidLen, uid, &atsLen, ats), -8);
  dev_.ReplyFrame(0x1007, answer);
  EXPECT_EQ(KP_DEV_IC_ConnectlessActive(h, &type, &uidLen, uid, &atsLen, ats), -318);
  EXPECT_EQ(type, -1);
  EXPECT_STREQ(uid, "DEADBEEF");
}

TEST_F(ContactlessTest, StoreCardIsActivatedTwiceAndMustKeepItsUid) {
  const int h = Open(0);
  char uid[16], ats[16] = "keep";
  int type = -1, uidLen = 1, atsLen = 9;
  Ok(FromHex("08 DEADBEEF"));
  Ok(FromHex("08 DEADBEEF"));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(h, &type, &uidLen, uid, &atsLen, ats), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(type, 8);
  EXPECT_EQ(uidLen, 4);  // whatever room was given
  EXPECT_STREQ(uid, "DEADBEEF");
  EXPECT_EQ(atsLen, 0);
  EXPECT_STREQ(ats, "keep");
  const Bytes request = CommandFrame(0x3241, {0x00, 0x01});
  EXPECT_EQ(Sent(), (Frames{request, request}));

  Ok(FromHex("18 01020304"));  // another UID the second time: the first stays
  Ok(FromHex("18 01020305"));
  EXPECT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(h, &type, &uidLen, uid, &atsLen, ats), -314);
  EXPECT_EQ(type, 0x18);
  EXPECT_STREQ(uid, "01020304");
  type = -1;
  dev_.ReplyFrame(0x1001);  // a failed first activation is not repeated
  EXPECT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(h, &type, &uidLen, uid, &atsLen, ats), -305);
  EXPECT_EQ(type, -1);
  EXPECT_EQ(Sent().size(), 3u);
}

TEST_F(ContactlessTest, HaltIsAlwaysFollowedBy0xC003) {
  const Frames halt = {CommandFrame(0x3225, {0x00, 0x00}), CommandFrame(0xC003)};
  int h = Open(1);
  Ok();
  Ok();
  EXPECT_EQ(KP_DEV_IC_ConnectlessHalt(h), 0);
  EXPECT_EQ(Sent(), halt);
  dev_.ReplyFrame(0x1001);
  Ok();
  EXPECT_EQ(KP_DEV_IC_ConnectlessHalt(h), -305);
  EXPECT_EQ(Sent(), halt);
  h = Open(61);
  dev_.NoReply();  // a silent device: its read failure is returned
  Ok();
  EXPECT_EQ(KP_DEV_IC_ConnectlessHalt(h), -4);
  EXPECT_EQ(Sent(), halt);
}

TEST_F(ContactlessTest, SectorKeysBlocksAndAbsoluteBlockNumbers) {
  const int h = Open(61);
  Ok();
  dev_.ReplyFrame(0x3006);
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(h, 3, 0x60, "FFFFFFFFFFFF"), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteKey(h, 15, 0x61, "A0A1A2A3A4A5FF078069B0B1B2B3B4B5"), -313);
  EXPECT_EQ(Sent(), (Frames{CommandFrame(0x3242, FromHex("03 60 FFFFFFFFFFFF")),
                            CommandFrame(0x3249, FromHex("0F 61 A0A1A2A3A4A5FF078069B0B1B2B3B4B5"))}));

  const Bytes block = FromHex("00112233445566778899AABBCCDDEEFF");
  char data[40];
  std::memset(data, 'x', sizeof data);
  int dataLen = 31;  // characters of room: one short of 16 bytes
  Ok(block);
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(h, 2, 1, &dataLen, data), -304);
  EXPECT_EQ(dataLen, 31);
  EXPECT_EQ(data[0], 'x');
  dataLen = 32;
  Ok();  // no bytes: count 0, text untouched
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(h, 0, 0, &dataLen, data), 0);
  EXPECT_EQ(dataLen, 0);
  EXPECT_EQ(data[0], 'x');
  dataLen = 32;
  Ok(block);
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(h, 3, 2, &dataLen, data), 0);
  EXPECT_EQ(dataLen, 16);
  EXPECT_STREQ(data, "00112233445566778899AABBCCDDEEFF");
  Ok();
  Ok();
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(h, 1, 1, "0102"), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(h, 63, 3, "00112233445566778899AABBCCDDEEFF01234567"), 0);
  Bytes padded = FromHex("05 0102");
  padded.resize(17, 0x00);
  Bytes cut(1 + block.size(), 0xFF);
  std::copy(block.begin(), block.end(), cut.begin() + 1);
  EXPECT_EQ(Sent(), (Frames{CommandFrame(0x3243, {0x09}), CommandFrame(0x3243, {0x00}), CommandFrame(0x3243, {0x0E}),
                            CommandFrame(0x3244, padded), CommandFrame(0x3244, cut)}));

  // Numbers wider than one byte never reach the device.
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(h, 64, 0, &dataLen, data), -5);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(h, 0, -1, "0102"), -5);
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(h, 256, 0x60, "FFFFFFFFFFFF"), -5);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteKey(h, 1, -1, "FFFFFFFFFFFF"), -5);
  // So does a key text longer than one frame carries.
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(h, 1, 0x60, std::string(2067, 'F').c_str()), -5);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ContactlessTest, ValueWritesAreTruncatedHundredthsInModuleByteOrder) {
  const struct {
    float value;
    Bytes msbFirst;
  } cases[] = {{1.00f, {0x00, 0x00, 0x00, 0x64}},   // 100
               {0.29f, {0x00, 0x00, 0x00, 0x1C}},   // 0.28999999… → 28
               {0.07f, {0x00, 0x00, 0x00, 0x07}},   // 7
               {-1.5f, {0xFF, 0xFF, 0xFF, 0x6A}}};  // -150
  for (int type : {1, 5, 61, 0}) {
    const int h = Open(type);
    Frames expected;
    for (const auto& c : cases) {
      Ok();
      EXPECT_EQ(KP_DEV_IC_ConnectlessWriteValueBlock(h, 2, 0, c.value), 0);
      Bytes data = {0x08};
      // The IC module of the type-1 readers sends the least significant byte first.
      for (std::size_t i = 0; i < c.msbFirst.size(); ++i) {
        data.push_back(type == 1 ? c.msbFirst[c.msbFirst.size() - 1 - i] : c.msbFirst[i]);
      }
      expected.push_back(CommandFrame(0x3246, data));
    }
    EXPECT_EQ(Sent(), expected) << type;
  }
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteValueBlock(h_, 2, 0, 3.0e7f), -5);  // beyond 32 bits
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ContactlessTest, ValueReadsIncreaseAndDecrease) {
  float value = -1;
  int h = Open(1);
  Ok({0x39, 0x30, 0x00, 0x00});  // 12345, least significant first
  ASSERT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(h, 1, 3, &value), 0);
  EXPECT_EQ(static_cast<double>(value), 123.44999694824219);
  Ok();  // written back it is 12344
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteValueBlock(h, 1, 3, value), 0);
  EXPECT_EQ(Sent(), (Frames{CommandFrame(0x3245, {0x07}), CommandFrame(0x3246, {0x07, 0x38, 0x30, 0x00, 0x00})}));

  h = Open(5);
  value = -1;
  dev_.ReplyFrame(0x1002, {0x00, 0x00, 0x30, 0x39});
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(h, 1, 3, &value), -306);
  Ok({0x30, 0x39});
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(h, 1, 3, &value), -8);  // no whole count
  EXPECT_EQ(value, -1);
  Sent();
  Ok({0x00, 0x00, 0x30, 0x39});  // 123.45 + 1.00 → 12444
  Ok();
  EXPECT_EQ(KP_DEV_IC_ConnectlessIncrease(h, 0, 2, 1.00f), 0);
  Ok({0x00, 0x00, 0x04, 0x01});  // 10.25 + 1.5 → 11.75 on sector 1 block 2
  Ok();
  EXPECT_EQ(KP_DEV_IC_ConnectlessIncrease(h, 1, 2, 1.5f), 0);
  Ok({0x00, 0x00, 0x00, 0x64});  // 1.00 - 2.50 → -150, no lower bound
  dev_.ReplyFrame(0x2004);
  EXPECT_EQ(KP_DEV_IC_ConnectlessDecrease(h, 1, 2, 2.5f), -319);
  dev_.ReplyFrame(0x1001);  // a failed read ends it before any write
  EXPECT_EQ(KP_DEV_IC_ConnectlessDecrease(h, 1, 2, 1.0f), -305);
  EXPECT_EQ(Sent(), (Frames{CommandFrame(0x3245, {0x02}), CommandFrame(0x3246, {0x02, 0x00, 0x00, 0x30, 0x9C}),
                            CommandFrame(0x3245, {0x06}), CommandFrame(0x3246, {0x06, 0x00, 0x00, 0x04, 0x97}),
                            CommandFrame(0x3245, {0x06}), CommandFrame(0x3246, {0x06, 0xFF, 0xFF, 0xFF, 0x6A}),
                            CommandFrame(0x3245, {0x06})}));
  EXPECT_EQ(KP_DEV_IC_ConnectlessIncrease(23, 1, 2, 1.0f), 0);  // nothing registered under 23
}

}  // namespace
