// The contactless exports against the virtual reader: activation of a
// processor card and of a sector card, halt, sector authentication, blocks,
// value blocks with their byte order per reader, and sector keys, end to
// end: what reaches the caller and what the card holds after.  The frames,
// room checks, range checks and the refusals that send nothing are the
// unit tests' (scripted device).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "integration/card_wire.h"
#include "kp_dev.h"

using kptest::CardSim;

namespace {

const std::string kZeroBlock(32, '0');
const std::string kDefaultTrailer = "FFFFFFFFFFFFFF078069FFFFFFFFFFFF";

struct Text {
  Text() {
    std::memset(chars, 'Z', sizeof chars);
    chars[sizeof chars - 1] = '\0';
  }
  bool Untouched() const { return std::strncmp(chars, "ZZZZ", 4) == 0; }
  char chars[128];
};

// A value block holding `count` at absolute block `block`: count, inverted,
// count (least significant byte first), block, ~block, block, ~block.
std::string ValueBlock(std::int32_t count, int block) {
  const auto raw = static_cast<std::uint32_t>(count);
  char text[40];
  auto le = [](std::uint32_t v, char* out) {
    std::snprintf(out, 9, "%02X%02X%02X%02X", v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, v >> 24);
  };
  le(raw, text);
  le(~raw, text + 8);
  le(raw, text + 16);
  std::snprintf(text + 24, 9, "%02X%02X%02X%02X", block, ~block & 0xFF, block, ~block & 0xFF);
  return text;
}

// Activation of the sector card and key A (FF...) of `sector`.
void OpenSector(CardSim& r, int sector) {
  int type = 0, uidLen = 0, atsLen = 0;
  Text uid, ats;
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(r.h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  ASSERT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), sector, 0x60, "FFFFFFFFFFFF"), 0);
}

TEST(ContactlessActive, ReportsTypeUidAndAtsThenTakesApdus) {
  CardSim r("t1", 1, {"255 rf-cpu"});
  int type = -1, uidLen = 7, atsLen = 5;
  Text uid, ats;
  EXPECT_EQ(KP_DEV_IC_ConnectlessActive(r.h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(type, 0x20);
  EXPECT_EQ(uidLen, 7);
  EXPECT_STREQ(uid.chars, "045A216C933E80");
  EXPECT_EQ(atsLen, 5);
  EXPECT_STREQ(ats.chars, "0578807002");
  EXPECT_EQ(ats.chars[11], 'Z');

  // The activated processor card takes APDUs on seat 255.
  Text response;
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 255, 0, "00A4040007F04B504445560100", 0, response.chars), 0);
  EXPECT_STREQ(response.chars, "6F10820138830210018407F04B50444556019000");
}

TEST(ContactlessHalt, HaltsTheCard) {
  CardSim r("t1", 1, {"255 rf-cpu"});
  int type = 0, uidLen = 10, atsLen = 10;
  Text uid, ats;
  ASSERT_EQ(KP_DEV_IC_ConnectlessActive(r.h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessHalt(r.h()), 0);
  EXPECT_EQ(r.Control("seat 255"), "card=rf-cpu state=3001 type=20 speed=9600");
  Text response;
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 255, 0, "00A4000C", 0, response.chars), -306);

  r.Control("remove 255");
  EXPECT_EQ(KP_DEV_IC_ConnectlessHalt(r.h()), -305);
}

TEST(ContactlessStoreCard, ActivatesTwiceAndComparesTheUids) {
  CardSim r("t1", 1, {"255 sector"});
  int type = -1, uidLen = 0, atsLen = 7;
  Text uid, ats;
  EXPECT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(r.h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(type, 8);
  EXPECT_EQ(uidLen, 4);  // no room check
  EXPECT_STREQ(uid.chars, "5A3C9E12");
  EXPECT_EQ(atsLen, 0);
  EXPECT_TRUE(ats.Untouched());

  // A processor card is no sector card; an empty field has none.
  r.Insert("255 rf-cpu");
  EXPECT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(r.h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), -320);
  r.Control("remove 255");
  EXPECT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(r.h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), -305);
}

TEST(ContactlessBlocks, AuthenticateThenReadAndWriteInTheSector) {
  CardSim r("t1", 1, {"255 sector"});
  OpenSector(r, 1);  // leaves nothing to check; sector 3 below
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), 3, 0x60, "FFFFFFFFFFFF"), 0);

  // Sector 3, block 2 is absolute block 14.
  Text data;
  int len = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 3, 2, &len, data.chars), 0);
  EXPECT_EQ(len, 16);
  EXPECT_EQ(data.chars, kZeroBlock);
  EXPECT_EQ(data.chars[33], 'Z');

  // A short text is filled with '0', a long one cut after 32 characters.
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(r.h(), 3, 1, "0102"), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(r.h(), 3, 2, "00112233445566778899AABBCCDDEEFF01234567"), 0);
  EXPECT_EQ(r.Control("rf-block 13"), "0102" + std::string(28, '0'));
  EXPECT_EQ(r.Control("rf-block 14"), "00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(r.Control("rf-block 12"), kZeroBlock);
  len = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 3, 1, &len, data.chars), 0);
  EXPECT_EQ(data.chars, "0102" + std::string(28, '0'));
  // The trailer hides key A.
  len = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 3, 3, &len, data.chars), 0);
  EXPECT_STREQ(data.chars, "000000000000FF078069FFFFFFFFFFFF");

  // Another sector's block; the manufacturer block; a wrong key, after
  // which the card must be activated again.
  Text untouched;
  len = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 4, 0, &len, untouched.chars), -316);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(r.h(), 4, 0, "FFFF"), -316);
  EXPECT_EQ(r.Control("rf-block 16"), kZeroBlock);
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), 0, 0x61, "FFFFFFFFFFFF"), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(r.h(), 0, 0, "FFFF"), -324);
  EXPECT_EQ(r.Control("rf-block 0"), "5A3C9E12EA0804004B5044455653494D");
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), 3, 0x60, "FFFFFFFFFFFE"), -312);
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 3, 1, &len, untouched.chars), -306);
  EXPECT_EQ(len, 32);
  EXPECT_TRUE(untouched.Untouched());
}

TEST(ContactlessValues, TypeOneCountsTravelLeastSignificantFirst) {
  CardSim r("t1", 1, {"255 sector"});
  OpenSector(r, 2);
  r.Control("rf-block 9 " + ValueBlock(12345, 9));

  float value = -1.0f;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(r.h(), 2, 1, &value), 0);
  EXPECT_EQ(value, 123.45f);

  // Written back, 123.45f (123.449997...) is the count 12344.
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteValueBlock(r.h(), 2, 1, value), 0);
  EXPECT_EQ(r.Control("rf-block 9"), ValueBlock(12344, 9));

  // Increase by 1.00 from 12345 gives 12444: a read, then a write.
  r.Control("rf-block 9 " + ValueBlock(12345, 9));
  EXPECT_EQ(KP_DEV_IC_ConnectlessIncrease(r.h(), 2, 1, 1.0f), 0);
  EXPECT_EQ(r.Control("rf-block 9"), ValueBlock(12444, 9));

  // Decreasing 0.07 by 1.00 goes below zero without complaint: -93.
  r.Control("rf-block 10 " + ValueBlock(7, 10));
  EXPECT_EQ(KP_DEV_IC_ConnectlessDecrease(r.h(), 2, 2, 1.0f), 0);
  EXPECT_EQ(r.Control("rf-block 10"), ValueBlock(-93, 10));

  // A block that is no value block: the read fails, the value is kept, and
  // Increase writes nothing.
  value = -1.0f;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(r.h(), 2, 0, &value), -321);
  EXPECT_EQ(value, -1.0f);
  EXPECT_EQ(KP_DEV_IC_ConnectlessIncrease(r.h(), 2, 0, 1.0f), -321);
  EXPECT_EQ(KP_DEV_IC_ConnectlessDecrease(r.h(), 2, 0, 1.0f), -321);
  EXPECT_EQ(r.Control("rf-block 8"), kZeroBlock);
  // No value in a trailer.
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteValueBlock(r.h(), 2, 3, 1.0f), -324);
  EXPECT_EQ(r.Control("rf-block 11"), kDefaultTrailer);
}

TEST(ContactlessValues, OtherReadersSendMostSignificantFirst) {
  // Every reader but type 1 sends counts most significant byte first; the
  // card in the type-5 reader is told so with order=msb.
  struct Case {
    const char* family;
    int type;
    const char* card;
  };
  for (const Case& c :
       {Case{"t61", 61, "255 sector"}, Case{"t0", 0, "255 sector"}, Case{"t1", 5, "255 sector order=msb"}}) {
    SCOPED_TRACE(c.type);
    CardSim r(c.family, c.type, {c.card});
    OpenSector(r, 2);
    EXPECT_EQ(KP_DEV_IC_ConnectlessWriteValueBlock(r.h(), 2, 0, 1.0f), 0);
    EXPECT_EQ(r.Control("rf-block 8"), ValueBlock(100, 8));
    EXPECT_EQ(KP_DEV_IC_ConnectlessDecrease(r.h(), 2, 0, 0.25f), 0);
    float value = 0;
    EXPECT_EQ(KP_DEV_IC_ConnectlessReadValueBlock(r.h(), 2, 0, &value), 0);
    EXPECT_EQ(value, 0.75f);
  }
}

TEST(ContactlessKeys, WriteKeyChangesOneKeyOfTheOpenSector) {
  CardSim r("t1", 1, {"255 sector"});
  OpenSector(r, 1);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteKey(r.h(), 1, 0x60, "A0A1A2A3A4A5"), 0);
  EXPECT_EQ(r.Control("rf-block 7"), "A0A1A2A3A4A5FF078069FFFFFFFFFFFF");
  EXPECT_EQ(r.Control("rf-block 11"), kDefaultTrailer);
  // Only the authenticated sector's keys.
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteKey(r.h(), 2, 0x60, "A0A1A2A3A4A5"), -316);
  EXPECT_EQ(r.Control("rf-block 11"), kDefaultTrailer);

  int type = 0, uidLen = 0, atsLen = 0;
  Text uid, ats;
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(r.h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), 1, 0x60, "FFFFFFFFFFFF"), -312);
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(r.h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), 1, 0x60, "A0A1A2A3A4A5"), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), 1, 0x61, "FFFFFFFFFFFF"), 0);
}

}  // namespace
