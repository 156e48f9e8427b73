// The t0 reader's identity module in-process: the exact answers to find,
// select and read, the text block of a card, and the order the module
// insists on.

#include <gtest/gtest.h>

#include "core/virtual_reader.h"

namespace kpsim {
namespace {

const Bytes kFind{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x22};
const Bytes kSelect{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x02, 0x21};
const Bytes kRead{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x01, 0x32};

const Bytes kFound{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x08, 0x00, 0x00, 0x9F, 0x00, 0x00, 0x00, 0x00, 0x97};
const Bytes kSelected{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x0C, 0x00, 0x00, 0x90,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x9C};
// Failure answers: length 00 04, status 00 00 SW, check = 04 ^ SW.
Bytes Failure(std::uint8_t sw) {
  return {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x04, 0x00, 0x00, sw, static_cast<std::uint8_t>(0x04 ^ sw)};
}

// A field of the text block: UCS-2 little-endian, padded with 20 00.
void PutField(Bytes* block, std::size_t offset, std::size_t width, const std::u16string& text) {
  for (std::size_t i = 0; i < width; ++i) {
    const char16_t c = i < text.size() ? text[i] : u' ';
    (*block)[offset + 2 * i] = static_cast<std::uint8_t>(c & 0xFF);
    (*block)[offset + 2 * i + 1] = static_cast<std::uint8_t>(c >> 8);
  }
}

struct CardTexts {
  std::u16string name, sex, nation, birth, address, number, authority, validity;
};

Bytes TextBlock(const CardTexts& t) {
  Bytes block(256);
  PutField(&block, 0, 15, t.name);
  PutField(&block, 30, 1, t.sex);
  PutField(&block, 32, 2, t.nation);
  PutField(&block, 36, 8, t.birth);
  PutField(&block, 52, 35, t.address);
  PutField(&block, 122, 18, t.number);
  PutField(&block, 158, 15, t.authority);
  PutField(&block, 188, 16, t.validity);
  PutField(&block, 220, 18, u"");
  return block;
}

class IdentityTest : public ::testing::Test {
 protected:
  IdentityTest() : reader_(Options()) {}
  static ReaderOptions Options() {
    ReaderOptions options;
    options.family = Family::kT0;
    return options;
  }
  Bytes Send(const Bytes& bytes) {
    reader_.OnHostBytes(bytes.data(), bytes.size(), 9600, now_);
    return reader_.Service(9600, now_);
  }
  std::string Control(const std::string& line) { return reader_.HandleControl(line); }

  VirtualReader reader_;
  TimePoint now_{};
};

TEST_F(IdentityTest, SampleCardIsFoundSelectedAndRead) {
  ASSERT_EQ(Control("insert 255 id"), "ok");
  EXPECT_EQ(Control("cards"), "ok 255=id:350102198803120511");
  EXPECT_EQ(Send(kFind), kFound);
  EXPECT_EQ(Send(kSelect), kSelected);

  const Bytes answer = Send(kRead);
  // 7-byte header, then 3 + 4 + 256 + 1024 + 1 = 1288 (05 08) bytes.
  ASSERT_EQ(answer.size(), 7u + 1288u);
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 14),
            (Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x05, 0x08, 0x00, 0x00, 0x90, 0x01, 0x00, 0x04, 0x00}));
  const Bytes text(answer.begin() + 14, answer.begin() + 14 + 256);
  EXPECT_EQ(text, TextBlock({u"陈思远", u"1", u"01", u"19880312", u"江南省临川市青石区梧桐路18号3栋502室",
                             u"350102198803120511", u"临川市公安局青石分局", u"2016031220360312"}));
  std::uint8_t check = 0;
  for (std::size_t i = 5; i + 1 < answer.size(); ++i) check ^= answer[i];
  EXPECT_EQ(answer.back(), check);

  // The card stays: the sequence can be run again.
  EXPECT_EQ(Send(kFind), kFound);
}

TEST_F(IdentityTest, FieldsComeFromTheInsertRequest) {
  ASSERT_EQ(Control("insert 3 id name=Ålice sex=2 nation=43 birth=20000229 address=北门街1号 number=11010520000229002X "
                    "authority=东城分局 validity=20200301长期 photo=hex:0A0B0C"),
            "ok");
  Send(kFind);
  Send(kSelect);
  const Bytes answer = Send(kRead);
  // 3 + 4 + 256 + 3 + 1 = 267 = 01 0B.
  ASSERT_EQ(answer.size(), 7u + 267u);
  EXPECT_EQ(Bytes(answer.begin() + 5, answer.begin() + 14),
            (Bytes{0x01, 0x0B, 0x00, 0x00, 0x90, 0x01, 0x00, 0x00, 0x03}));
  EXPECT_EQ(Bytes(answer.begin() + 14, answer.begin() + 270),
            TextBlock({u"Ålice", u"2", u"43", u"20000229", u"北门街1号", u"11010520000229002X", u"东城分局",
                       u"20200301长期"}));
  EXPECT_EQ(Bytes(answer.begin() + 270, answer.end() - 1), (Bytes{0x0A, 0x0B, 0x0C}));

  for (const char* bad : {"insert 1 id name=一二三四五六七八九十一二三四五六", "insert 1 id sex=12",
                          "insert 1 id nation", "insert 1 id colour=red", "insert 1 id photo=1025",
                          "insert 1 id leave=later", "insert 1 id name=\xC3", "insert 1 id name=\xF0\x9F\x98\x80"}) {
    EXPECT_EQ(Control(bad).rfind("err ", 0), 0u) << bad;
  }
  EXPECT_EQ(reader_.seats().Occupied(), 1);
}

TEST_F(IdentityTest, ModuleInsistsOnACardAndOnFindSelectRead) {
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

TEST_F(IdentityTest, CardThatLeavesAfterTheSelectCannotBeRead) {
  Control("insert 255 id leave=select");
  EXPECT_EQ(Send(kFind), kFound);
  EXPECT_EQ(Send(kSelect), kSelected);
  EXPECT_EQ(Send(kRead), Failure(0x41));
  EXPECT_EQ(Control("cards"), "ok");

  Control("insert 255 id leave=find");
  EXPECT_EQ(Send(kFind), kFound);
  EXPECT_EQ(Send(kSelect), Failure(0x81));
  EXPECT_EQ(Send(kFind), Failure(0x80));
}

TEST_F(IdentityTest, BadCheckByteAndUnknownCommandAreRefused) {
  Control("insert 255 id");
  Bytes bad(kFind.begin(), kFind.end() - 1);
  bad.push_back(0x23);
  EXPECT_EQ(Send(bad), Failure(0x10));
  // 00 03 ^ 40 05 = 46.
  EXPECT_EQ(Send({0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x40, 0x05, 0x46}), Failure(0x21));
  // Split anywhere, a command waits for its last byte.
  EXPECT_TRUE(Send(Bytes(kFind.begin(), kFind.begin() + 6)).empty());
  EXPECT_EQ(Send(Bytes(kFind.begin() + 6, kFind.end())), kFound);
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 0u);

  // Answers take faults; other families do not hear the module.
  Control("fault short");
  EXPECT_EQ(Send(kFind), Bytes(kFound.begin(), kFound.begin() + 7));
  reader_.SetFamily(Family::kT1);
  EXPECT_TRUE(Send(kFind).empty());
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 10u);
}

}  // namespace
}  // namespace kpsim
