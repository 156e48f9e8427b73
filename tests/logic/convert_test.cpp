#include "base/convert.h"

#include <gtest/gtest.h>

#include <string>

namespace kp {
namespace {

using namespace std::string_literals;

// Runs f on an output buffer of n bytes filled with '~' and returns the
// whole buffer, so every check also covers what a function leaves alone.
template <class F>
std::string Out(std::size_t n, F f) {
  std::string buffer(n, '~');
  f(&buffer[0], reinterpret_cast<std::uint8_t*>(&buffer[0]));
  return buffer;
}

TEST(AscToBcd, TwoUpperCaseDigitsPerByte) {
  EXPECT_EQ("4142\0~~~"s, Out(8, [](char* o, auto) { EXPECT_EQ(0, AscToBcd("AB", o)); }));
  // Bytes above 0x7F count as unsigned.
  EXPECT_EQ("FF800A\0~"s, Out(8, [](char* o, auto) { AscToBcd("\xFF\x80\x0a", o); }));
  // An empty text writes nothing, not even a terminator.
  EXPECT_EQ("~~~~"s, Out(4, [](char* o, auto) { EXPECT_EQ(0, AscToBcd("", o)); }));
}

TEST(BcdToAsc, OnePairPerByteWithoutTerminator) {
  EXPECT_EQ("ABC~~~"s, Out(6, [](char* o, auto) { EXPECT_EQ(0, BcdToAsc("414243", o)); }));
  // An odd last character is ignored.
  EXPECT_EQ("AB~~"s, Out(4, [](char* o, auto) { BcdToAsc("41424", o); }));
  EXPECT_EQ("\x0A\x00\xFF~"s, Out(4, [](char* o, auto) { BcdToAsc("0A00FF", o); }));
  EXPECT_EQ("~~"s, Out(2, [](char* o, auto) { BcdToAsc("4", o); }));
}

TEST(BcdToAsc, PairRuleForCharactersOutsideUpperCaseHex) {
  // 'a' counts 31: "a0" = 16 * 31 = 496 -> 0xF0; "0a" = 31 -> 0x1F.
  // 'G' (d = 23) counts 7 + 10 = 17: "1G" = 16 + 17 = 33 -> 0x21.
  // '9' then ':' (d = 10) is 9 * 16 + 10 = 0x9A.
  EXPECT_EQ("\xF0\x1F\x21\x9A~"s, Out(5, [](char* o, auto) { BcdToAsc("a00a1G9:", o); }));
}

TEST(BcdToAsc, FieldsSkipAndStopAtWhiteSpace) {
  // Field 0 is "4" (it stops at the blank); fields 1 and 2 start at
  // offsets 2 and 4.
  EXPECT_EQ("\x04\x41\x42~"s, Out(4, [](char* o, auto) { BcdToAsc("4 4142", o); }));
  // Blanks up to the end leave a field without digits, which counts 0.
  EXPECT_EQ("\x04\x00~"s, Out(3, [](char* o, auto) { BcdToAsc(" 4  ", o); }));
}

TEST(BytesToHex, TerminatorOnlyWhenDigitsWereWritten) {
  const std::uint8_t bytes[] = {0x00, 0xFF, 0x5A};
  EXPECT_EQ("00FF5A\0~"s, Out(8, [&](char* o, auto) { BytesToHex(bytes, 3, o); }));
  EXPECT_EQ("~~~"s, Out(3, [&](char* o, auto) { BytesToHex(bytes, 0, o); }));
  EXPECT_EQ("\0~~"s, Out(3, [&](char* o, auto) { BytesToHexZ(bytes, 0, o); }));
  EXPECT_EQ("FF5A\0~"s, Out(6, [&](char* o, auto) { BytesToHexZ(bytes + 1, 2, o); }));
  EXPECT_EQ("00FF5A", ToHex(bytes, 3));
}

TEST(NibbleTextToBytes, DecodesDeviceNibbles) {
  EXPECT_EQ("\x90\x00~"s, Out(3, [](char*, std::uint8_t* o) { NibbleTextToBytes("\x39\x30\x30\x30", 4, o); }));
  EXPECT_EQ("\xFF~"s, Out(2, [](char*, std::uint8_t* o) { NibbleTextToBytes("\x3F\x3F", 2, o); }));
  // Odd length: the last character pairs with the NUL after it,
  // ((0x39 + 13) * 16 + 0) mod 256 = 0x60.
  EXPECT_EQ("\x12\x60~"s, Out(3, [](char*, std::uint8_t* o) { NibbleTextToBytes("\x31\x32\x39", 3, o); }));
}

TEST(HexTextToBytes, PairsThenAZeroByte) {
  EXPECT_EQ("\xAB\x0C\x00~"s, Out(4, [](char*, std::uint8_t* o) { HexTextToBytes("ABC", 3, o); }));
  // Either case; only the given length counts even when the text goes on.
  EXPECT_EQ("\xAB\x0F\xC7\x00~"s, Out(5, [](char*, std::uint8_t* o) { HexTextToBytes("ab0fC7", 6, o); }));
  EXPECT_EQ("\xAB\x00\x00~"s, Out(4, [](char*, std::uint8_t* o) { HexTextToBytes("ab0fC7", 3, o); }));
  EXPECT_EQ("\x00~"s, Out(2, [](char*, std::uint8_t* o) { HexTextToBytes("", 0, o); }));
  // A field ends at the first character that is not a hex digit.
  EXPECT_EQ("\x01\x02\x00~"s, Out(4, [](char*, std::uint8_t* o) { HexTextToBytes("1G2X", 4, o); }));
  // The longest text the library converts.
  const std::string text(4096, 'F');
  EXPECT_EQ(std::string(2048, '\xFF') + "\0~"s,
            Out(2050, [&](char*, std::uint8_t* o) { HexTextToBytes(text.c_str(), 4096, o); }));
}

TEST(CheckHexText, OnlyUpperCaseHexPasses) {
  EXPECT_EQ(-1, CheckHexText("12ab"));
  EXPECT_EQ(0, CheckHexText("12AB"));
  EXPECT_EQ(0, CheckHexText(""));
  EXPECT_EQ(0, CheckHexText("0123456789ABCDEF"));
  EXPECT_EQ(-1, CheckHexText("12G0"));
  EXPECT_EQ(-1, CheckHexText("12 0"));
  EXPECT_EQ(-1, CheckHexText("\xC1"));
}

}  // namespace
}  // namespace kp
