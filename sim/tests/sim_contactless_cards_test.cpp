// The contactless field: activation of both card kinds, halt, and the sector
// card's authentication, blocks, value blocks and keys, byte for byte.

#include <gtest/gtest.h>

#include "core/frame.h"
#include "core/virtual_reader.h"

namespace kpsim {
namespace {

Bytes H(const std::string& hex) {
  Bytes bytes;
  EXPECT_TRUE(FromHex(hex, &bytes)) << hex;
  return bytes;
}

const std::string kZeros(32, '0');
const std::string kDefaultTrailer = "FFFFFFFFFFFFFF078069FFFFFFFFFFFF";

class FieldTest : public ::testing::Test {
 protected:
  struct Answer {
    std::uint16_t status = 0xFFFF;
    std::string data;
  };

  explicit FieldTest(Family family = Family::kT1) {
    ReaderOptions options;
    options.family = family;
    reader_ = std::make_unique<VirtualReader>(options);
  }

  Bytes SendRaw(const Bytes& frame) {
    reader_->OnHostBytes(frame.data(), frame.size(), 9600, now_);
    return reader_->Service(9600, now_);
  }

  Answer Command(std::uint16_t code, const std::string& data_hex) {
    const Bytes line = SendRaw(EncodeCommandFrame(code, H(data_hex)));
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
  std::uint16_t Status(std::uint16_t code, const std::string& data_hex) { return Command(code, data_hex).status; }
  std::string Control(const std::string& line) { return reader_->HandleControl(line); }
  std::string Block(int block) { return Control("rf-block " + std::to_string(block)).substr(3); }

  // Activation and key A of sector `sector` (default keys).
  void Open(int sector) {
    ASSERT_EQ(Status(0x3241, "0001"), 0x0000);
    char data[8];
    std::snprintf(data, sizeof data, "%02X60", sector);
    ASSERT_EQ(Status(0x3242, std::string(data) + "FFFFFFFFFFFF"), 0x0000);
  }

  std::unique_ptr<VirtualReader> reader_;
  TimePoint now_{};
};

TEST_F(FieldTest, ActivationAnswersOfBothKinds) {
  EXPECT_EQ(Status(0x3224, "0001"), 0x1001);
  EXPECT_EQ(Status(0x3241, "0001"), 0x1001);
  EXPECT_EQ(Status(0x3225, "0000"), 0x1001);

  ASSERT_EQ(Control("insert 255 sector"), "ok");
  EXPECT_EQ(Status(0x3221, "FF"), 0x1002);
  // 0000, type 08, UID 5A3C9E12; checksum 08 ^ 5A ^ 3C ^ 9E ^ 12 = E2.
  EXPECT_EQ(ToHex(SendRaw(EncodeCommandFrame(0x3241, H("0001")))), "0230303037303030303038353A333C393E31323E3203");
  EXPECT_EQ(Status(0x3221, "FF"), 0x1003);
  // The processor-card activation of a sector card: no answer to select.
  EXPECT_EQ(Command(0x3224, "0001").data, "08045A3C9E1200");
  EXPECT_EQ(Status(0x3226, "FF00A4000C"), 0x2006);  // no APDUs
  EXPECT_EQ(Status(0x3224, "01"), 0x2005);
  EXPECT_EQ(Status(0x3241, "000100"), 0x2005);

  ASSERT_EQ(Control("insert 255 rf-cpu"), "ok");
  EXPECT_EQ(Status(0x3226, "FF00A4000C"), 0x1002);  // not activated
  EXPECT_EQ(Command(0x3224, "0001").data, "2007045A216C933E80050578807002");
  EXPECT_EQ(Command(0x3226, "FF00A4000C").data, "9000");
  EXPECT_EQ(Status(0x3241, "0001"), 0x2006);  // not a sector card
  EXPECT_EQ(Status(0x3242, "0060FFFFFFFFFFFF"), 0x2006);
  EXPECT_EQ(Control("cards"), "ok 255=rf-cpu:045A216C933E80,active");
  EXPECT_EQ(Status(0x3225, "0000"), 0x0000);
  EXPECT_EQ(Status(0x3221, "FF"), 0x3001);
  EXPECT_EQ(Status(0x3226, "FF00A4000C"), 0x1002);
  // A halted card wakes up at the next activation.
  EXPECT_EQ(Status(0x3224, "0001"), 0x0000);
  EXPECT_EQ(Status(0x3221, "FF"), 0x1003);
  ASSERT_EQ(Control("insert 255 rf-cpu uid=01020304 ats= type=28"), "ok");
  EXPECT_EQ(Command(0x3224, "0001").data, "28040102030400");

  for (const char* bad :
       {"insert 255 rf-cpu uid=0102", "insert 255 rf-cpu uid=010203040506", "insert 255 sector uid=01",
        "insert 255 sector keya=FFFF", "insert 255 sector order=big", "insert 255 sector ats=05"}) {
    EXPECT_EQ(Control(bad).rfind("err ", 0), 0u) << bad;
  }
}

TEST_F(FieldTest, AuthenticationOpensOneSectorAtATime) {
  ASSERT_EQ(Control("insert 255 sector"), "ok");
  EXPECT_EQ(Status(0x3242, "0160FFFFFFFFFFFF"), 0x1002);  // not activated yet
  ASSERT_EQ(Status(0x3241, "0001"), 0x0000);
  EXPECT_EQ(Status(0x3243, "04"), 0x3008);  // nothing authenticated
  // A wrong key sends the card back to idle.
  EXPECT_EQ(Status(0x3242, "0160FFFFFFFFFFFE"), 0x3005);
  EXPECT_EQ(Status(0x3242, "0160FFFFFFFFFFFF"), 0x1002);
  EXPECT_EQ(Status(0x3221, "FF"), 0x1002);

  Open(1);
  EXPECT_EQ(Control("cards"), "ok 255=sector:5A3C9E12,active,sector1");
  EXPECT_EQ(Command(0x3243, "04").data, kZeros);
  // Trailers hide key A.
  EXPECT_EQ(Command(0x3243, "07").data, "000000000000FF078069FFFFFFFFFFFF");
  EXPECT_EQ(Status(0x3243, "08"), 0x3008);
  EXPECT_EQ(Status(0x3243, "03"), 0x3008);
  // Key B (61, also 01) opens sector 2 and closes sector 1.
  EXPECT_EQ(Status(0x3242, "0261FFFFFFFFFFFF"), 0x0000);
  EXPECT_EQ(Status(0x3243, "04"), 0x3008);
  EXPECT_EQ(Command(0x3243, "08").data, kZeros);
  EXPECT_EQ(Status(0x3242, "0201FFFFFFFFFFFF"), 0x0000);
  EXPECT_EQ(Status(0x3242, "0200FFFFFFFFFFFF"), 0x0000);

  // Refused parameters: 2005 before the card is asked.
  for (const auto& [code, data] :
       std::vector<std::pair<std::uint16_t, std::string>>{{0x3242, "1060FFFFFFFFFFFF"},  // sector 16
                                                          {0x3242, "0262FFFFFFFFFFFF"},  // key type 62
                                                          {0x3242, "0260FFFFFFFFFF"},    // 5-byte key
                                                          {0x3243, "40"},                // block 64
                                                          {0x3243, ""},
                                                          {0x3244, "0800112233445566778899AABBCCDDEE"},  // 15 bytes
                                                          {0x3245, "0800"},
                                                          {0x3246, "08000000"},
                                                          {0x3247, "0800000000FF"},
                                                          {0x3249, "1060FFFFFFFFFFFF"}}) {
    EXPECT_EQ(Status(code, data), 0x2005) << std::hex << code << " " << data;
  }
  EXPECT_EQ(Command(0x3243, "08").data, kZeros);  // still authenticated

  // Halt ends the authentication; activation does too.
  EXPECT_EQ(Status(0x3225, "0000"), 0x0000);
  EXPECT_EQ(Status(0x3221, "FF"), 0x3001);
  EXPECT_EQ(Status(0x3243, "08"), 0x1002);
  ASSERT_EQ(Status(0x3241, "0001"), 0x0000);
  EXPECT_EQ(Status(0x3243, "08"), 0x3008);
}

TEST_F(FieldTest, BlocksAreWrittenInTheOpenSectorOnly) {
  ASSERT_EQ(Control("insert 255 sector"), "ok");
  Open(0);
  EXPECT_EQ(Command(0x3243, "00").data, "5A3C9E12EA0804004B5044455653494D");
  EXPECT_EQ(Status(0x3244, "0000112233445566778899AABBCCDDEEFF"),
            0x3007);  // manufacturer block
  EXPECT_EQ(Block(0), "5A3C9E12EA0804004B5044455653494D");
  EXPECT_EQ(Status(0x3244, "0500112233445566778899AABBCCDDEEFF"), 0x3008);

  Open(1);
  EXPECT_EQ(Status(0x3244, "0500112233445566778899AABBCCDDEEFF"), 0x0000);
  EXPECT_EQ(Command(0x3243, "05").data, "00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(Block(4), kZeros);
  EXPECT_EQ(Block(6), kZeros);
  EXPECT_EQ(Block(7), kDefaultTrailer);
  EXPECT_EQ(Block(9), kZeros);

  // A trailer written as a block changes the keys.
  EXPECT_EQ(Status(0x3244, "07A0A1A2A3A4A5FF078069B0B1B2B3B4B5"), 0x0000);
  EXPECT_EQ(Block(7), "A0A1A2A3A4A5FF078069B0B1B2B3B4B5");
  EXPECT_EQ(Status(0x3241, "0001"), 0x0000);
  EXPECT_EQ(Status(0x3242, "0160FFFFFFFFFFFF"), 0x3005);
  EXPECT_EQ(Status(0x3241, "0001"), 0x0000);
  EXPECT_EQ(Status(0x3242, "0161B0B1B2B3B4B5"), 0x0000);
}

TEST_F(FieldTest, ValueBlocksKeepTheirFormatAndTheT1OrderIsLeastSignificantFirst) {
  ASSERT_EQ(Control("insert 255 sector"), "ok");
  Open(1);
  // 1000 = 0x3E8: value, inverted value, value, block, ~block, block, ~block.
  EXPECT_EQ(Status(0x3246, "06E8030000"), 0x0000);
  EXPECT_EQ(Block(6), "E803000017FCFFFFE803000006F906F9");
  EXPECT_EQ(Command(0x3245, "06").data, "E8030000");
  EXPECT_EQ(Status(0x3247, "0664000000"),
            0x0000);  // + 100
  EXPECT_EQ(Block(6), "4C040000B3FBFFFF4C04000006F906F9");
  EXPECT_EQ(Status(0x3248, "06B0040000"),
            0x0000);  // - 1200
  EXPECT_EQ(Block(6), "9CFFFFFF630000009CFFFFFF06F906F9");
  EXPECT_EQ(Command(0x3245, "06").data, "9CFFFFFF");

  // The largest count plus one leaves 32 bits: refused, block untouched.
  EXPECT_EQ(Status(0x3246, "05FFFFFF7F"), 0x0000);
  EXPECT_EQ(Status(0x3247, "0501000000"), 0x2004);
  EXPECT_EQ(Block(5), "FFFFFF7F00000080FFFFFF7F05FA05FA");
  // A block that fails the check is no value; a trailer takes none.
  EXPECT_EQ(Status(0x3244, "04E803000017FCFFFFE803000004FB04FA"), 0x0000);
  EXPECT_EQ(Status(0x3245, "04"), 0x2007);
  EXPECT_EQ(Status(0x3247, "0401000000"), 0x2007);
  EXPECT_EQ(Status(0x3245, "07"), 0x2007);
  EXPECT_EQ(Status(0x3246, "0701000000"), 0x3007);
  EXPECT_EQ(Block(7), kDefaultTrailer);
  EXPECT_EQ(Status(0x3245, "0A"), 0x3008);  // sector 2
}

class FieldT61Test : public FieldTest {
 protected:
  FieldT61Test() : FieldTest(Family::kT61) {}
};

TEST_F(FieldT61Test, CountsTravelMostSignificantFirstUnlessTheCardSaysOtherwise) {
  ASSERT_EQ(Control("insert 255 sector"), "ok");
  Open(1);
  EXPECT_EQ(Status(0x3246, "06000003E8"), 0x0000);
  EXPECT_EQ(Block(6), "E803000017FCFFFFE803000006F906F9");
  EXPECT_EQ(Status(0x3248, "0600000001"), 0x0000);
  EXPECT_EQ(Command(0x3245, "06").data, "000003E7");

  ASSERT_EQ(Control("insert 255 sector order=lsb"), "ok");
  Open(1);
  EXPECT_EQ(Status(0x3246, "06E8030000"), 0x0000);
  EXPECT_EQ(Block(6), "E803000017FCFFFFE803000006F906F9");
}

}  // namespace
}  // namespace kpsim
