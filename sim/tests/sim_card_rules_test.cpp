// Card rules the host library never reaches (commands of another family,
// seats holding the wrong kind of card, a card locked by wrong answers,
// refused profile files and APDUs, the identity module's command order) and
// the control requests that set up and show the chips, in process.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cards/apdu_engine.h"
#include "cards/bank_profile.h"
#include "core/frame.h"
#include "core/virtual_reader.h"
#include "sim_client.h"

namespace kpsim {
namespace {

struct Answer {
  std::string status;  // four hex digits
  std::string data;    // hex
};

bool operator==(const Answer& a, const Answer& b) { return a.status == b.status && a.data == b.data; }
std::ostream& operator<<(std::ostream& out, const Answer& a) { return out << a.status << "/" << a.data; }

Answer Ok(const std::string& data = {}) { return {"0000", data}; }
Answer Status(const std::string& status) { return {status, {}}; }

class ProcessorCard : public Card {
 public:
  std::string Kind() const override { return "processor"; }
};

class MemoryChipTest : public ::testing::Test {
 protected:
  explicit MemoryChipTest(Family family = Family::kT1) {
    ReaderOptions options;
    options.family = family;
    reader_ = std::make_unique<VirtualReader>(options);
  }

  // Sends the command with the data given as hex and decodes the answer
  // frame: STX, L as four nibble characters, 2L body characters, checksum,
  // ETX.
  Answer Run(std::uint16_t code, const std::string& hex) {
    Bytes data;
    EXPECT_TRUE(FromHex(hex, &data)) << hex;
    const Bytes frame = kp::wire::EncodeFrame(code, data);
    reader_->OnHostBytes(frame.data(), frame.size(), 9600, now_);
    const Bytes wire = reader_->Service(9600, now_);
    if (wire.size() < 12 || wire.front() != 0x02 || wire.back() != 0x03) return {"none", ToHex(wire)};
    std::string text;
    for (std::size_t i = 5; i + 3 < wire.size(); ++i) text += "0123456789ABCDEF"[wire[i] & 0x0F];
    return {text.substr(0, 4), text.substr(4)};
  }

  std::string Control(const std::string& line) { return reader_->HandleControl(line); }
  std::string Dump(const std::string& what) { return Control("dump " + what); }
  void Insert(const std::string& words) { ASSERT_EQ(Control("insert " + words), "ok") << words; }

  std::unique_ptr<VirtualReader> reader_;
  TimePoint now_{};
};

class TypeZeroMemoryChipTest : public MemoryChipTest {
 protected:
  TypeZeroMemoryChipTest() : MemoryChipTest(Family::kT0) {}
};

TEST_F(MemoryChipTest, CommandsGoToTheChipInTheAddressedSeat) {
  // Empty seat, processor card, no seat byte at all.
  EXPECT_EQ(Run(0x3235, "0000000004"), Status("1001"));
  reader_->seats().Insert(3, std::make_unique<ProcessorCard>());
  EXPECT_EQ(Run(0x3235, "0300000004"), Status("2006"));
  EXPECT_EQ(Run(0x3235, ""), Status("2005"));

  Insert("7 at24c02 data=0102");
  EXPECT_EQ(Run(0x3235, "0700000002"), Ok("0102"));
  EXPECT_EQ(Run(0x3235, "0000000002"), Status("1001"));
  EXPECT_EQ(Control("cards"), "ok 3=processor 7=at24c02");
}

TEST_F(MemoryChipTest, TypeZeroOnlyCommandsAreUnknownToTheOtherFamilies) {
  Insert("0 sle4442");
  for (std::uint16_t code : {0x3237, 0x323D, 0x323E, 0x323F, 0x3240}) {
    EXPECT_EQ(Run(code, "00").status, "1005") << std::hex << code;
  }
  reader_->SetFamily(Family::kT61);
  EXPECT_EQ(Run(0x3237, "00").status, "1005");
  reader_->SetFamily(Family::kT0);
  EXPECT_EQ(Run(0x3237, "00"), Ok("000000"));
}

TEST_F(TypeZeroMemoryChipTest, At88sc1608AuthenticationLocksAfterFourWrongAnswers) {
  Insert("0 at88sc1608 fused=1 auth=1");
  for (const char* status : {"6003", "6003", "6003", "3006"}) {
    ASSERT_EQ(Run(0x323D, "000000000000000000"), Ok());
    EXPECT_EQ(Run(0x323E, "000000000000000000"), Status(status));
  }
  EXPECT_EQ(Run(0x323D, "000000000000000000"), Status("3006"));
  EXPECT_EQ(Run(0x323C, "0010"), Answer({"3006", "00"}));
  // Without auth=1 the card takes passwords after the fuse without it.
  Insert("0 at88sc1608 fused=1 pwd0=123456");
  EXPECT_EQ(Run(0x3234, "00030000123456"), Ok());
}

TEST_F(MemoryChipTest, InsertSettingsAreChecked) {
  const std::string bad[] = {"insert 0 sle4442 psc=1234",        "insert 0 sle4442 tries=4",
                             "insert 0 sle4442 protect=32",      "insert 0 sle4442 protect=3-1",
                             "insert 0 sle4442 colour=red",      "insert 0 sle4442 psc",
                             "insert 0 sle4442 tries=1 tries=2", "insert 0 sle4428 psc=123456",
                             "insert 0 at24c02 data=ABC",        "insert 0 at24c01 data=" + std::string(2 * 129, 'A'),
                             "insert 0 at88sc102 pwd0=123456",   "insert 0 at88sc102 pwd3=1234",
                             "insert 0 at88sc1608 key=0102",     "insert 0 at88sc1608 pwd16=123456"};
  for (const std::string& line : bad) {
    EXPECT_EQ(Control(line).rfind("err ", 0), 0u) << line;
  }
  EXPECT_EQ(reader_->seats().Occupied(), 0);
  EXPECT_EQ(Control("insert 0 sle4442 protect=0-1,7,30-31"), "ok");
  EXPECT_EQ(Dump("0 protection 0 8"), "ok 0000010101010100");
}

TEST(MemoryChipProcess, CardsInsertedAtStartUp) {
  SimProcess sim(KPDEV_SIM_PATH, {"--insert", "0 sle4442 psc=010203", "--insert", "2 at24c02 data=AA"});
  Control control(sim.control_port());
  EXPECT_EQ(control.Ok("cards"), "0=sle4442:tries=3 2=at24c02");
  EXPECT_EQ(control.Ok("dump 2 memory 0 1"), "AA");
}

TEST(MemoryChipProcess, ABadInsertStopsTheStart) {
  EXPECT_THROW(SimProcess(KPDEV_SIM_PATH, {"--insert", "0 sle4442 psc=01"}), SimError);
}

// Bank-card profile files are checked when loaded, each refusal naming what
// is wrong.
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

// A profile asked for by a name that is not there, or not named at all,
// is answered with the names there are.
TEST(BankProfileFile, NamesTheProfilesThereAre) {
  char directory[] = "/tmp/kpdev-profiles-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string dir = directory;
  for (const char* file : {"alpha.json", "beta.json", "notes.txt"}) {
    std::FILE* f = std::fopen((dir + "/" + file).c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  ASSERT_EQ(mkdir((dir + "/gamma.json").c_str(), 0700), 0);  // a directory is no profile
  setenv("KPDEV_SIM_PROFILES", directory, 1);
  const std::vector<std::string> names = BankProfileNames();
  std::string error;
  EXPECT_EQ(ResolveBankProfile("alfa", &error), "");
  const std::string list = BankProfileList();
  unsetenv("KPDEV_SIM_PROFILES");
  for (const char* file : {"alpha.json", "beta.json", "notes.txt"}) std::remove((dir + "/" + file).c_str());
  rmdir((dir + "/gamma.json").c_str());
  rmdir(directory);

  EXPECT_NE(std::find(names.begin(), names.end(), "alpha"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "beta"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "notes"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "gamma"), names.end());
  // Sorted, so the two made here (before every "pboc-" one) lead.
  EXPECT_EQ(list.rfind("alpha, beta", 0), 0u) << list;
  EXPECT_NE(error.find("no profile named alfa"), std::string::npos) << error;
  EXPECT_NE(error.find("profiles: alpha, beta"), std::string::npos) << error;
}

// The processor cards' file system refuses what it cannot do with the
// status word a card would give.
std::string Apdu(ApduEngine& engine, Rng& rng, const std::string& apdu) {
  Bytes bytes;
  EXPECT_TRUE(FromHex(apdu, &bytes)) << apdu;
  return ToHex(engine.Transmit(bytes, rng));
}

TEST(ApduEngine, RefusesWhatItCannotDo) {
  ApduEngine engine({}, false);
  Rng rng(1);
  const struct {
    const char* apdu;
    const char* answer;
  } cases[] = {
      {"00A40000029999", "6A82"},      // no such file
      {"00A4040003A0000000", "6A82"},  // no such name
      {"00A4050002", "6A86"},          // P1 05
      {"00A40001023F00", "6A86"},      // P2 01
      {"00A4000003112233", "6700"},    // identifier of 3 bytes
      {"00A40000053F00", "6700"},      // Lc 5, 2 bytes follow
      {"00A4030C", "6A82"},            // the MF has no parent
      {"00B00000", "6700"},            // READ BINARY without Le
      {"00B0000004", "6986"},          // no EF selected
      {"00B0850004", "6A82"},          // no EF with SFI 5
      {"00B2010400", "6986"},          // READ RECORD without EF
      {"00B2011500", "6A86"},          // record mode other than "number in P1"
      {"0084000008AA", "6700"},        // data with GET CHALLENGE
      {"0084000005", "6700"},          // 5 bytes of challenge
      {"00C0000010", "6985"},          // nothing to fetch
      {"00CA9F3600", "6D00"},          // GET DATA is not implemented
      {"80A40000023F00", "6E00"},      // proprietary class
      {"00A4", "6700"},                // not even a header
  };
  for (const auto& c : cases) EXPECT_EQ(Apdu(engine, rng, c.apdu), c.answer) << c.apdu;
  EXPECT_EQ(Apdu(engine, rng, "00A40000020002"), "6F0E8002000C820102830200028801029000");
  EXPECT_EQ(Apdu(engine, rng, "00B0000004"), "6981");  // records, not transparent
  EXPECT_EQ(Apdu(engine, rng, "00A40000020001"), "6F0E80020010820101830200018801019000");
  EXPECT_EQ(Apdu(engine, rng, "00B2010400"), "6981");  // transparent, not records
}

// The type-0 identity module insists on a card and on find, select, read in
// that order; the library always keeps the order, so only this shows it.
const Bytes kFind{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x22};
const Bytes kSelect{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x02, 0x21};
const Bytes kRead{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x01, 0x32};

// Failure answers: length 00 04, status 00 00 SW, check = 04 ^ SW.
Bytes Failure(std::uint8_t sw) {
  return {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x04, 0x00, 0x00, sw, static_cast<std::uint8_t>(0x04 ^ sw)};
}

class IdentityModuleTest : public MemoryChipTest {
 protected:
  IdentityModuleTest() : MemoryChipTest(Family::kT0) {}
  Bytes Send(const Bytes& bytes) {
    reader_->OnHostBytes(bytes.data(), bytes.size(), 9600, now_);
    return reader_->Service(9600, now_);
  }
};

TEST_F(IdentityModuleTest, ModuleInsistsOnACardAndOnFindSelectRead) {
  EXPECT_EQ(Send(kFind), Failure(0x80));
  Control("insert 255 id photo=0");
  EXPECT_EQ(Send(kSelect), Failure(0x81));  // not found yet
  EXPECT_EQ(Send(kRead), Failure(0x41));    // not selected
  Send(kFind);
  EXPECT_EQ(Send(kRead), Failure(0x41));

  // Another card in its place was never found.
  Control("remove 255");
  Control("insert 255 id");
  EXPECT_EQ(Send(kSelect), Failure(0x81));

  // No photo: P = 0.
  Control("insert 255 id photo=0");
  Send(kFind);
  Send(kSelect);
  const Bytes answer = Send(kRead);
  ASSERT_EQ(answer.size(), 7u + 264u);
  EXPECT_EQ(Bytes(answer.begin() + 10, answer.begin() + 14), (Bytes{0x01, 0x00, 0x00, 0x00}));
}

}  // namespace
}  // namespace kpsim
