// Identity card data for the tests: the card's UCS-2 text block, the
// payload of the module's read answer, and the module answers themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kptest {

struct IdCardText {
  std::u16string name = u"张三";
  std::u16string sex = u"1";
  std::u16string nation = u"01";
  std::u16string birthDate = u"19800101";
  std::u16string address = u"北京市东城区景山前街4号";
  std::u16string idNumber = u"11010119800101001X";
  std::u16string authority = u"北京市公安局东城分局";
  std::u16string validity = u"2010010120300101";
};

// A field as the card stores it: UCS-2 little-endian, padded with spaces
// to its width in characters (cut to it when longer).
inline void AppendUcs2Field(std::vector<std::uint8_t>& out, const std::u16string& text, std::size_t chars) {
  for (std::size_t i = 0; i < chars; ++i) {
    const char16_t c = i < text.size() ? text[i] : u' ';
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
}

// The 256-byte text block: fields of 15, 1, 2, 8, 35, 18, 15 and 16
// characters, then 18 characters the driver does not read.
inline std::vector<std::uint8_t> TextBlock(const IdCardText& t) {
  std::vector<std::uint8_t> out;
  AppendUcs2Field(out, t.name, 15);
  AppendUcs2Field(out, t.sex, 1);
  AppendUcs2Field(out, t.nation, 2);
  AppendUcs2Field(out, t.birthDate, 8);
  AppendUcs2Field(out, t.address, 35);
  AppendUcs2Field(out, t.idNumber, 18);
  AppendUcs2Field(out, t.authority, 15);
  AppendUcs2Field(out, t.validity, 16);
  AppendUcs2Field(out, u"", 18);
  return out;
}

// Payload behind the read answer's 7-byte header: status 00 00 90, text
// length, photo length (high byte first), text block, photo, check byte.
inline std::vector<std::uint8_t> ReadPayload(const std::vector<std::uint8_t>& text,
                                             const std::vector<std::uint8_t>& photo) {
  std::vector<std::uint8_t> out{0x00, 0x00, 0x90};
  out.push_back(static_cast<std::uint8_t>(text.size() >> 8));
  out.push_back(static_cast<std::uint8_t>(text.size() & 0xFF));
  out.push_back(static_cast<std::uint8_t>(photo.size() >> 8));
  out.push_back(static_cast<std::uint8_t>(photo.size() & 0xFF));
  out.insert(out.end(), text.begin(), text.end());
  out.insert(out.end(), photo.begin(), photo.end());
  out.push_back(0x00);
  return out;
}

// A module answer: preamble, body length (high byte first), body.
inline std::vector<std::uint8_t> ModuleAnswer(const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> out{0xAA, 0xAA, 0xAA, 0x96, 0x69};
  out.push_back(static_cast<std::uint8_t>(body.size() >> 8));
  out.push_back(static_cast<std::uint8_t>(body.size() & 0xFF));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// A 1024-byte photo whose bytes count up.
inline std::vector<std::uint8_t> CardPhoto() {
  std::vector<std::uint8_t> photo(1024);
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return photo;
}

// GBK texts of the sample card.
constexpr char kNameGbk[] = "\xD5\xC5\xC8\xFD";  // 张三
constexpr char kAddressGbk[] =
    "\xB1\xB1\xBE\xA9\xCA\xD0\xB6\xAB\xB3\xC7\xC7\xF8\xBE\xB0\xC9\xBD\xC7\xB0\xBD\xD6"
    "4\xBA\xC5";  // 北京市东城区景山前街4号
constexpr char kAuthorityGbk[] = "\xB1\xB1\xBE\xA9\xCA\xD0\xB9\xAB\xB0\xB2\xBE\xD6\xB6\xAB\xB3\xC7\xB7\xD6\xBE\xD6";
constexpr char kMaleGbk[] = "\xC4\xD0";         // 男
constexpr char kFemaleGbk[] = "\xC5\xAE";       // 女
constexpr char kHanGbk[] = "\xBA\xBA\xD7\xE5";  // 汉族

}  // namespace kptest
