// The raw record text with its capacity rule, and the chip data of an
// online authorisation: the GENERATE AC command, the fourteen elements built
// from the card's answers, and the results of refused or short answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wire/emv_card.h"

namespace {

using namespace emvtest;

class GpoDataTest : public CardTest {
 protected:
  GpoDataTest() : CardTest(5) {}
  int ReadRecords(int capacity) {
    std::memset(records_, 'x', sizeof records_);
    return KP_DEV_ReadICCardGPOData(h_, 0, 0, records_, capacity);
  }
  char records_[256];
};

const std::string kRecord1 = Record(Tlv("57", kTrack2));
const std::string kRecord2 = Record(Tlv("5F34", "01"));

TEST_F(GpoDataTest, CapacityExceeded) {
  // Not even the first line fits: 201, nothing written, nothing more read.
  ScriptUpToGpo(dev_, "08010200");
  Card(dev_, kRecord1);
  EXPECT_EQ(ReadRecords(static_cast<int>(kRecord1.size()) + 1), 201);
  EXPECT_EQ(records_[0], 'x');
  EXPECT_EQ(Sent().size(), 5u);

  // The second does not fit: the first line stays.
  ScriptUpToGpo(dev_, "08010200");
  Card(dev_, kRecord1);
  Card(dev_, kRecord2);
  EXPECT_EQ(ReadRecords(static_cast<int>(kRecord1.size() + kRecord2.size()) + 3), 201);
  EXPECT_EQ(std::string(records_, kRecord1.size() + 3), kRecord1 + "\r\n" + '\0');
}

TEST_F(GpoDataTest, SkippedRecordsAndEmptyAfl) {
  // A refused record leaves no line.
  ScriptUpToGpo(dev_, "08010200");
  Card(dev_, "6A83");
  Card(dev_, kRecord2);
  ASSERT_EQ(ReadRecords(200), 0);
  EXPECT_EQ(std::string(records_, kRecord2.size() + 3), kRecord2 + "\r\n" + '\0');

  // No AFL entry: 0, the text as it was.
  ScriptUpToGpo(dev_, "");
  ASSERT_EQ(ReadRecords(200), 0);
  EXPECT_EQ(records_[0], 'x');
}

TEST_F(GpoDataTest, EveryFailureBeforeTheRecordsIs200) {
  Card(dev_, "6A82");  // directory
  EXPECT_EQ(ReadRecords(200), 200);
  Card(dev_, PseAnswer());
  Card(dev_, DirectoryRecord());
  dev_.ReplyFrame(0x1004);  // SELECT fails on the device
  EXPECT_EQ(ReadRecords(200), 200);
  Card(dev_, PseAnswer());
  Card(dev_, DirectoryRecord());
  Card(dev_, SelectAnswer());
  Card(dev_, "6985");  // GPO refused
  EXPECT_EQ(ReadRecords(200), 200);
  EXPECT_EQ(records_[0], 'x');
}

// ---- chip data of an online authorisation

const std::string kMerchant = "514D585200000000000000000000000000000000";
const std::string kIad = "07010103A0A802010A010000000000ABCDEF";  // 18 bytes
const std::string kGenerateAcAnswer = Tlv("80", "80" + std::string("0011") + "1122334455667788" + kIad) + "9000";

// The APDU text of a 0x3226 command frame: STX, four length nibbles, four
// command nibbles, two seat nibbles, the APDU, two checksum nibbles, ETX.
std::string ApduText(const Bytes& frame) {
  std::string text;
  for (std::size_t i = 1 + 4 + 4 + 2; i + 3 < frame.size(); ++i) text += "0123456789ABCDEF"[frame[i] - 0x30];
  return text;
}

class TraceInfoTest : public CardTest {
 protected:
  TraceInfoTest() : CardTest(6) {}
  int Trace(const char* type, const char* amount) {
    std::memset(chip_, 'x', sizeof chip_);
    return KP_DEV_GetICTraceInfo(h_, 0, 0, kAid.c_str(), type, amount, chip_);
  }
  void ScriptCard(const std::string& generateAcAnswer) {
    Card(dev_, SelectAnswer());
    Card(dev_, GpoAnswer("08010100", "3C00"));
    Card(dev_, generateAcAnswer);
  }
  char chip_[400];
};

TEST_F(TraceInfoTest, GenerateAcAndChipData) {
  ScriptCard(kGenerateAcAnswer);
  ASSERT_EQ(Trace("00", "000000000100"), 0);
  const Frames sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], Apdu(0, kSelectAid));  // no directory step
  EXPECT_EQ(sent[1], Apdu(0, GpoCommand()));

  // GENERATE AC: amount, other amount, country, TVR, currency, date, type,
  // unpredictable number, time, merchant name.
  const std::string prefix =
      "80AE800034"
      "000000000100"
      "000000000000"
      "0156"
      "8000000000"
      "0156" +
      Today() + "00";
  const std::string gac = ApduText(sent[2]);
  ASSERT_EQ(gac.size(), 2u * (5 + 52));
  EXPECT_EQ(gac.substr(0, prefix.size()), prefix);
  const std::string number = gac.substr(prefix.size(), 8);
  const std::string time = gac.substr(prefix.size() + 8, 6);
  EXPECT_EQ(gac.substr(prefix.size() + 14), kMerchant);
  EXPECT_EQ(number.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(time.find_first_not_of("0123456789"), std::string::npos);

  const std::string expected =
      "9F26081122334455667788"
      "9F270180"
      "9F1012" +
      kIad + "9F3704" + number +
      "9F36020011"
      "95058000000000"
      "9A03" +
      Today() +
      "9C0100"
      "9F0206000000000100"
      "5F2A020156"
      "82023C00"
      "9F1A020156"
      "9F0306000000000000"
      "9F3303004000";
  EXPECT_STREQ(chip_, expected.c_str());
}

TEST_F(TraceInfoTest, AnswerWithoutIssuerApplicationData) {
  // Thirty characters: the fixed fields and the status word, nothing else.
  ScriptCard(Tlv("80", "80" + std::string("0011") + "1122334455667788") + "9000");
  ASSERT_EQ(Trace("00", "000000000100"), 0);
  EXPECT_EQ(std::string(chip_).substr(0, 36), "9F260811223344556677889F2701809F1000");
}

TEST_F(TraceInfoTest, Failures) {
  // SELECT failing on the device: its error; refused: 200.
  dev_.ReplyFrame(0x1004);
  EXPECT_EQ(Trace("00", "000000000100"), -307);
  Card(dev_, "6A82");
  EXPECT_EQ(Trace("00", "000000000100"), 200);
  // GPO refused: 200.
  Card(dev_, SelectAnswer());
  Card(dev_, "6985");
  EXPECT_EQ(Trace("00", "000000000100"), 200);
  // GENERATE AC failing on the device, refused, or answered without room
  // for the cryptogram: its error, 200, 200.
  Card(dev_, SelectAnswer());
  Card(dev_, GpoAnswer("08010100"));
  dev_.ReplyFrame(0x2007);
  EXPECT_EQ(Trace("00", "000000000100"), -321);
  ScriptCard("6985");
  EXPECT_EQ(Trace("00", "000000000100"), 200);
  ScriptCard(Tlv("80", "8000111122334455") + "9000");  // 24 characters
  EXPECT_EQ(Trace("00", "000000000100"), 200);
  // Issuer application data longer than its element holds.
  ScriptCard(Tlv("80",
                 "800011"
                 "1122334455667788" +
                     std::string(94, 'A')) +
             "9000");
  EXPECT_EQ(Trace("00", "000000000100"), 200);
  EXPECT_EQ(chip_[0], 'x');
  Sent();

  // An amount or type longer than its element, or an AID longer than 99
  // characters: refused before anything is sent.
  EXPECT_EQ(Trace("00", "00000000000100"), -5);
  EXPECT_EQ(Trace("000000", "000000000100"), -5);
  const std::string longAid(100, 'A');
  EXPECT_EQ(KP_DEV_GetICTraceInfo(h_, 0, 0, longAid.c_str(), "00", "000000000100", chip_), -5);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(chip_[0], 'x');
}

}  // namespace
