// Card information and Track 2 reading: the exact card dialogue (directory,
// application, processing options, records named by the AFL) of cards whose
// records do not all count, and the results of a card that refuses or lacks
// something.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wire/emv_card.h"

namespace {

using namespace emvtest;

const std::string kRecordPanSeq = Record(Tlv("5F34", "01") + Tlv("5F24", "491231"));

class CardInfoTest : public CardTest {
 protected:
  CardInfoTest() : CardTest(4) {}
  void SetUp() override {
    CardTest::SetUp();
    std::memset(track2_, 'x', sizeof track2_);
    std::memset(panSeq_, 'x', sizeof panSeq_);
    std::memset(aid_, 'x', sizeof aid_);
  }
  int Read(int seat = 0) { return KP_DEV_ReadICCardInfo(h_, seat, 0, track2_, panSeq_, aid_); }
  std::string Untouched(const char* text) { return text[0] == 'x' ? "untouched" : std::string(text); }

  char track2_[64];
  char panSeq_[8];
  char aid_[128];
};

TEST_F(CardInfoTest, RecordsThatDoNotCount) {
  // The directory names its file with SFI 3 (P2 1C) and holds the PBOC
  // application in its second record.  In the AFL an entry with its first
  // record above its last is skipped; a record refused with 6A83 or failing
  // on the device is skipped; a 5F34 of two bytes is ignored and the search
  // for it goes on.
  Card(dev_, PseAnswer("03"));
  Card(dev_, DirectoryRecord(kAid, "4445424954"));
  Card(dev_, DirectoryRecord());
  Card(dev_, SelectAnswer());
  Card(dev_, GpoAnswer("18030100"
                       "08010400"));
  Card(dev_, "6A83");
  dev_.ReplyFrame(0x1004);
  Card(dev_, Record(Tlv("57", kTrack2) + Tlv("5F34", "0001")));
  Card(dev_, kRecordPanSeq);
  ASSERT_EQ(Read(), 0);
  EXPECT_STREQ(track2_, kTrack2.c_str());
  EXPECT_STREQ(panSeq_, "01");
  EXPECT_EQ(Sent(), Apdus(0, {kSelectPse, "00B2011C00", "00B2021C00", kSelectAid, GpoCommand(), "00B2010C00",
                              "00B2020C00", "00B2030C00", "00B2040C00"}));
}

TEST_F(CardInfoTest, DirectoryFailures) {
  // The environment refused: 200, nothing else sent, nothing written.
  Card(dev_, "6A82");
  EXPECT_EQ(Read(), 200);
  EXPECT_EQ(Sent(), Apdus(0, {kSelectPse}));

  // No A5 / no 88 in the answer: -9.
  Card(dev_, Tlv("6F", Tlv("84", "315041592E5359532E4444463031")) + "9000");
  EXPECT_EQ(Read(), -9);
  Card(dev_, Tlv("6F", Tlv("A5", Tlv("5F2D", "7A68"))) + "9000");
  EXPECT_EQ(Read(), -9);
  Sent();

  // The PBOC application only in record 4: the step gives up after record
  // 3 with that record's failure (-1, a record without PBOC) ...
  Card(dev_, PseAnswer());
  for (int i = 0; i < 3; ++i) Card(dev_, DirectoryRecord(kAid, "4445424954"));
  EXPECT_EQ(Read(), -1);
  EXPECT_EQ(Sent(), Apdus(0, {kSelectPse, "00B2010C00", "00B2020C00", "00B2030C00"}));
  // ... or the device's error on it.
  Card(dev_, PseAnswer());
  Card(dev_, DirectoryRecord(kAid, "4445424954"));
  Card(dev_, DirectoryRecord(kAid, "4445424954"));
  dev_.ReplyFrame(0x1004);
  EXPECT_EQ(Read(), -307);
  // A PBOC record whose 4F value is longer than any AID is not taken (-9).
  Card(dev_, PseAnswer());
  for (int i = 0; i < 3; ++i) Card(dev_, DirectoryRecord(std::string(100, 'A')));
  EXPECT_EQ(Read(), -9);

  EXPECT_EQ(Untouched(aid_), "untouched");
  EXPECT_EQ(Untouched(track2_), "untouched");
  EXPECT_EQ(Untouched(panSeq_), "untouched");
}

TEST_F(CardInfoTest, ApplicationFailuresAfterTheAidIsKnown) {
  // SELECT refused: 200; the AID output stands.
  Card(dev_, PseAnswer());
  Card(dev_, DirectoryRecord());
  Card(dev_, "6A81");
  EXPECT_EQ(Read(), 200);
  EXPECT_STREQ(aid_, kAid.c_str());

  // GPO failing on the device: its error.
  Card(dev_, PseAnswer());
  Card(dev_, DirectoryRecord());
  Card(dev_, SelectAnswer());
  dev_.ReplyFrame(0x2007);
  EXPECT_EQ(Read(), -321);
  // GPO answered 6985, or with an answer too short to carry an AFL: 200.
  Card(dev_, PseAnswer());
  Card(dev_, DirectoryRecord());
  Card(dev_, SelectAnswer());
  Card(dev_, "6985");
  EXPECT_EQ(Read(), 200);
  Card(dev_, PseAnswer());
  Card(dev_, DirectoryRecord());
  Card(dev_, SelectAnswer());
  Card(dev_, "80007C9000");
  EXPECT_EQ(Read(), 200);
  Sent();

  // A PDOL whose answer one GPO cannot carry (three entries of 127 bytes):
  // no GPO is sent, 200.
  Card(dev_, PseAnswer());
  Card(dev_, DirectoryRecord());
  Card(dev_, SelectAnswer("DF017FDF027FDF037F"));
  EXPECT_EQ(Read(), 200);
  EXPECT_EQ(Sent(), Apdus(0, {kSelectPse, "00B2010C00", kSelectAid}));
  EXPECT_EQ(Untouched(track2_), "untouched");
}

TEST_F(CardInfoTest, TrackTwoReadingClearsItsText) {
  char track2[16];
  std::memset(track2, 'x', sizeof track2);
  Card(dev_, "6A82");
  EXPECT_EQ(KP_DEV_ReadFinanceICTrack2(h_, 0, 0, track2), 200);
  EXPECT_EQ(std::string(track2, 6), std::string("\0\0\0\0xx", 6));
}

}  // namespace
