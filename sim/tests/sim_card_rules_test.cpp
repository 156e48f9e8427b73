// Card rules the host library never reaches (commands of another family,
// seats holding the wrong kind of card, a card locked by wrong answers) and
// the control requests that set up and show the chips, in process.

#include <gtest/gtest.h>

#include <string>

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
    const Bytes frame = EncodeCommandFrame(code, data);
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

}  // namespace
}  // namespace kpsim
