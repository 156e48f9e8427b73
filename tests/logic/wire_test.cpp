// The wire vocabulary the library, the virtual reader, the tool and the
// PC/SC driver share: the parts the frame tests do not reach (the
// firmware's check of a command frame, BER-TLV, strict hex, families).
// Expected bytes are written out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/bytes.h"
#include "wire/com_port.h"
#include "wire/family.h"
#include "wire/frame.h"
#include "wire/id_frame.h"
#include "wire/nibble.h"
#include "wire/tlv.h"

namespace {

using kp::wire::Bytes;

Bytes Chars(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(WireFrame, TheFirmwareChecksCommandCharacters) {
  using kp::wire::FrameCheck;
  struct Case {
    std::string chars;  // between STX and ETX
    std::size_t maxData;
    FrameCheck check;
    std::uint16_t word;
    Bytes data;
  };
  const std::vector<Case> cases = {
      {"0003311100"
       "20",
       8,
       FrameCheck::kOk,
       0x3111,
       {0x00}},
      {"00043226"
       "00:;"
       ";?",
       8,
       FrameCheck::kOk,
       0x3226,
       {0x00, 0xAB}},
      {"00023117"
       "26",
       0,
       FrameCheck::kOk,
       0x3117,
       {}},
      {"0003311100"
       "21",
       8,
       FrameCheck::kBadChecksum,
       0,
       {}},
      {"0004311100"
       "20",
       8,
       FrameCheck::kMalformed,
       0,
       {}},  // length disagrees
      {"0003311100"
       "2",
       8,
       FrameCheck::kMalformed,
       0,
       {}},  // odd count
      {"0003311@00"
       "20",
       8,
       FrameCheck::kMalformed,
       0,
       {}},  // not a nibble character
      {"0003311100"
       "20",
       0,
       FrameCheck::kMalformed,
       0,
       {}},                                            // more data than taken
      {"00023117", 8, FrameCheck::kMalformed, 0, {}},  // no checksum
  };
  for (const Case& c : cases) {
    const Bytes chars = Chars(c.chars);
    kp::wire::Frame frame;
    frame.word = 0xFFFF;
    EXPECT_EQ(kp::wire::DecodeFrameChars(chars.data(), chars.size(), c.maxData, &frame), c.check) << c.chars;
    if (c.check == FrameCheck::kOk) {
      EXPECT_EQ(frame.word, c.word) << c.chars;
      EXPECT_EQ(frame.data, c.data) << c.chars;
    } else {
      EXPECT_EQ(frame.word, 0xFFFF) << "a refused frame leaves the output alone: " << c.chars;
    }
  }
}

TEST(WireFrame, AnAnswerFrameCarriesItsBodysXor) {
  // status 9000, data 12: L = 3, XOR 90 ^ 00 ^ 12 = 82
  EXPECT_EQ(kp::wire::EncodeFrame(0x9000, Bytes{0x12}), Chars("\x02"
                                                              "000390001282\x03"));
  EXPECT_EQ(kp::wire::EncodeBody(Bytes{}), Chars("\x02"
                                                 "000000\x03"));
}

TEST(WireIdFrame, CommandsCarryTheXorOfLengthAndCommand) {
  struct Case {
    std::uint16_t command;
    Bytes frame;
  };
  const std::vector<Case> cases = {
      {0x2001, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x22}},  // find card
      {0x2002, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x02, 0x21}},  // select card
      {0x3001, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x01, 0x32}},  // read text and photo
      {0xFFFF, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0xFF, 0xFF, 0x03}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(kp::wire::EncodeIdCommand(c.command), c.frame);
    EXPECT_TRUE(kp::wire::IdCheckOk(c.frame.data(), c.frame.size()));
  }
  EXPECT_EQ(kp::wire::kIdFindCard, 0x2001);
  EXPECT_EQ(kp::wire::kIdSelectCard, 0x2002);
  EXPECT_EQ(kp::wire::kIdReadCard, 0x3001);
}

TEST(WireIdFrame, AnswersAnnounceTheirBodyAndEndInTheirCheck) {
  // The success answers to find and select end in 97 and 9C: the XOR of
  // their length bytes, status bytes and payload.
  const Bytes found = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x08, 0x00, 0x00, 0x9F, 0x00, 0x00, 0x00, 0x00, 0x97};
  const Bytes selected = {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x0C, 0x00, 0x00, 0x90,
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x9C};
  EXPECT_EQ(kp::wire::IdAnnounced(found.data()), 8u);
  EXPECT_EQ(kp::wire::IdAnnounced(selected.data()), 12u);
  EXPECT_TRUE(kp::wire::IdCheckOk(found.data(), found.size()));
  EXPECT_TRUE(kp::wire::IdCheckOk(selected.data(), selected.size()));

  // The length is high byte first; the preamble is not looked at.
  const std::uint8_t header[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02};
  EXPECT_EQ(kp::wire::IdAnnounced(header), 0x0102u);

  // A wrong check byte, a frame cut short or longer than announced.
  Bytes bad = found;
  bad[14] = 0x96;  // the check byte of the 15-byte frame
  EXPECT_FALSE(kp::wire::IdCheckOk(bad.data(), bad.size()));
  EXPECT_FALSE(kp::wire::IdCheckOk(found.data(), found.size() - 1));
  Bytes longer = found;
  longer.push_back(0x00);
  EXPECT_FALSE(kp::wire::IdCheckOk(longer.data(), longer.size()));
  EXPECT_FALSE(kp::wire::IdCheckOk(found.data(), 7));
}

TEST(WireNibbles, PairsDecodeAsHostsAlwaysRead) {
  EXPECT_EQ(kp::wire::NibblePairValue('<', '?'), 0xCF);
  EXPECT_EQ(kp::wire::NibblePairValue('0', '0'), 0x00);
  // Not nibble characters: ((0x41 + 13) * 16 + 0x30) mod 256.
  EXPECT_EQ(kp::wire::NibblePairValue('A', '0'), 0x10);
  const std::uint8_t head[] = {'1', ':', '?', '0'};
  EXPECT_EQ(kp::wire::NibblesValue(head, 4), 0x1AF0u);
}

TEST(WireHex, StrictTextLeavesTheOutputAloneWhenRefused) {
  Bytes out{0x77};
  EXPECT_TRUE(kp::wire::FromHex("00aBff", &out));
  EXPECT_EQ(out, (Bytes{0x00, 0xAB, 0xFF}));
  for (const char* bad : {"0", "0G", "00 11", "+1"}) {
    out = {0x77};
    EXPECT_FALSE(kp::wire::FromHex(bad, &out)) << bad;
    EXPECT_EQ(out, Bytes{0x77}) << bad;
  }
  EXPECT_EQ(kp::wire::ToHex(Bytes{0x0A, 0xF0}), "0AF0");
  EXPECT_EQ(kp::wire::HexByteAt("x9F", 1), 0x9F);
  EXPECT_EQ(kp::wire::HexByteAt("x9", 1), -1);
}

TEST(WireTlv, LengthsTakeOneTwoOrThreeBytes) {
  struct Case {
    std::uint16_t tag;
    std::size_t size;
    Bytes head;
  };
  const std::vector<Case> cases = {
      {0x57, 0, {0x57, 0x00}},
      {0x5A, 0x7F, {0x5A, 0x7F}},
      {0x70, 0x80, {0x70, 0x81, 0x80}},
      {0x9F10, 0xFF, {0x9F, 0x10, 0x81, 0xFF}},
      {0x70, 0x100, {0x70, 0x82, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    Bytes out;
    kp::wire::AppendTlv(&out, c.tag, Bytes(c.size, 0xEE));
    ASSERT_EQ(out.size(), c.head.size() + c.size) << std::hex << c.tag;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(c.head.size())), c.head) << c.tag;
    kp::wire::Tlv element;
    std::size_t at = 0;
    ASSERT_EQ(kp::wire::ReadTlv(out.data(), &at, out.size(), &element), kp::wire::TlvRead::kOk) << c.tag;
    EXPECT_EQ(element.tag, c.tag);
    EXPECT_EQ(element.length, c.size);
    EXPECT_EQ(at, out.size());
  }
}

TEST(WireTlv, FindLooksIntoTemplatesAndStopsAtTheEnd) {
  // 70 0C { 00 padding, 9F 36 02 00 01, 61 04 { 57 02 62 22 } }, then FF padding
  const Bytes record = {0x70, 0x0C, 0x00, 0x9F, 0x36, 0x02, 0x00, 0x01, 0x61, 0x04, 0x57, 0x02, 0x62, 0x22, 0xFF};
  Bytes value;
  EXPECT_TRUE(kp::wire::FindTlv(record, 0, record.size(), 0x57, &value));
  EXPECT_EQ(value, (Bytes{0x62, 0x22}));
  EXPECT_TRUE(kp::wire::FindTlv(record, 0, record.size(), 0x9F36, &value));
  EXPECT_EQ(value, (Bytes{0x00, 0x01}));
  EXPECT_FALSE(kp::wire::FindTlv(record, 0, record.size(), 0x5A, &value));
  // A length running past the data ends the search, whatever follows.
  const Bytes cut = {0x70, 0x05, 0x57, 0x09, 0x62};
  EXPECT_FALSE(kp::wire::FindTlv(cut, 0, cut.size(), 0x57, &value));

  using kp::wire::TlvRead;
  // Each fault after one byte of padding: the element says where it began.
  const std::vector<std::pair<Bytes, TlvRead>> faults = {
      {{0x00, 0xFF}, TlvRead::kEnd},
      {{0x00, 0x9F}, TlvRead::kTagCut},
      {{0x00, 0x9F, 0x81, 0x82, 0x83, 0x84, 0x01}, TlvRead::kTagTooLong},
      {{0x00, 0x57}, TlvRead::kLengthMissing},
      {{0x00, 0x57, 0x80, 0x00}, TlvRead::kIndefinite},
      {{0x00, 0x57, 0x85, 0, 0, 0, 0, 1}, TlvRead::kLengthCut},
      {{0x00, 0x57, 0x82, 0x01}, TlvRead::kLengthCut},
      {{0x00, 0x57, 0x83, 0x00, 0x00, 0x02, 0xAA}, TlvRead::kValuePastEnd},
  };
  for (const auto& [data, expected] : faults) {
    std::size_t at = 0;
    kp::wire::Tlv element;
    EXPECT_EQ(kp::wire::ReadTlv(data.data(), &at, data.size(), &element), expected) << kp::wire::ToHex(data);
    if (expected != TlvRead::kEnd) {
      EXPECT_EQ(element.tagAt, 1u) << kp::wire::ToHex(data);
    }
  }
  // A five-byte tag whose last byte ends it is still read.
  const Bytes longTag = {0x9F, 0x81, 0x82, 0x83, 0x04, 0x01, 0xAA};
  std::size_t at = 0;
  kp::wire::Tlv element;
  EXPECT_EQ(kp::wire::ReadTlv(longTag.data(), &at, longTag.size(), &element), TlvRead::kOk);
  EXPECT_EQ(element.tagSize, 5u);
  EXPECT_EQ(element.length, 1u);

  std::size_t length = 0;
  // 9F02 06, 5F2A 02, 9A 03, 9F37 04
  EXPECT_TRUE(kp::wire::DolLength(Bytes{0x9F, 0x02, 0x06, 0x5F, 0x2A, 0x02, 0x9A, 0x03, 0x9F, 0x37, 0x04}, &length));
  EXPECT_EQ(length, 15u);
  EXPECT_FALSE(kp::wire::DolLength(Bytes{0x9F, 0x02}, &length));
}

TEST(WireFamily, DeviceTypesAndTheirFirmware) {
  using kp::wire::Family;
  const std::vector<std::pair<int, const char*>> known = {{0, "t0"}, {1, "t1"},   {2, "t1"},
                                                          {5, "t1"}, {61, "t61"}, {62, "t61"}};
  for (const auto& [type, name] : known) {
    Family family = Family::kT1;
    ASSERT_TRUE(kp::wire::FamilyOfType(type, &family)) << type;
    EXPECT_STREQ(kp::wire::FamilyName(family), name) << type;
    Family back = Family::kT1;
    EXPECT_TRUE(kp::wire::ParseFamily(name, &back));
    EXPECT_EQ(back, family);
  }
  for (int type : {-1, 3, 4, 6, 60, 63}) {
    Family family = Family::kT0;
    EXPECT_FALSE(kp::wire::FamilyOfType(type, &family)) << type;
    EXPECT_EQ(family, Family::kT0) << type;
  }
  Family family = Family::kT0;
  EXPECT_FALSE(kp::wire::ParseFamily("T1", &family));
}

TEST(WireComPort, TheVariableWinsOverTheSystemPort) {
  EXPECT_EQ(kp::wire::ComVariable(3), "KPDEV_COM3");
  EXPECT_EQ(kp::wire::PosixComPath(1, nullptr), "/dev/ttyS0");
  EXPECT_EQ(kp::wire::PosixComPath(12, ""), "/dev/ttyS11");
  EXPECT_EQ(kp::wire::PosixComPath(3, "/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(kp::wire::PosixComPath(3, "rfc2217://host:4000"), "rfc2217://host:4000");
}

}  // namespace
