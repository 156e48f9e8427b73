// The bank-card services against a card scripted behind the scripted
// device: the chained APDU exchange, card information and Track 2, the raw
// GPO records with their bounds, and the chip data of an online
// authorisation; the exact card dialogue, results and what the caller's
// texts receive or keep.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wire/emv_card.h"

namespace {

using namespace emvtest;

// ---- the chained APDU exchange

class ApduChainTest : public CardTest {
 protected:
  ApduChainTest() : CardTest(3) {}
  // One chained exchange on the contact seat; the response text starts
  // filled with 'x' to show what the call wrote.
  int Send(const std::string& command, int seat = 0, int length = 0) {
    std::memset(response_, 'x', sizeof response_);
    response_[sizeof response_ - 1] = '\0';
    return KP_DEV_IC_SendApdu_A(h_, seat, 0, command.c_str(), length, response_);
  }
  char response_[512];
};

TEST_F(ApduChainTest, FollowUpCommandPerStatusWord) {
  const char kFinal[] = "6F0A8408A0000003330101019000";
  const struct {
    const char* command;
    const char* first;     // the card's first answer
    const char* followUp;  // the command that must follow, or nullptr
  } cases[] = {
      {"00A4040008A000000333010101", "6110", "00C0000010"},
      {"00A4040008A000000333010101", "6100", "00C0000000"},
      {"00B2010C00", "6C1D", "00B2010C1D"},
      {"00B2010C00", "6283", "00C0000000"},
      {"00B2010C00", "63C2", "00C0000000"},
      {"80CA9F1300", "6300", "00C0000000"},
      // Status words that end the exchange.
      {"00B2010C00", "6F00A5009000", nullptr},
      {"00B2010C00", "6A82", nullptr},
      {"00B2010C00", "6281", nullptr},
      {"00B2010C00", "9000", nullptr},
      {"00B2010C00", "6985", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Card(dev_, c.first);
    if (c.followUp != nullptr) Card(dev_, kFinal);
    ASSERT_EQ(Send(c.command), 0);
    // The follow-up's answer replaces the first one.
    EXPECT_STREQ(response_, c.followUp != nullptr ? kFinal : c.first);
    EXPECT_EQ(Sent(), c.followUp != nullptr ? Apdus(0, {c.command, c.followUp}) : Apdus(0, {c.command}));
  }
}

TEST_F(ApduChainTest, OneLevelOnlyAndArgumentsPassedOn) {
  // The follow-up asks for yet another GET RESPONSE: not sent, its answer
  // stands with result 0.  Seat 255 goes to both commands, and the length
  // argument of the export has no effect.
  Card(dev_, "6110");
  Card(dev_, "6108");
  ASSERT_EQ(Send("00A4040008A000000333010101", 255, 3), 0);
  EXPECT_STREQ(response_, "6108");
  EXPECT_EQ(Sent(), Apdus(255, {"00A4040008A000000333010101", "00C0000010"}));

  // An answer too short to hold a status word asks for nothing.
  Card(dev_, "61");
  ASSERT_EQ(Send("0084000008", 0, -1), 0);
  EXPECT_STREQ(response_, "61");
  EXPECT_EQ(Sent(), Apdus(0, {"0084000008"}));
}

TEST_F(ApduChainTest, ErrorsOfEitherExchange) {
  // A device error on the first command: no follow-up, the error is the
  // result, and the exchange is logged with the empty response it left.
  dev_.ReplyFrame(0x1004);
  EXPECT_EQ(Send("00B2020C00"), -307);
  EXPECT_STREQ(response_, "");
  EXPECT_EQ(Sent(), Apdus(0, {"00B2020C00"}));

  // A device error on the follow-up is returned too.
  Card(dev_, "6C1D");
  dev_.ReplyFrame(0x2007);
  EXPECT_EQ(Send("00B2010C00"), -321);
  EXPECT_EQ(Sent(), Apdus(0, {"00B2010C00", "00B2010C1D"}));

  // The failed follow-up cleared the first four characters of the text, as
  // each exchange does first; the rest of the first answer stays behind.
  Card(dev_, "A1B2C3D46C1D");
  dev_.ReplyFrame(0x2007);
  EXPECT_EQ(Send("00B2010C00"), -321);
  EXPECT_EQ(std::string(response_, 14), std::string("\0\0\0\0C3D46C1D\0x", 14));

  // Only the first exchange of each call is logged, with what it answered.
  const std::string log = log_.Text();
  EXPECT_NE(log.find("| SendApdu 00B2020C00-->\n"), std::string::npos) << log;
  EXPECT_NE(log.find("| SendApdu 00B2010C00-->6C1D\n"), std::string::npos) << log;
  EXPECT_NE(log.find("| SendApdu 00B2010C00-->A1B2C3D46C1D\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("00B2010C1D"), std::string::npos) << log;
}

TEST_F(ApduChainTest, HandleWithoutReader) {
  // Nothing is sent; the response text is emptied rather than left holding
  // an answer that no card gave.
  std::memset(response_, 'x', sizeof response_);
  EXPECT_EQ(KP_DEV_IC_SendApdu_A(h_ + 1, 0, 0, "0084000008", 5, response_), 0);
  EXPECT_EQ(response_[0], '\0');
  EXPECT_EQ(response_[1], 'x');
  EXPECT_TRUE(Sent().empty());
}

// ---- card information and Track 2

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

// ---- raw GPO records

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

// The AFL walk is bounded by what a card may declare: entries EMV rules out
// name no record, and a card that stops answering is not asked for every
// record its AFL lists.
TEST_F(GpoDataTest, EntriesNoCardMayCarryAreSkipped) {
  // SFI 0, SFI 31, first record 0, last below first; then SFI 2 record 1.
  ScriptUpToGpo(dev_,
                "00010100"
                "F8010100"
                "08000100"
                "08020100"
                "10010100");
  const std::string record = Record(Tlv("5F34", "01"));
  Card(dev_, record);
  ASSERT_EQ(ReadRecords(sizeof records_), 0);
  EXPECT_EQ(std::string(records_, record.size() + 3), record + "\r\n" + '\0');
  EXPECT_EQ(Sent(), Apdus(0, CommandsUpToGpo() + std::vector<std::string>{"00B2011400"}));
}

TEST_F(GpoDataTest, WalkEndsAfterThreeFailedRecordsInARow) {
  // Records 1 to 255 of SFI 1, twice over; the card refuses every one.
  ScriptUpToGpo(dev_,
                "0801FF00"
                "0801FF00");
  for (int i = 0; i < 5; ++i) Card(dev_, "6A83");
  ASSERT_EQ(ReadRecords(sizeof records_), 0);
  EXPECT_EQ(records_[0], 'x');
  EXPECT_EQ(Sent(), Apdus(0, CommandsUpToGpo() + std::vector<std::string>{"00B2010C00", "00B2020C00", "00B2030C00"}));
}

TEST_F(GpoDataTest, OneAnsweredRecordRestartsTheCount) {
  ScriptUpToGpo(dev_, "08010500");
  const std::string record = Record(Tlv("5F34", "01"));
  for (const char* answer : {"6A83", "6A83", "", "6A83", "6A83"}) Card(dev_, *answer ? answer : record);
  ASSERT_EQ(ReadRecords(sizeof records_), 0);
  EXPECT_EQ(Sent().size(), 4u + 5u);
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
