// Reading a bank card's Track 2 equivalent data through the Windows DLL:
// a card answers the payment-system directory, the application selection,
// GET PROCESSING OPTIONS and the records of its file locator, and every
// APDU the library sends is checked in order on the wire. The first cards
// are contact CPU cards answering from a script; the last is the reader's
// bank card, personalised from a profile this program writes, in the
// contact seat and in the field.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "card_reader.h"
#include "kp_dev.h"

namespace {

using kpwine::Bytes;
using kpwine::CommandFrame;
using kpwine::Frames;
using kpwine::Hex;
using kpwine::Text;

const std::string kSelectPse = "00A404000E315041592E5359532E4444463031";
// FCI of the directory: 84 with the name, A5 holding 88 (SFI 1) and 5F2D.
const std::string kPseFci = "6F1A840E315041592E5359532E4444463031A5088801015F2D027A68";
// Directory record 1: one entry with AID A0000003330101 and the label
// "PBOC Credit".
const std::string kDirectoryRecord = "701B61194F07A0000003330101500B50424F4320437265646974870101";
const std::string kAid = "A0000003330101";
const std::string kSelectAid = "00A4040007" + kAid;
// Its FCI asks for 9F66 (4 bytes), 9F02 (6) and 9F1A (2) in its PDOL.
const std::string kAppFci = "6F248407A0000003330101A519500B50424F43204372656469749F38099F66049F02069F1A02";
// The PDOL answered from the terminal data: 64400000, twelve '0', 0156.
const std::string kGpo = "80A800000E830C644000000000000000000156";
// Format 1: AIP 7C00, AFL SFI 2 records 1-2, SFI 3 record 1.
const std::string kGpoAnswer = "800A7C001001020018010100";
const std::string kTrack2 = "6222021234567890123D25122011234567890F";
const std::string kRecord21 = "70155713" + kTrack2;
// A two-byte 5F34 does not count as the PAN sequence number.
const std::string kRecord22 = "70175F340200015F200F4B5044455620544553542F43415244";
const std::string kRecord31 = "70095F3401019F08020030";

std::string Script(const std::string& record31) {
  return "0 cpu apdu=" + kSelectPse + ":" + kPseFci + "9000" + " apdu=00B2010C00:" + kDirectoryRecord + "9000" +
         " apdu=" + kSelectAid + ":" + kAppFci + "9000" + " apdu=80A80000:" + kGpoAnswer + "9000" +
         " apdu=00B2011400:" + kRecord21 + "9000" + " apdu=00B2021400:" + kRecord22 + "9000" +
         " apdu=00B2011C00:" + record31 + "9000";
}

// The 0x3226 frames of APDUs sent to one seat ("00", "FF"), in order.
Bytes ApdusOnSeat(const std::string& seat, const std::vector<std::string>& apdus) {
  std::vector<Bytes> frames;
  for (const std::string& apdu : apdus) frames.push_back(CommandFrame(0x3226, seat + apdu));
  return Frames(frames);
}

Bytes Apdus(const std::vector<std::string>& apdus) { return ApdusOnSeat("00", apdus); }

class BankCard : public kpwine::CardReaderTest {
 protected:
  void InsertAndPowerOn(const std::string& card) {
    Insert(card);
    OpenReader(1);
    Text atr;
    int atrLen = 33;
    ASSERT_EQ(KP_DEV_IC_PowerOn(h(), 0, &atrLen, atr.chars), 0);
    Sent();
  }
};

TEST_F(BankCard, Track2ThroughDirectoryApplicationAndFileLocator) {
  InsertAndPowerOn(Script(kRecord31));
  Text track2;
  ASSERT_EQ(KP_DEV_ReadFinanceICTrack2(h(), 0, 0, track2.chars), 0);
  EXPECT_STREQ(track2.chars, kTrack2.c_str());
  // The walk stops as soon as Track 2 and the PAN sequence number are in.
  EXPECT_EQ(Hex(Sent()),
            Hex(Apdus({kSelectPse, "00B2010C00", kSelectAid, kGpo, "00B2011400", "00B2021400", "00B2011C00"})));

  Text track, panSequence, aid;
  ASSERT_EQ(KP_DEV_ReadICCardInfo(h(), 0, 0, track.chars, panSequence.chars, aid.chars), 0);
  EXPECT_STREQ(track.chars, kTrack2.c_str());
  EXPECT_STREQ(panSequence.chars, "01");
  EXPECT_STREQ(aid.chars, kAid.c_str());
}

TEST_F(BankCard, CardWithoutPanSequenceNumberReports200WithTrack2Filled) {
  InsertAndPowerOn(Script("70059F08020030"));
  Text track2;
  EXPECT_EQ(KP_DEV_ReadFinanceICTrack2(h(), 0, 0, track2.chars), 200);
  EXPECT_STREQ(track2.chars, kTrack2.c_str());
  EXPECT_EQ(Hex(Sent()),
            Hex(Apdus({kSelectPse, "00B2010C00", kSelectAid, kGpo, "00B2011400", "00B2021400", "00B2011C00"})));
}

TEST_F(BankCard, RefusedDirectorySelectionEndsTheReadAt200) {
  InsertAndPowerOn("0 cpu apdu=" + kSelectPse + ":6A82");
  Text track2;
  EXPECT_EQ(KP_DEV_ReadFinanceICTrack2(h(), 0, 0, track2.chars), 200);
  // Only the first four bytes of the Track 2 text are cleared.
  EXPECT_EQ(track2.At(0, 4), std::string(4, '\0'));
  EXPECT_EQ(track2.At(4, 4), "ZZZZ");
  EXPECT_EQ(Hex(Sent()), Hex(Apdus({kSelectPse})));
}

// A debit application whose PDOL asks for nine terminal values and one tag
// the terminal does not know; Track 2 in SFI 1, the PAN sequence number in
// SFI 2.
const char kProfile[] = R"({
  "name": "wine-debit",
  "contactless": { "uid": "04A1B2C3D4E5F6", "ats": "0578807002", "type": "20" },
  "directory": { "name": "1PAY.SYS.DDF01", "sfi": 1 },
  "applications": [ {
    "aid": "A0000003330101", "label": "PBOC DEBIT", "priority": 1,
    "pdol": "9F66 04 9F02 06 9F03 06 9F1A 02 95 05 5F2A 02 9C 01 9F37 04 DF60 03",
    "aip": "7C00",
    "afl": "08010100 10010100",
    "records": {
      "1": [ { "57": "6222021234567890123D25122011234567890F" } ],
      "2": [ { "5F34": "01", "5F20": "text:WINE/TEST" } ]
    }
  } ]
})";

// The PDOL answered from the terminal data, in the PDOL's order:
// 9F66 64400000, 9F02 and 9F03 zero amounts, 9F1A 0156, 95 8000000000,
// 5F2A 0156, 9C 60, 9F37 00000000, and DF60 as three zero bytes: 33 bytes.
const std::string kProfileGpo =
    "80A8000023"
    "8321"
    "64400000"
    "000000000000"
    "000000000000"
    "0156"
    "8000000000"
    "0156"
    "60"
    "00000000"
    "000000";

class ProfiledBankCard : public kpwine::CardReaderTest {
 protected:
  // Writes the profile where the reader looks for bank-card profiles
  // (drive D:\profiles, set up by scripts/test-wine.sh) and inserts the
  // card; skips when this reader has no bank cards.
  void InsertProfiled(const std::string& seatAndKind) {
    {
      std::ofstream out("D:\\profiles\\wine-debit.json", std::ios::binary);
      ASSERT_TRUE(out) << "D:\\profiles is missing";
      out << kProfile;
    }
    const std::string reply = control_->Request("insert " + seatAndKind + " profile=wine-debit");
    if (reply.find("unknown card kind") != std::string::npos) GTEST_SKIP() << reply;
    ASSERT_EQ(reply, "ok");
  }
  std::vector<std::string> Expected() const {
    return {kSelectPse, "00B2010C00", kSelectAid, kProfileGpo, "00B2010C00", "00B2011400"};
  }
};

TEST_F(ProfiledBankCard, Track2AndCardInformationFromTheContactSeat) {
  InsertProfiled("0 bank");
  if (IsSkipped()) return;
  OpenReader(1);
  Text atr;
  int atrLen = 33;
  ASSERT_EQ(KP_DEV_IC_PowerOn(h(), 0, &atrLen, atr.chars), 0);
  Sent();

  Text track2;
  ASSERT_EQ(KP_DEV_ReadFinanceICTrack2(h(), 0, 0, track2.chars), 0);
  EXPECT_STREQ(track2.chars, kTrack2.c_str());
  EXPECT_EQ(Hex(Sent()), Hex(ApdusOnSeat("00", Expected())));

  Text track, panSequence, aid;
  ASSERT_EQ(KP_DEV_ReadICCardInfo(h(), 0, 0, track.chars, panSequence.chars, aid.chars), 0);
  EXPECT_STREQ(track.chars, kTrack2.c_str());
  EXPECT_STREQ(panSequence.chars, "01");
  EXPECT_STREQ(aid.chars, kAid.c_str());
  EXPECT_EQ(Hex(Sent()), Hex(ApdusOnSeat("00", Expected())));
}

TEST_F(ProfiledBankCard, Track2FromTheCardInTheField) {
  InsertProfiled("255 rf-bank");
  if (IsSkipped()) return;
  OpenReader(1);
  int type = -1, uidLen = 10, atsLen = 10;
  Text uid, ats;
  ASSERT_EQ(KP_DEV_IC_ConnectlessActive(h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(type, 0x20);
  EXPECT_STREQ(uid.chars, "04A1B2C3D4E5F6");
  Sent();

  Text track2;
  ASSERT_EQ(KP_DEV_ReadFinanceICTrack2(h(), 255, 0, track2.chars), 0);
  EXPECT_STREQ(track2.chars, kTrack2.c_str());
  EXPECT_EQ(Hex(Sent()), Hex(ApdusOnSeat("FF", Expected())));
}

}  // namespace
