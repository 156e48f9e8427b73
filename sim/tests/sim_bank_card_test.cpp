// The bank card: its profile, the application session (directory,
// selection, processing options, records, cryptograms, GET DATA), the T=0
// answers (61xx with GET RESPONSE, 6Cxx), and the card in a contact seat and
// in the contactless field, byte for byte.

#include <gtest/gtest.h>

#include <dirent.h>
#include <cstdio>
#include <fstream>

#include "cards/bank_card.h"
#include "core/frame.h"
#include "core/virtual_reader.h"

namespace kpsim {
namespace {

Bytes H(const std::string& hex) {
  Bytes bytes;
  EXPECT_TRUE(FromHex(hex, &bytes)) << hex;
  return bytes;
}

// A small card whose every answer can be written out by hand.
const char kProfile[] = R"({
  "name": "small",
  "directory": { "fci": { "5F2D": "text:en" } },
  "applications": [
    {
      "aid": "F0 00 00 01 56 01 01",
      "label": "PBOC",
      "priority": 1,
      "pdol": "9F1A 02 9F37 04",
      "aip": "7C 00",
      "records": {
        "1": [ { "57": "6200001234567892 D 3012 220 0F" } ],
        "2": [ { "5F34": "01", "8C": "9F02 06 9A 03" } ]
      },
      "atc": 5,
      "iad": "07 01",
      "key": "00112233445566778899AABBCCDDEEFF",
      "data": { "9F79": "00 00 00 00 10 00" }
    }
  ]
})";

// 6F { 84 "1PAY.SYS.DDF01", A5 { 88 01, 5F2D "en" } }
const char kDirectoryFci[] = "6F1A840E315041592E5359532E4444463031A5088801015F2D02656E";
// 70 { 61 { 4F aid, 50 "PBOC", 87 01 } }
const char kDirectoryRecord[] = "701461124F07F0000001560101500450424F43870101";
// 6F { 84 aid, A5 { 50 "PBOC", 87 01, 9F38 PDOL } }
const char kApplicationFci[] = "6F1D8407F0000001560101A512500450424F438701019F38069F1A029F3704";
// 80 { AIP 7C00, AFL 08 01 01 00, 10 01 01 00 }
const char kGpoAnswer[] = "800A7C000801010010010100";
const char kRecord11[] = "700F570D6200001234567892D30122200F";
const char kRecord21[] = "700B5F3401018C059F02069A03";

BankProfile Profile(const std::string& json = kProfile) {
  BankProfile profile;
  std::string error;
  EXPECT_TRUE(ParseBankProfile(json, "test", &profile, &error)) << error;
  return profile;
}

class BankSession : public ::testing::Test {
 protected:
  explicit BankSession(const std::string& json = kProfile)
      : card_(std::make_shared<const BankProfile>(Profile(json))) {}

  std::string Apdu(const std::string& hex) { return ToHex(card_.Transmit(H(hex))); }
  // Directory, application and processing options, as a terminal does it.
  void StartTransaction() {
    ASSERT_EQ(Apdu("00A40400"
                   "07F0000001560101"),
              std::string(kApplicationFci) + "9000");
    ASSERT_EQ(Apdu("80A80000"
                   "08"
                   "8306"
                   "0156"
                   "11223344"),
              std::string(kGpoAnswer) + "9000");
  }

  BankApplication card_;
};

TEST_F(BankSession, DirectoryAndApplicationSelection) {
  // Nothing selected: no file to read.
  EXPECT_EQ(Apdu("00B2010C00"), "6A82");
  EXPECT_EQ(Apdu("00A404000E315041592E5359532E4444463031"), std::string(kDirectoryFci) + "9000");
  EXPECT_EQ(Apdu("00B2010C00"), std::string(kDirectoryRecord) + "9000");
  EXPECT_EQ(Apdu("00B2020C00"), "6A83");
  EXPECT_EQ(Apdu("00B2011400"), "6A82");  // the directory has no SFI 2
  EXPECT_EQ(Apdu("00B2010C05"), "6C16");  // wrong Le: the record's length
  // The application by its whole AID (with Le) and by its first five bytes.
  EXPECT_EQ(Apdu("00A4040007F000000156010100"), std::string(kApplicationFci) + "9000");
  EXPECT_EQ(Apdu("00A4040005F000000156"), std::string(kApplicationFci) + "9000");
  // A failed selection keeps the application: its files stay readable.
  EXPECT_EQ(Apdu("00A4040007F0000001560199"), "6A82");
  EXPECT_EQ(Apdu("00B2010C00"), std::string(kRecord11) + "9000");
  EXPECT_EQ(Apdu("00B2011400"), std::string(kRecord21) + "9000");
  EXPECT_EQ(Apdu("00B2021400"), "6A83");
  EXPECT_EQ(Apdu("00B2011C00"), "6A82");

  const struct {
    const char* apdu;
    const char* sw;
  } refused[] = {
      {"00A40000023F00", "6A86"},  // by name only
      {"00A40402"
       "07F0000001560101",
       "6A82"},  // no next occurrence
      {"00A4040C"
       "07F0000001560101",
       "6A86"},
      {"80A40400"
       "07F0000001560101",
       "6E00"},                      // SELECT is an inter-industry command
      {"00A8000002830000", "6E00"},  // GET PROCESSING OPTIONS is proprietary
      {"00B2010800", "6A86"},        // SFI 1, but not "record number P1"
      {"00B2000C00", "6A86"},        // record 0
      {"00B2010C", "6700"},          // no Le
      {"0084000008", "6D00"},
      {"00A4", "6700"},
      {"00A4040000", "6700"},  // Lc 0
  };
  for (const auto& c : refused) EXPECT_EQ(Apdu(c.apdu), c.sw) << c.apdu;
}

TEST_F(BankSession, ProcessingOptionsCountTransactionsOncePerSelection) {
  EXPECT_EQ(Apdu("80A8000008830601561122334400"), "6985");  // nothing selected
  ASSERT_EQ(Apdu("00A4040007F0000001560101"), std::string(kApplicationFci) + "9000");
  // The data must be template 83 with the six bytes the PDOL asks for.
  EXPECT_EQ(Apdu("80A80000028300"), "6700");
  EXPECT_EQ(Apdu("80A800000783050156112233"), "6700");
  EXPECT_EQ(Apdu("80A80000087706015611223344"), "6700");
  EXPECT_EQ(card_.atc(0), 5);
  EXPECT_EQ(Apdu("80A8000008830601561122334400"), std::string(kGpoAnswer) + "9000");
  EXPECT_EQ(card_.atc(0), 6);
  EXPECT_EQ(Apdu("80A80000088306015611223344"), "6985");  // once per selection
  EXPECT_EQ(Apdu("80CA9F3600"), "9F360200069000");
  EXPECT_EQ(Apdu("80CA9F3605"), "9F360200069000");
  EXPECT_EQ(Apdu("80CA9F3603"), "6C05");
  EXPECT_EQ(Apdu("80CA9F7900"),
            "9F7906000000001000"
            "9000");
  EXPECT_EQ(Apdu("80CA9F1700"), "6A88");
  // A new selection starts a new transaction.
  StartTransaction();
  EXPECT_EQ(card_.atc(0), 7);
  EXPECT_EQ(card_.Summary(), "small,atc=0007");
  // A power-on does not give the counter back.
  card_.Reset();
  EXPECT_EQ(Apdu("80CA9F3600"), "6985");
  EXPECT_EQ(card_.atc(0), 7);
}

// FNV-1a, 64 bits, as sim/README.md defines the stand-in cryptogram.
std::string Fnv(const std::string& hex) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (std::uint8_t b : H(hex)) {
    hash ^= b;
    hash *= 0x100000001B3ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(hash));
  return text;
}

TEST_F(BankSession, GenerateAcAnswersFormatOneAndFollowsTheTransaction) {
  const std::string cdol =
      "000000000100"
      "260101";                                  // 9F02 06, 9A 03
  EXPECT_EQ(Apdu("80AE800009" + cdol), "6985");  // no processing options yet
  StartTransaction();
  EXPECT_EQ(Apdu("80AE80000A" + cdol + "00"), "6700");  // CDOL1 asks for 9 bytes
  EXPECT_EQ(Apdu("80AEC00009" + cdol), "6A86");         // no such cryptogram type
  EXPECT_EQ(Apdu("80AE800109" + cdol), "6A86");
  // ARQC: 80 0D { CID 80, ATC 0006, cryptogram, IAD 0701 }.
  const std::string key = "00112233445566778899AABBCCDDEEFF";
  const std::string arqc = Fnv(key + cdol +
                               "7C00"
                               "0006"
                               "80");
  EXPECT_EQ(Apdu("80AE800009" + cdol + "00"), "800D800006" + arqc +
                                                  "0701"
                                                  "9000");
  // Another ARQC cannot follow; the second cryptogram completes the
  // transaction, and nothing comes after it.
  EXPECT_EQ(Apdu("80AE800009" + cdol), "6985");
  const std::string tc = Fnv(key + cdol +
                             "7C00"
                             "0006"
                             "40");
  EXPECT_NE(tc, arqc);
  EXPECT_EQ(Apdu("80AE400009" + cdol), "800D400006" + tc +
                                           "0701"
                                           "9000");
  EXPECT_EQ(Apdu("80AE000009" + cdol), "6985");

  // An online card asked for a TC answers an ARQC; asked for an AAC, an AAC.
  StartTransaction();
  EXPECT_EQ(Apdu("80AE400009" + cdol).substr(0, 10), "800D800007");
  StartTransaction();
  EXPECT_EQ(Apdu("80AE000009" + cdol).substr(0, 10), "800D000008");
  EXPECT_EQ(Apdu("80AE400009" + cdol), "6985");
}

TEST(BankDecision, ApprovingAndDecliningCards) {
  std::string approve = kProfile;
  approve.replace(approve.find("\"atc\""), 0, "\"decision\": \"approve\", ");
  BankApplication approving(std::make_shared<const BankProfile>(Profile(approve)));
  std::string decline = kProfile;
  decline.replace(decline.find("\"atc\""), 0, "\"decision\": \"decline\", ");
  BankApplication declining(std::make_shared<const BankProfile>(Profile(decline)));
  for (BankApplication* card : {&approving, &declining}) {
    ASSERT_EQ(ToHex(card->Transmit(H("00A4040007F0000001560101"))).substr(0, 4), "6F1D");
    ASSERT_EQ(ToHex(card->Transmit(H("80A80000088306015611223344"))), std::string(kGpoAnswer) + "9000");
  }
  EXPECT_EQ(ToHex(approving.Transmit(H("80AE400009000000000100260101"))).substr(0, 10), "800D400006");
  EXPECT_EQ(ToHex(declining.Transmit(H("80AE800009000000000100260101"))).substr(0, 10), "800D000006");
}

class DirectoryGetResponse : public BankSession {
 protected:
  DirectoryGetResponse() : BankSession(std::string(kProfile).replace(1, 0, "\"get_response\": \"directory\",")) {}
};

TEST_F(DirectoryGetResponse, HoldsTheDirectoryAnswerOnly) {
  const std::string fci = kDirectoryFci;  // 28 bytes
  EXPECT_EQ(Apdu("00C0000000"), "6985");  // nothing waits
  EXPECT_EQ(Apdu("00A404000E315041592E5359532E4444463031"), "611C");
  EXPECT_EQ(Apdu("00C000001D"), "6C1C");  // more than waits
  EXPECT_EQ(Apdu("00C0000010"), fci.substr(0, 32) + "610C");
  EXPECT_EQ(Apdu("00C000000C"), fci.substr(32) + "9000");
  EXPECT_EQ(Apdu("00C0000000"), "6985");
  // Another command drops what waits.
  EXPECT_EQ(Apdu("00A404000E315041592E5359532E4444463031"), "611C");
  EXPECT_EQ(Apdu("00B2010C00"), std::string(kDirectoryRecord) + "9000");
  EXPECT_EQ(Apdu("00C000001C"), "6985");
  EXPECT_EQ(Apdu("00A404000E315041592E5359532E4444463031"), "611C");
  EXPECT_EQ(Apdu("00C00000"
                 "1C"),
            fci + "9000");
  EXPECT_EQ(Apdu("00C10000"
                 "1C"),
            "6D00");
  EXPECT_EQ(Apdu("00C0010000"), "6A86");
  // The application answers at once.
  StartTransaction();
}

class TZeroThroughout : public BankSession {
 protected:
  TZeroThroughout()
      : BankSession(std::string(kProfile).replace(1, 0, "\"get_response\": \"all\", \"exact_le\": true,")) {}
};

TEST_F(TZeroThroughout, EveryAnswerToDataIsFetchedAndLeMustBeExact) {
  EXPECT_EQ(Apdu("00A4040007F0000001560101"), "611F");
  EXPECT_EQ(Apdu("00C000001F"), std::string(kApplicationFci) + "9000");
  EXPECT_EQ(Apdu("80A80000088306015611223344"), "610C");
  EXPECT_EQ(Apdu("00C0000000"), std::string(kGpoAnswer) + "9000");
  // Le 00 is taken as 256 bytes: the card names the record's length.
  EXPECT_EQ(Apdu("00B2010C00"), "6C11");
  EXPECT_EQ(Apdu("00B2010C11"), std::string(kRecord11) + "9000");
  // GET DATA carries no data: answered at once.
  EXPECT_EQ(Apdu("80CA9F3605"), "9F360200069000");
  EXPECT_EQ(Apdu("80AE800009000000000100260101"), "610F");
  EXPECT_EQ(Apdu("00C000000F").substr(0, 10), "800D800006");
}

TEST(BankProfileFile, RefusesWhatItCannotUse) {
  const struct {
    const char* json;
    const char* reason;
  } cases[] = {
      {"[]", "needs a JSON object"},
      {R"({"applications": [{"aid": "F000000156", "aip": "7C00"}]})", "needs a \"name\""},
      {R"({"name": "a b", "applications": [{"aid": "F000000156", "aip": "7C00"}]})", "name: takes letters"},
      {R"({"name": "x"})", "needs a list of \"applications\""},
      {R"({"name": "x", "applications": [{"aip": "7C00"}]})", "applications[0]: needs \"aid\""},
      {R"({"name": "x", "applications": [{"aid": "F00000015G", "aip": "7C00"}]})", "applications[0].aid: 'F00000015G'"},
      {R"({"name": "x", "applications": [{"aid": "F000000156", "aip": "7C"}]})", "applications[0].aip: needs 2 bytes"},
      {R"({"name": "x", "applications": [{"aid": "F000000156", "aip": "7C00", "afl": "080101"}]})",
       "4 bytes per entry"},
      {R"({"name": "x", "applications": [{"aid": "F000000156", "aip": "7C00", "pdol": "9F"}]})", "no data object list"},
      {R"({"name": "x", "applications": [{"aid": "F000000156", "aip": "7C00", "records": {"31": [{}]}}]})",
       "records.31: an SFI is 1 to 30"},
      {R"({"name": "x", "applications": [{"aid": "F000000156", "aip": "7C00", "records": {"1": [{"5F": "00"}]}}]})",
       "'5F' is not a one- or two-byte BER tag"},
      {R"({"name": "x", "get_response": "sometimes", "applications": [{"aid": "F000000156", "aip": "7C00"}]})",
       "get_response: is none, directory or all"},
      {R"({"name": "x", "applications": [{"aid": "F000000156", "aip": "7C00", "data": {"9F36": "0001"}}]})",
       "the transaction counter is the card's own"},
      {"{", "test: "},
  };
  for (const auto& c : cases) {
    BankProfile profile;
    std::string error;
    EXPECT_FALSE(ParseBankProfile(c.json, "test", &profile, &error)) << c.json;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  std::string error;
  EXPECT_EQ(ResolveBankProfile("no-such-profile", &error), "");
  EXPECT_NE(error.find("no profile named no-such-profile"), std::string::npos) << error;
}

// The shipped profiles: each loads, and each has what it is there for.
TEST(BankProfileFile, ShippedProfiles) {
  std::string error;
  BankProfile two_sfi;
  ASSERT_TRUE(LoadBankProfile(ResolveBankProfile("pboc-debit-two-sfi", &error), &two_sfi, &error)) << error;
  ASSERT_EQ(two_sfi.applications.size(), 1u);
  EXPECT_EQ(ToHex(two_sfi.applications[0].afl), "0801020010010100");
  EXPECT_EQ(two_sfi.applications[0].cdol1.size(), 27u);
  BankProfile no_psn;
  ASSERT_TRUE(LoadBankProfile(ResolveBankProfile("pboc-credit-no-psn", &error), &no_psn, &error)) << error;
  for (const auto& [sfi, file] : no_psn.applications[0].records) {
    for (const Bytes& record : file) EXPECT_EQ(ToHex(record).find("5F34"), std::string::npos);
  }
  BankProfile t0;
  ASSERT_TRUE(LoadBankProfile(ResolveBankProfile("pboc-t0-directory", &error), &t0, &error)) << error;
  EXPECT_EQ(t0.get_response, GetResponseMode::kDirectory);
  EXPECT_EQ(t0.directory_records.size(), 2u);

  // Every file in the directory loads.
  const std::string one = ResolveBankProfile("pboc-t0-all", &error);
  const std::size_t slash = one.rfind('/');
  ASSERT_NE(slash, std::string::npos) << error;
  const std::string directory = one.substr(0, slash + 1);
  DIR* dir = opendir(directory.c_str());
  ASSERT_NE(dir, nullptr);
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() < 6 || name.compare(name.size() - 5, 5, ".json") != 0) continue;
    BankProfile profile;
    EXPECT_TRUE(LoadBankProfile(directory + name, &profile, &error)) << error;
    EXPECT_EQ(profile.name + ".json", name);
    ++count;
  }
  closedir(dir);
  EXPECT_GE(count, 3);
}

// ------------------------------------------------------------ in the seats

class BankSeats : public ::testing::Test {
 protected:
  struct Answer {
    std::uint16_t status = 0xFFFF;
    std::string data;
  };

  Answer Command(std::uint16_t code, const std::string& data_hex) {
    const Bytes frame = EncodeCommandFrame(code, H(data_hex));
    reader_.OnHostBytes(frame.data(), frame.size(), 9600, now_);
    const Bytes line = reader_.Service(9600, now_);
    Answer answer;
    if (line.size() < 12 || line.front() != kStx || line.back() != kEtx) {
      ADD_FAILURE() << "no answer frame: " << ToHex(line);
      return answer;
    }
    std::size_t length = 0;
    for (int i = 1; i <= 4; ++i) length = length << 4 | (line[i] & 0x0F);
    Bytes body;
    for (std::size_t i = 0; i < length; ++i) {
      body.push_back(static_cast<std::uint8_t>(line[5 + 2 * i] << 4 | (line[6 + 2 * i] & 0x0F)));
    }
    answer.status = static_cast<std::uint16_t>(body[0] << 8 | body[1]);
    answer.data = ToHex(body.data() + 2, body.size() - 2);
    return answer;
  }
  std::string Apdu(std::uint8_t seat, const std::string& apdu) {
    char prefix[3];
    std::snprintf(prefix, sizeof prefix, "%02X", seat);
    const Answer a = Command(0x3226, prefix + apdu);
    return a.status == 0
               ? a.data
               : "status " +
                     ToHex(Bytes{static_cast<std::uint8_t>(a.status >> 8), static_cast<std::uint8_t>(a.status)});
  }
  std::string Control(const std::string& line) { return reader_.HandleControl(line); }

  VirtualReader reader_;
  TimePoint now_{};
};

TEST_F(BankSeats, ContactSeatPowersOnWithTheProfileAndStartsAfresh) {
  // A profile given by its path, with its own answer to reset.
  const std::string path = ::testing::TempDir() + "kpdev-bank-profile.json";
  {
    std::ofstream out(path);
    out << std::string(kProfile).replace(1, 0, "\"atr\": \"3B 02 14 50\",");
  }
  ASSERT_EQ(Control("insert 0 bank profile=" + path), "ok");
  EXPECT_EQ(Command(0x3221, "00").status, 0x1002);
  EXPECT_EQ(Apdu(0, "00A404000E315041592E5359532E4444463031"), "status 1002");
  const Answer on = Command(0x3222, "000A00");
  EXPECT_EQ(on.status, 0x0000);
  EXPECT_EQ(on.data, "3B021450");
  EXPECT_EQ(Command(0x3232, "00").data, "01");  // a contact CPU card
  EXPECT_EQ(Apdu(0, "00A404000E315041592E5359532E4444463031"), std::string(kDirectoryFci) + "9000");
  EXPECT_EQ(Apdu(0, "00A4040007F0000001560101"), std::string(kApplicationFci) + "9000");
  EXPECT_EQ(Apdu(0, "80A80000088306015611223344"), std::string(kGpoAnswer) + "9000");
  EXPECT_EQ(Control("cards"), "ok 0=bank:powered,small,atc=0006");
  // A new power-on ends the session: processing options need a selection.
  ASSERT_EQ(Command(0x3222, "000A00").status, 0x0000);
  EXPECT_EQ(Apdu(0, "80A80000088306015611223344"), "6985");
  EXPECT_EQ(Command(0x3223, "00").status, 0x0000);
  EXPECT_EQ(Control("cards"), "ok 0=bank:unpowered,small,atc=0006");
  std::remove(path.c_str());

  // By name; and the contactless kind answers no power-on.
  EXPECT_EQ(Control("insert 1 bank profile=pboc-credit-no-psn"), "ok");
  EXPECT_EQ(Command(0x3222, "000A01").data, "3B680000804B5042414E4B31");
  EXPECT_EQ(Control("insert 2 rf-bank profile=pboc-credit-no-psn"), "ok");
  EXPECT_EQ(Command(0x3222, "000A02").status, 0x2006);
  EXPECT_EQ(Control("insert 3 bank profile=pboc-credit-no-psn extra"),
            "err usage: insert SEAT bank profile=NAME|PATH ('extra'?)");
}

TEST_F(BankSeats, FieldActivatesTheCardAsAProcessorCard) {
  ASSERT_EQ(Control("insert 255 rf-bank profile=pboc-credit-no-psn"), "ok");
  EXPECT_EQ(Apdu(255, "00A404000E315041592E5359532E4444463031"), "status 1002");
  // Type 20, UID 3A9C5107, ATS 0675778102 80.
  const Answer active = Command(0x3224, "0001");
  EXPECT_EQ(active.status, 0x0000);
  EXPECT_EQ(active.data, "20043A9C510706067577810280");
  EXPECT_EQ(Command(0x3221, "FF").status, 0x1003);
  // Directory of the credit card: 4F F0000001560102, label "PBOC CREDIT".
  EXPECT_EQ(Apdu(255, "00A404000E315041592E5359532E4444463031"), "6F15840E315041592E5359532E4444463031A5038801019000");
  EXPECT_EQ(Apdu(255, "00B2010C00"),
            "701B61194F07F0000001560102500B"
            "50424F4320435245444954"
            "8701019000");
  // The store-card commands find no sector card here.
  EXPECT_EQ(Command(0x3241, "0001").status, 0x2006);
  // A halt ends the session; a new activation starts afresh.
  EXPECT_EQ(Command(0x3225, "0000").status, 0x0000);
  EXPECT_EQ(Apdu(255, "00B2010C00"), "status 1002");
  ASSERT_EQ(Command(0x3224, "0001").status, 0x0000);
  EXPECT_EQ(Apdu(255, "00B2010C00"), "6A82");
  EXPECT_EQ(Control("cards"), "ok 255=rf-bank:3A9C5107,active,pboc-credit-no-psn,atc=0001");
}

}  // namespace
}  // namespace kpsim
