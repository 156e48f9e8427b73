// The AFL walk is bounded by what a card may declare: entries EMV rules out
// name no record, and a card that stops answering is not asked for every
// record its AFL lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wire/emv_card.h"

namespace {

using namespace emvtest;

class AflBoundsTest : public CardTest {
 protected:
  AflBoundsTest() : CardTest(6) {}
  int ReadRecords() {
    std::memset(records_, 'x', sizeof records_);
    return KP_DEV_ReadICCardGPOData(h_, 0, 0, records_, sizeof records_);
  }
  char records_[256];
};

TEST_F(AflBoundsTest, EntriesNoCardMayCarryAreSkipped) {
  // SFI 0, SFI 31, first record 0, last below first; then SFI 2 record 1.
  ScriptUpToGpo(dev_,
                "00010100"
                "F8010100"
                "08000100"
                "08020100"
                "10010100");
  const std::string record = Record(Tlv("5F34", "01"));
  Card(dev_, record);
  ASSERT_EQ(ReadRecords(), 0);
  EXPECT_EQ(std::string(records_, record.size() + 3), record + "\r\n" + '\0');
  EXPECT_EQ(Sent(), Apdus(0, CommandsUpToGpo() + std::vector<std::string>{"00B2011400"}));
}

TEST_F(AflBoundsTest, WalkEndsAfterThreeFailedRecordsInARow) {
  // Records 1 to 255 of SFI 1, twice over; the card refuses every one.
  ScriptUpToGpo(dev_,
                "0801FF00"
                "0801FF00");
  for (int i = 0; i < 5; ++i) Card(dev_, "6A83");
  ASSERT_EQ(ReadRecords(), 0);
  EXPECT_EQ(records_[0], 'x');
  EXPECT_EQ(Sent(), Apdus(0, CommandsUpToGpo() + std::vector<std::string>{"00B2010C00", "00B2020C00", "00B2030C00"}));
}

TEST_F(AflBoundsTest, OneAnsweredRecordRestartsTheCount) {
  ScriptUpToGpo(dev_, "08010500");
  const std::string record = Record(Tlv("5F34", "01"));
  for (const char* answer : {"6A83", "6A83", "", "6A83", "6A83"}) Card(dev_, *answer ? answer : record);
  ASSERT_EQ(ReadRecords(), 0);
  EXPECT_EQ(Sent().size(), 4u + 5u);
}

}  // namespace
