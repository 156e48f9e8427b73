// The financial card services against bank cards in the virtual reader:
// card information and Track 2, the raw AFL records and the chip data of an
// online authorisation, for each shipped card profile, in a contact seat
// and in the contactless field.  Each case checks the APDUs on the line (in
// order, decoded from the 0x3226 frames), the result, what reaches the
// caller's texts and what is left as it was.
//
// The expected records are built here from the profiles' contents
// (sim/profiles/*.json): template 70 around the elements in the order the
// profile lists them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "integration/apdu_wire.h"
#include "integration/card_wire.h"
#include "kp_dev.h"

using kptest::AsciiHex;
using kptest::CardSim;
using kptest::Tlv;
using Strings = std::vector<std::string>;

namespace {

const char kSelectDirectory[] = "00A404000E315041592E5359532E4444463031";
// The ten values the processing options data object list of the debit
// profiles asks for (9F66 04 ... 9F37 04), as the terminal answers them.
std::string TerminalPdolData() {
  return "64400000"
         "000000000000"
         "000000000000"
         "0156"
         "8000000000"
         "0156" +
         kptest::Today() +
         "60"
         "00000000";
}
std::string DebitGpo() {
  return "80A80000"
         "23"
         "8321" +
         TerminalPdolData();
}

const char kCdol1[] = "9F02069F03069F1A0295055F2A029A039C019F37049F21039F4E14";

// pboc-debit-two-sfi
const char kDebitAid[] = "F0000001560101";
const char kDebitTrack2[] = "6200001234567892D30122200000012340000F";
std::string DebitRecord11() {
  return Tlv("70", Tlv("57", kDebitTrack2) + Tlv("5F20", AsciiHex("TEST/CARDHOLDER")) +
                       Tlv("9F1F", AsciiHex("000001234000000")));
}
std::string DebitRecord12() {
  return Tlv("70", Tlv("5A", "6200001234567892") + Tlv("5F24", "301231") + Tlv("5F25", "200101") + Tlv("5F28", "0156") +
                       Tlv("8C", kCdol1) + Tlv("8D", "8A0295059F3704") +
                       Tlv("8E",
                           "0000000000000000"
                           "42031E031F00") +
                       Tlv("9F07", "FF00") + Tlv("9F08", "0030") + Tlv("9F0D", "D86004A800") +
                       Tlv("9F0E", "0010980000") + Tlv("9F0F", "D86804F800"));
}
std::string DebitRecord21() { return Tlv("70", Tlv("5F34", "01") + Tlv("9F4A", "82") + Tlv("8F", "01")); }

// pboc-credit-no-psn
const char kCreditAid[] = "F0000001560102";
const char kCreditTrack2[] = "621000456789012348D28062010000056780000F";

// pboc-t0-directory
const char kT0Aid[] = "F0000001560103";
const char kT0Track2[] = "6212340000111121D290922000000999900000";

// pboc-t0-all
const char kT0AllTrack2[] = "629900123456789012D31052200000000000000F";
std::string T0AllRecord11() {
  return Tlv("70", Tlv("5F20", AsciiHex("WANG/TEST")) + Tlv("57", kT0AllTrack2) + Tlv("8C", kCdol1));
}
std::string T0AllRecord31() { return Tlv("70", Tlv("5F34", "02") + Tlv("5F25", "210501")); }

// A text of `fill` characters, so that what a call leaves alone shows.
struct Text {
  explicit Text(char fill = 'Z') {
    std::memset(chars, fill, sizeof chars);
    chars[sizeof chars - 1] = '\0';
  }
  std::string str() const { return chars; }
  // The characters from `from` on, up to 4 of them.
  std::string At(std::size_t from) const { return std::string(chars + from, 4); }
  char chars[1024];
};

// A bank card powered on in seat 0 of a type-1 reader, the line clear.
struct ContactCard : CardSim {
  explicit ContactCard(const std::string& profile) : CardSim("t1", 1, {"0 bank profile=" + profile}) {
    char atr[80] = {};
    int len = 33;
    EXPECT_EQ(KP_DEV_IC_PowerOn(h(), 0, &len, atr), 0);
    sim().ClearTraffic();
  }
  std::vector<kptest::ApduExchange> Exchanges() {
    const std::vector<kptest::ApduExchange> e = kptest::Apdus(sim().Traffic());
    sim().ClearTraffic();
    return e;
  }
};

TEST(CardInfo, RecordsInTwoFilesOnTheContactSeat) {
  ContactCard card("pboc-debit-two-sfi");
  Text track2, panSeq, aid;
  EXPECT_EQ(KP_DEV_ReadICCardInfo(card.h(), 0, 0, track2.chars, panSeq.chars, aid.chars), 0);
  EXPECT_STREQ(track2.chars, kDebitTrack2);
  EXPECT_EQ(track2.At(std::strlen(kDebitTrack2) + 1), "ZZZZ");
  EXPECT_STREQ(panSeq.chars, "01");
  EXPECT_EQ(panSeq.At(3), "ZZZZ");
  EXPECT_STREQ(aid.chars, kDebitAid);
  const auto e = card.Exchanges();
  // The directory record is read by its number in decimal and P2 0C (SFI
  // 1); the card's AFL 08010200 10010100 names SFI 1 records 1-2 (P2 0C)
  // and SFI 2 record 1 (P2 14).
  EXPECT_EQ(kptest::Commands(e), (Strings{kSelectDirectory, "00B2010C00", "00A4040007F0000001560101", DebitGpo(),
                                          "00B2010C00", "00B2020C00", "00B2011400"}));
  for (const auto& x : e) EXPECT_EQ(x.seat, 0);

  // The Track 2 reading is the same dialogue; its text is cleared first.
  Text only;
  EXPECT_EQ(KP_DEV_ReadFinanceICTrack2(card.h(), 0, 0, only.chars), 0);
  EXPECT_STREQ(only.chars, kDebitTrack2);
  EXPECT_EQ(kptest::Commands(card.Exchanges()).size(), 7u);
}

TEST(CardInfo, WithoutPanSequenceNumberTheResultIs200WithTrack2Written) {
  ContactCard card("pboc-credit-no-psn");
  Text track2, panSeq, aid;
  EXPECT_EQ(KP_DEV_ReadICCardInfo(card.h(), 0, 0, track2.chars, panSeq.chars, aid.chars), 200);
  EXPECT_STREQ(track2.chars, kCreditTrack2);
  EXPECT_EQ(panSeq.At(0), "ZZZZ");
  EXPECT_STREQ(aid.chars, kCreditAid);
  // No PDOL: empty processing options data.  Every record is read.
  EXPECT_EQ(kptest::Commands(card.Exchanges()), (Strings{kSelectDirectory, "00B2010C00", "00A4040007F0000001560102",
                                                         "80A80000028300", "00B2010C00", "00B2020C00"}));

  Text only;
  EXPECT_EQ(KP_DEV_ReadFinanceICTrack2(card.h(), 0, 0, only.chars), 200);
  EXPECT_STREQ(only.chars, kCreditTrack2);
}

TEST(CardInfo, CardsThatAnswerWithStatusWords61And6C) {
  // 61xx: GET RESPONSE with Le xx; 6Cxx: the command again with Le xx.
  const struct {
    const char* profile;
    const char* track2;
    const char* panSeq;
    const char* aid;
    Strings commands;
  } cases[] = {
      // The directory's FCI is fetched (23 bytes), the PBOC application is
      // in directory record 2; its PDOL 9F1A 02, 9F37 04, DF60 03 gets the
      // country, the stored number and zeros.  Track 2 and the PAN sequence
      // number share record 1: no second read.
      {"pboc-t0-directory",
       kT0Track2,
       "00",
       kT0Aid,
       {kSelectDirectory, "00C0000017", "00B2010C00", "00B2020C00", "00A4040007F0000001560103",
        std::string("80A800000B8309") + "0156" + "00000000" + "000000", "00B2010C00"}},
      // Directory record 28 bytes (6C1C), application FCI 55, GPO answer 12,
      // record 1 of SFI 1 65 bytes (6C41), of SFI 3 12.  The cardholder name
      // W (57) with its 'A' stands before the real Track 2 element and is
      // passed over.
      {"pboc-t0-all",
       kT0AllTrack2,
       "02",
       kDebitAid,
       {kSelectDirectory, "00C0000017", "00B2010C00", "00B2010C1C", "00A4040007F0000001560101", "00C0000037",
        DebitGpo(), "00C000000C", "00B2010C00", "00B2010C41", "00B2011C00", "00B2011C0C"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile);
    ContactCard card(c.profile);
    Text track2, panSeq, aid;
    EXPECT_EQ(KP_DEV_ReadICCardInfo(card.h(), 0, 0, track2.chars, panSeq.chars, aid.chars), 0);
    EXPECT_STREQ(track2.chars, c.track2);
    EXPECT_STREQ(panSeq.chars, c.panSeq);
    EXPECT_STREQ(aid.chars, c.aid);
    EXPECT_EQ(kptest::Commands(card.Exchanges()), c.commands);
  }
}

TEST(CardInfo, ContactlessCardOnSeat255) {
  CardSim r("t61", 61, {"255 rf-bank profile=pboc-debit-two-sfi"});
  int type = 0, uidLen = 10, atsLen = 64;
  char uid[32] = {}, ats[160] = {};
  ASSERT_EQ(KP_DEV_IC_ConnectlessActive(r.h(), &type, &uidLen, uid, &atsLen, ats), 0);
  r.sim().ClearTraffic();
  Text track2;
  EXPECT_EQ(KP_DEV_ReadFinanceICTrack2(r.h(), 255, 0, track2.chars), 0);
  EXPECT_STREQ(track2.chars, kDebitTrack2);
  const auto e = kptest::Apdus(r.sim().Traffic());
  EXPECT_EQ(kptest::Commands(e), (Strings{kSelectDirectory, "00B2010C00", "00A4040007F0000001560101", DebitGpo(),
                                          "00B2010C00", "00B2020C00", "00B2011400"}));
  for (const auto& x : e) EXPECT_EQ(x.seat, 255);
}

TEST(CardInfo, UnpoweredCardEndsTheCallAfterTheFirstApdu) {
  // The reader's refusal (-306) is the result; nothing written.
  ContactCard card("pboc-debit-two-sfi");
  ASSERT_EQ(KP_DEV_IC_PowerOff(card.h(), 0), 0);
  card.sim().ClearTraffic();
  Text track2, panSeq, aid;
  EXPECT_EQ(KP_DEV_ReadICCardInfo(card.h(), 0, 0, track2.chars, panSeq.chars, aid.chars), -306);
  const auto e = card.Exchanges();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].answer, "status 1002");
  EXPECT_EQ(aid.At(0), "ZZZZ");
  EXPECT_EQ(track2.At(0), "ZZZZ");
}

TEST(GpoData, EveryAflRecordOnALineOfItsOwn) {
  ContactCard card("pboc-debit-two-sfi");
  const std::string all = DebitRecord11() + "9000\r\n" + DebitRecord12() + "9000\r\n" + DebitRecord21() + "9000\r\n";
  // Exactly the room: the terminator stands after the declared capacity.
  Text records;
  EXPECT_EQ(KP_DEV_ReadICCardGPOData(card.h(), 0, 0, records.chars, static_cast<int>(all.size())), 0);
  EXPECT_EQ(std::string(records.chars, all.size() + 1), all + std::string(1, '\0'));
  EXPECT_EQ(records.At(all.size() + 1), "ZZZZ");
  EXPECT_EQ(kptest::Commands(card.Exchanges()), (Strings{kSelectDirectory, "00B2010C00", "00A4040007F0000001560101",
                                                         DebitGpo(), "00B2010C00", "00B2020C00", "00B2011400"}));
}

TEST(GpoData, OtherProfiles) {
  // pboc-t0-directory's AFL names SFI 1 records 1 and 2; the second holds
  // the CDOL1 alone.
  const std::string t0Record1 = Tlv("70", Tlv("57", kT0Track2) + Tlv("5F34", "00") + Tlv("5F20", AsciiHex("TEST/T0")));
  const struct {
    const char* profile;
    std::string records;
  } cases[] = {
      {"pboc-t0-all", T0AllRecord11() + "9000\r\n" + T0AllRecord31() + "9000\r\n"},
      {"pboc-t0-directory", t0Record1 + "9000\r\n" + Tlv("70", Tlv("8C", kCdol1)) + "9000\r\n"},
  };
  for (const auto& c : cases) {
    ContactCard card(c.profile);
    Text records;
    EXPECT_EQ(KP_DEV_ReadICCardGPOData(card.h(), 0, 0, records.chars, 1000), 0) << c.profile;
    EXPECT_EQ(std::string(records.chars), c.records) << c.profile;
  }
}

// The GENERATE AC of a call and its answer, with the fields the chip data
// takes from them.
struct Arqc {
  std::string command;
  std::string unpredictable;  // 8 characters
  std::string cryptogram;     // 16
  std::string atc;            // 4
  std::string iad;
  std::string cid;
};

Arqc Split(const std::string& command, const std::string& answer) {
  Arqc a;
  a.command = command;
  // 80AE800034, amount 12, other 12, country 4, TVR 10, currency 4, date 6,
  // type 2, then the unpredictable number.
  a.unpredictable = command.substr(10 + 12 + 12 + 4 + 10 + 4 + 6 + 2, 8);
  // 80 L, CID, ATC, cryptogram, IAD, status word.
  a.cid = answer.substr(4, 2);
  a.atc = answer.substr(6, 4);
  a.cryptogram = answer.substr(10, 16);
  a.iad = answer.substr(26, answer.size() - 26 - 4);
  return a;
}

std::string ChipData(const Arqc& a, const std::string& type, const std::string& amount, const std::string& aip) {
  char iadLength[4];
  std::snprintf(iadLength, sizeof iadLength, "%02X", static_cast<unsigned>(a.iad.size() / 2));
  return "9F2608" + a.cryptogram + "9F270180" + "9F10" + iadLength + a.iad + "9F3704" + a.unpredictable + "9F3602" +
         a.atc + "95058000000000" + "9A03" + kptest::Today() + "9C01" + type + "9F0206" + amount + "5F2A020156" +
         "8202" + aip + "9F1A020156" + "9F0306000000000000" + "9F3303004000";
}

// The GENERATE AC command up to the unpredictable number, and after it the
// time (6 digits) and the merchant name field.
void ExpectGenerateAc(const std::string& command, const std::string& amount, const std::string& type) {
  const std::string head = "80AE800034" + amount +
                           "000000000000"
                           "0156"
                           "8000000000"
                           "0156" +
                           kptest::Today() + type;
  ASSERT_EQ(command.size(), 10u + 104u);
  EXPECT_EQ(command.substr(0, head.size()), head);
  EXPECT_EQ(command.substr(head.size() + 8 + 6), "514D5852" + std::string(32, '0'));
  const std::string time = command.substr(head.size() + 8, 6);
  EXPECT_EQ(time.find_first_not_of("0123456789"), std::string::npos) << time;
}

TEST(TraceInfo, DecliningCardAndCardWithItsOwnPdol) {
  // pboc-credit-no-psn has no PDOL and declines (AAC, CID 00): the chip
  // data still reports cryptogram information 80.  pboc-t0-directory has a
  // PDOL of its own, and its answer to SELECT is not held back.
  const struct {
    const char* profile;
    const char* aid;
    std::string gpo;
    const char* answerHead;  // 80 L, CID, ATC
    const char* iad;
    const char* aip;
  } cases[] = {
      {"pboc-credit-no-psn", kCreditAid, "80A80000028300", "8013000002", "0700010300000000", "5C00"},
      {"pboc-t0-directory", kT0Aid, std::string("80A800000B8309") + "0156" + "00000000" + "000000", "8015800101",
       "07010103900000010A01", "7C00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile);
    ContactCard card(c.profile);
    Text chip;
    EXPECT_EQ(KP_DEV_GetICTraceInfo(card.h(), 0, 0, c.aid, "00", "000000002000", chip.chars), 0);
    const auto e = card.Exchanges();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].command, std::string("00A4040007") + c.aid);
    EXPECT_EQ(e[1].command, c.gpo);
    ExpectGenerateAc(e[2].command, "000000002000", "00");
    EXPECT_EQ(e[2].answer.substr(0, 10), c.answerHead);
    const Arqc a = Split(e[2].command, e[2].answer);
    EXPECT_EQ(a.iad, c.iad);
    EXPECT_EQ(std::string(chip.chars), ChipData(a, "00", "000000002000", c.aip));
  }
}

TEST(TraceInfo, TZeroCardAndRefusedApplication) {
  ContactCard card("pboc-t0-all");
  Text chip;
  EXPECT_EQ(KP_DEV_GetICTraceInfo(card.h(), 0, 0, kDebitAid, "00", "000000000100", chip.chars), 0);
  const auto e = card.Exchanges();
  ASSERT_EQ(e.size(), 6u);
  EXPECT_EQ(kptest::Commands(e)[1], "00C0000037");
  EXPECT_EQ(kptest::Commands(e)[3], "00C000000C");
  ExpectGenerateAc(e[4].command, "000000000100", "00");
  // 29 bytes held back: 80 1B, the type asked for (approving card), ATC
  // 0401, cryptogram, 16-byte IAD.
  EXPECT_EQ(e[4].answer, "611D");
  EXPECT_EQ(e[5].command, "00C000001D");
  EXPECT_EQ(e[5].answer.substr(0, 10), "801B800401");
  const Arqc a = Split(e[4].command, e[5].answer);
  EXPECT_EQ(std::string(chip.chars), ChipData(a, "00", "000000000100", "7C00"));

  // An application the card does not have: 200, nothing written.
  Text none;
  EXPECT_EQ(KP_DEV_GetICTraceInfo(card.h(), 0, 0, "F0000001569999", "00", "000000000100", none.chars), 200);
  EXPECT_EQ(none.At(0), "ZZZZ");
  const auto refused = card.Exchanges();
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].answer, "6A82");
}

}  // namespace
