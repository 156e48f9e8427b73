// The tool's decoders on inputs written from the standards: answers to
// reset (ISO/IEC 7816-3), BER-TLV records (EMV Book 3 annex B), Track 2
// (ISO/IEC 7813) and the amounts the value-block interface carries.

#include <gtest/gtest.h>

#include "decode.h"

namespace kpdev::tool {
namespace {

Bytes Hex(const std::string& text) {
  Bytes bytes;
  EXPECT_TRUE(HexToBytes(text, &bytes)) << text;
  return bytes;
}

std::vector<std::string> Names(const Atr& atr) {
  std::vector<std::string> names;
  for (const AtrField& f : atr.fields) names.push_back(f.name);
  return names;
}

TEST(ToolAtrTest, InterfaceBytesOfThreeGroupsProtocolsHistoricalAndCheck) {
  // T0 92: TA1 and TD1, two historical bytes.  TA1 96: Fi 512, Di 32.
  // TD1 81: TD2 follows, T=1.  TD2 31: TA3 and TB3, T=1.  TA3 FE: IFSC
  // 254.  TB3 45: BWI 4, CWI 5.  Historical "KP".  TCK makes the XOR of
  // T0 to TCK zero.
  const Atr atr =
      ParseAtr(Hex("3B929681"
                   "31FE454B5014"));
  ASSERT_TRUE(atr.ok) << atr.error;
  EXPECT_EQ(Names(atr), (std::vector<std::string>{"TS", "T0", "TA1", "TD1", "TD2", "TA3", "TB3", "TCK"}));
  EXPECT_EQ(atr.fields[0].meaning, "direct convention");
  EXPECT_NE(atr.fields[2].meaning.find("Fi=512 Di=32"), std::string::npos);
  EXPECT_EQ(atr.fields[5].meaning, "T=1 IFSC 254");
  EXPECT_EQ(atr.fields[6].meaning, "T=1 BWI 4 CWI 5");
  EXPECT_EQ(atr.protocols, std::vector<int>{1});
  EXPECT_EQ(atr.historical, Hex("4B50"));
  EXPECT_TRUE(atr.hasTck);
  EXPECT_TRUE(atr.tckOk);

  const Atr wrong =
      ParseAtr(Hex("3B929681"
                   "31FE454B5015"));
  EXPECT_TRUE(wrong.hasTck);
  EXPECT_FALSE(wrong.tckOk);

  // Only T=0 offered: no TCK.  TC1 00, inverse convention.
  const Atr t0 =
      ParseAtr(Hex("3F4100"
                   "4B"));
  ASSERT_TRUE(t0.ok) << t0.error;
  EXPECT_EQ(t0.fields[0].meaning, "inverse convention");
  EXPECT_EQ(t0.protocols, std::vector<int>{0});
  EXPECT_FALSE(t0.hasTck);

  for (const char* cut : {"3B", "3B9296",
                          "3B929681"
                          "31FE454B",
                          "3B929681"
                          "31FE454B50",
                          "3B00"
                          "AA"}) {
    EXPECT_FALSE(ParseAtr(Hex(cut)).ok) << cut;
  }
}

TEST(ToolTlvTest, TwoAndThreeByteTagsLongLengthsAndNesting) {
  // Record template 70 with a length in the 81 form (133 bytes): PAN 5A,
  // the two-byte tag 9F4A, and tag 90 whose 116-byte value needs 81 74.
  const std::string pan = "5A086200001234567892";
  const std::string sda = "9F4A0182";
  std::string cert = "908174";
  for (int i = 0; i < 116; ++i) cert += "AB";
  std::vector<Tlv> objects;
  std::string error;
  ASSERT_TRUE(ParseTlv(Hex("708185" + pan + sda + cert + "0000"), &objects, &error)) << error;
  ASSERT_EQ(objects.size(), 1u);  // the trailing 00 bytes are padding
  const Tlv& record = objects[0];
  EXPECT_EQ(record.tag, "70");
  EXPECT_TRUE(record.constructed);
  EXPECT_EQ(record.value.size(), 133u);
  ASSERT_EQ(record.children.size(), 3u);
  EXPECT_EQ(record.children[0].tag, "5A");
  EXPECT_EQ(record.children[0].value, Hex("6200001234567892"));
  EXPECT_EQ(record.children[1].tag, "9F4A");
  EXPECT_EQ(record.children[1].value, Hex("82"));
  EXPECT_EQ(record.children[2].tag, "90");
  EXPECT_EQ(record.children[2].value.size(), 116u);
  EXPECT_STREQ(EmvTagName("9F4A"), "static data authentication tag list");
  EXPECT_STREQ(EmvTagName("5A"), "application PAN");

  // A three-byte tag with a length in the 82 form.
  ASSERT_TRUE(ParseTlv(Hex("DF810182000102"), &objects, &error)) << error;
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].tag, "DF8101");
  EXPECT_EQ(objects[0].value, Hex("02"));

  // Values that run past the end, lengths and tags cut short.
  for (const char* bad : {"5A0862", "9F", "5A", "5A8201", "70055A030102"}) {
    EXPECT_FALSE(ParseTlv(Hex(bad), &objects, &error)) << bad;
  }
}

TEST(ToolTrackTest, Track2WithAndWithoutPaddingAndMagneticTracks) {
  const Track padded = ParseTrack2("6200001234567892D30122200000012340000F");
  ASSERT_TRUE(padded.ok);
  EXPECT_EQ(padded.pan, "6200001234567892");
  EXPECT_EQ(padded.expiry, "3012");
  EXPECT_EQ(padded.service, "220");
  EXPECT_EQ(padded.discretionary, "0000012340000");
  EXPECT_TRUE(padded.padded);

  const Track even = ParseTrack2("6200001234567892D3012220000001234");
  ASSERT_TRUE(even.ok);
  EXPECT_EQ(even.discretionary, "000001234");
  EXPECT_FALSE(even.padded);

  const Track magnetic = ParseTrack2(";6222020200112233=29121010000?");
  ASSERT_TRUE(magnetic.ok);
  EXPECT_EQ(magnetic.pan, "6222020200112233");
  EXPECT_EQ(magnetic.expiry, "2912");
  EXPECT_EQ(magnetic.service, "101");
  EXPECT_EQ(magnetic.discretionary, "0000");

  const Track one = ParseTrack1("%B6222020200112233^LI/MING  ^29121010000?");
  ASSERT_TRUE(one.ok);
  EXPECT_EQ(one.pan, "6222020200112233");
  EXPECT_EQ(one.name, "LI/MING");
  EXPECT_EQ(one.expiry, "2912");
  EXPECT_EQ(one.service, "101");

  EXPECT_EQ(ServiceCodeMeaning("201"), "international, chip; normal authorisation; no restrictions");
  for (const char* bad : {"", "D3012220", "62000012D30", "12AB=29121010000", "6200001234567892D3012"}) {
    EXPECT_FALSE(ParseTrack2(bad).ok) << bad;
  }
}

TEST(ToolAmountTest, DecimalTextExactlyAndFloatsThatCarryTheCent) {
  const struct {
    const char* text;
    long long cents;
  } good[] = {{"12.34", 1234}, {"100", 10000}, {"0.5", 50}, {"0.05", 5}, {"1234567.89", 123456789}};
  for (const auto& g : good) {
    long long cents = -1;
    EXPECT_TRUE(ParseAmount(g.text, &cents)) << g.text;
    EXPECT_EQ(cents, g.cents) << g.text;
  }
  long long cents = 0;
  for (const char* bad : {"", "1.234", "1e3", ".5", "5.", "-1", " 1", "1,00", "0x10"}) {
    EXPECT_FALSE(ParseAmount(bad, &cents)) << bad;
  }
  EXPECT_TRUE(ParseAmount("-0.05", &cents, true));
  EXPECT_EQ(cents, -5);
  EXPECT_EQ(FormatAmount(-5), "-0.05");
  EXPECT_EQ(FormatAmount(123456789), "1234567.89");

  // 0.29 as the nearest float is 0.28999999: times 100 truncated gives 28;
  // a float that gives 29 exists and must be chosen.
  float value = 0;
  ASSERT_TRUE(FloatForCents(29, &value));
  EXPECT_EQ(static_cast<long long>(static_cast<double>(value) * 100.0), 29);
  EXPECT_EQ(RoundCents(0.29f), 29);
  // Floats near 1234567.89 are 1234567.875 and 1234568: no float carries it.
  EXPECT_FALSE(FloatForCents(123456789, &value));
}

TEST(ToolLineTest, CommandAndAnswerFramesAndRawBytes) {
  // Command 3111 with the data byte 00: N = 3, checksum 31^11^00 = 20.
  EXPECT_EQ(DescribeLine(Hex("0230303033333131313030323003"), true), std::vector<std::string>{"command 3111 data 00"});
  // An answer with status 0000 and no data; its checksum is not looked at.
  EXPECT_EQ(DescribeLine(Hex("023030303230303030"
                             "3F3F03"),
                         false),
            std::vector<std::string>{"status 0000"});
  // A module escape sequence and a wrong checksum.
  EXPECT_EQ(DescribeLine(Hex("1B30"
                             "0230303033333131313030323103"),
                         true),
            (std::vector<std::string>{"raw 1B30  module switched", "command 3111 data 00 (checksum 21, expected 20)"}));
}

TEST(ToolLineTest, RawSequencesNamed) {
  const struct {
    const char* hex;
    bool toDevice;
    const char* text;
  } cases[] = {
      {"1B244934", true, "raw 1B244934  module I, speed digit 4"},
      {"1B245331", true, "raw 1B245331  module S, speed digit 1"},
      {"1B2442", true, "raw 1B2442  module B (magnetic head)"},
      {"1B6500", true, "raw 1B6500  version request (type 61)"},
      {"1B31", false, "raw 1B31  module switch refused: speed digit"},
      {"1B32", false, "raw 1B32  module switch refused: no such module"},
      // The type-61 firmware's version text and its NUL.
      {"4B502D5436312056312E303500", false, "raw 4B502D5436312056312E303500  \"KP-T61 V1.05\""},
      {"1B33", false, "raw 1B33"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DescribeLine(Hex(c.hex), c.toDevice), std::vector<std::string>{c.text}) << c.hex;
  }
}

std::vector<std::string> Texts(const std::vector<LineEvent>& events) {
  std::vector<std::string> texts;
  for (const LineEvent& e : events) texts.push_back((e.toDevice ? "> " : "< ") + e.text);
  return texts;
}

TEST(ToolLineTest, StreamPutsPacedPiecesTogether) {
  LineStream stream;
  // The module switch and its reply, then the version command one byte at
  // a time, then its answer eight bytes at a time, as a paced reader
  // reports them.
  EXPECT_TRUE(stream.Add(Hex("1B2449"), true).empty());
  EXPECT_TRUE(stream.Add(Hex("30"), true).empty());
  EXPECT_EQ(Texts(stream.Add(Hex("1B30"), false)), std::vector<std::string>{"> raw 1B244930  module I, speed digit 0"});
  const Bytes command = Hex("0230303033333131313030323003");
  std::vector<std::string> seen;
  for (std::size_t i = 0; i < command.size(); ++i) {
    for (const std::string& text : Texts(stream.Add(Bytes{command[i]}, true))) seen.push_back(text);
    // Nothing before the frame's last byte.
    EXPECT_EQ(seen.size(), i + 1 == command.size() ? 2u : 1u) << i;
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"< raw 1B30  module switched", "> command 3111 data 00"}));
  // Status 0000 and the bytes 4B 50: L = 4, checksum 4B^50 = 1B.
  const Bytes answer =
      Hex("0230303034"
          "30303030"
          "343B3530"
          "313B"
          "03");
  ASSERT_EQ(answer.size(), 16u);
  EXPECT_TRUE(stream.Add(Bytes(answer.begin(), answer.begin() + 8), false).empty());
  EXPECT_EQ(Texts(stream.Add(Bytes(answer.begin() + 8, answer.end()), false)),
            std::vector<std::string>{"< status 0000 data 4B50"});
  EXPECT_FALSE(stream.pending());
  // A reply nobody follows waits for the line to go quiet.
  EXPECT_TRUE(stream.Add(Hex("1B30"), false).empty());
  EXPECT_TRUE(stream.pending());
  EXPECT_EQ(Texts(stream.Flush()), std::vector<std::string>{"< raw 1B30  module switched"});
  EXPECT_TRUE(stream.Flush().empty());
}

TEST(ToolLineTest, StreamGivesUpOnWhatIsNoFrame) {
  LineStream stream;
  // An STX whose frame would end at its 13th byte with something other
  // than ETX: the bytes up to the next STX are raw, the next frame stands.
  EXPECT_EQ(Texts(stream.Add(Hex("02303030333331313130303230FF"
                                 "0230303033333131313030323003"),
                             true)),
            (std::vector<std::string>{"> raw 02303030333331313130303230FF", "> command 3111 data 00"}));
  // A length no frame has (FFFF body bytes) is not waited for.
  EXPECT_EQ(Texts(stream.Add(Hex("023F3F3F3F"), true)), std::vector<std::string>{});
  EXPECT_EQ(Texts(stream.Flush()), std::vector<std::string>{"> raw 023F3F3F3F"});
}

TEST(ToolVersionTest, FamilyNamedByTheVersionText) {
  const struct {
    const char* text;
    int type;
  } cases[] = {
      {"KP-T1 V2.10", 1},
      {"KP-T0 V3.02", 0},
      {"KP-T61 V1.05", 61},
      {"KP-T62 V1.00", 61},
      {"KP-T2 V1.0", 1},
      {"KP-T5", 1},
      {"T0", 0},
      {"READER T0", 0},
      {"X_T1_B", 1},
      {"KP-T6 V1", -1},
      {"KP-T10 V1", -1},
      {"KPT1 V2", -1},
      {"V2.10", -1},
      {"", -1},
      {"KP-t1", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(TypeOfVersion(c.text), c.type) << c.text;
}

TEST(ToolVersionTest, SpelledWhenPrintable) {
  EXPECT_EQ(SpelledVersion("4B502D54312056322E3130"), "KP-T1 V2.10");
  EXPECT_EQ(SpelledVersion("010203040506"), "");
  EXPECT_EQ(SpelledVersion("4B5"), "");
  EXPECT_EQ(DescribeVersion("4B502D5430", true), "KP-T0  [4B502D5430]");
  EXPECT_EQ(DescribeVersion("010203040506", true), "010203040506");
  EXPECT_EQ(DescribeVersion("KP-T61 V1.05", false), "KP-T61 V1.05");
}

TEST(ToolStatusWordTest, Meanings) {
  const struct {
    std::uint16_t sw;
    const char* meaning;
  } cases[] = {
      {0x9000, "normal processing"},
      {0x6A82, "file or application not found"},
      {0x6A83, "record not found"},
      {0x6982, "security status not satisfied"},
      {0x6985, "conditions of use not satisfied"},
      {0x6D00, "instruction code not supported or invalid"},
      {0x6E00, "class not supported"},
      {0x6700, "wrong length"},
      {0x6283, "warning: selected file invalidated (application blocked)"},
      {0x6110, "16 more bytes to fetch with GET RESPONSE"},
      {0x6100, "256 more bytes to fetch with GET RESPONSE"},
      {0x6C1A, "wrong length: send again with Le 1A"},
      {0x63C2, "verification failed, 2 tries left"},
      {0x9401, "insufficient funds"},
      {0x6A99, "wrong parameters P1-P2"},
      {0x6999, "command not allowed"},
      {0x1234, ""},
      {0x9001, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusWordMeaning(c.sw), c.meaning) << std::hex << c.sw;
}

}  // namespace
}  // namespace kpdev::tool
