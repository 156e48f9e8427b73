// Decoding of the identity card's text block: field texts in GBK with
// trailing blanks removed, the sex and nation names, the photo, and the
// rules for short or inconsistent input.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "idcard/id_text.h"
#include "logic/id_card_data.h"

using kptest::IdCardText;
using kptest::ReadPayload;
using kptest::TextBlock;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The nationality names of codes 01 to 56 in code order, as written in
// the national standard; then codes 97 and 98.
const char kNationNames[] =
    "汉族 蒙古族 回族 藏族 维吾尔族 苗族 彝族 壮族 布依族 朝鲜族 "
    "满族 侗族 瑶族 白族 土家族 哈尼族 哈萨克族 傣族 黎族 傈僳族 "
    "佤族 畲族 高山族 拉祜族 水族 东乡族 纳西族 景颇族 柯尔克孜族 "
    "土族 达斡尔族 仫佬族 羌族 布朗族 撒拉族 毛南族 仡佬族 锡伯族 "
    "阿昌族 普米族 塔吉克族 怒族 乌孜别克族 俄罗斯族 鄂温克族 "
    "德昂族 保安族 裕固族 京族 塔塔尔族 独龙族 鄂伦春族 赫哲族 "
    "门巴族 珞巴族 基诺族";
const char kNation97[] = "其他";
const char kNation98[] = "外国血统中国籍人士";

// GBK bytes of a UTF-8 text, through the C library's converter.
std::string Gbk(const char* utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  char out[128] = {};
  char* in = const_cast<char*>(utf8);
  std::size_t inLeft = std::strlen(utf8);
  char* o = out;
  std::size_t oLeft = sizeof out - 1;
  iconv(cd, &in, &inLeft, &o, &oLeft);
  iconv_close(cd);
  return std::string(out, static_cast<std::size_t>(o - out));
}

kp::IdRecord Decode(const Bytes& payload, int* result = nullptr) {
  kp::IdRecord record;
  std::memset(&record, 0x55, sizeof record);
  const int r = kp::DecodeIdText(payload.data(), static_cast<std::uint32_t>(payload.size()), &record);
  if (result != nullptr) *result = r;
  return record;
}

std::string NationOf(const char16_t* code) {
  IdCardText card;
  card.nation = code;
  return Decode(ReadPayload(TextBlock(card), {})).nation;
}

std::string SexOf(const char16_t* code) {
  IdCardText card;
  card.sex = code;
  return Decode(ReadPayload(TextBlock(card), {})).sex;
}

// Every byte of a slot behind its text is zero.
bool ZeroBehindText(const char* slot, std::size_t size) {
  for (std::size_t i = std::strlen(slot); i < size; ++i) {
    if (slot[i] != 0) return false;
  }
  return true;
}

TEST(IdTextTest, FieldsConvertedTrimmedAndPhotoCopied) {
  const Bytes photo = kptest::CardPhoto();
  int result = 0;
  const kp::IdRecord r = Decode(ReadPayload(TextBlock(IdCardText{}), photo), &result);
  EXPECT_STREQ(r.name, kptest::kNameGbk);
  EXPECT_STREQ(r.sex, kptest::kMaleGbk);
  EXPECT_STREQ(r.nation, kptest::kHanGbk);
  EXPECT_STREQ(r.birthDate, "19800101");
  EXPECT_STREQ(r.address, kptest::kAddressGbk);
  EXPECT_STREQ(r.idNumber, "11010119800101001X");
  EXPECT_STREQ(r.authority, kptest::kAuthorityGbk);
  EXPECT_STREQ(r.validity, "2010010120300101");
  ASSERT_EQ(r.photoLength, 1024u);
  EXPECT_EQ(0, std::memcmp(r.photo, photo.data(), photo.size()));
  // The last conversion's result: the validity period's 16 characters and
  // the NUL.
  EXPECT_EQ(result, 17);
  // The whole record was cleared before it was written.
  EXPECT_TRUE(ZeroBehindText(r.name, sizeof r.name));
  EXPECT_TRUE(ZeroBehindText(r.sex, sizeof r.sex));
  EXPECT_TRUE(ZeroBehindText(r.nation, sizeof r.nation));
  EXPECT_TRUE(ZeroBehindText(r.address, sizeof r.address));
  EXPECT_TRUE(ZeroBehindText(r.validity, sizeof r.validity));
}

TEST(IdTextTest, BlanksAtTheEndGoInsideStay) {
  IdCardText card;
  card.name = u"               ";
  card.address = u"A  B  ";
  card.authority = u" X";
  const kp::IdRecord r = Decode(ReadPayload(TextBlock(card), {}));
  EXPECT_STREQ(r.name, "");
  EXPECT_STREQ(r.address, "A  B");
  EXPECT_STREQ(r.authority, " X");
}

TEST(IdTextTest, SexNames) {
  EXPECT_EQ(SexOf(u"1"), kptest::kMaleGbk);
  EXPECT_EQ(SexOf(u"2"), kptest::kFemaleGbk);
  EXPECT_EQ(SexOf(u"0"), kptest::kFemaleGbk);
  EXPECT_EQ(SexOf(u"9"), kptest::kFemaleGbk);
  EXPECT_EQ(SexOf(u" "), kptest::kFemaleGbk);
}

TEST(IdTextTest, NationNamesByCode) {
  EXPECT_EQ(NationOf(u"01"), "\xBA\xBA\xD7\xE5");
  std::istringstream names(kNationNames);
  std::string name;
  int code = 0;
  while (names >> name) {
    ++code;
    const char16_t digits[3] = {static_cast<char16_t>(u'0' + code / 10), static_cast<char16_t>(u'0' + code % 10), 0};
    EXPECT_EQ(NationOf(digits), Gbk(name.c_str())) << "code " << code;
  }
  EXPECT_EQ(code, 56);
  EXPECT_EQ(NationOf(u"97"), Gbk(kNation97));
  EXPECT_EQ(NationOf(u"98"), Gbk(kNation98));
  // Outside the table: a single space, also where the index would be
  // negative.
  for (const char16_t* code : {u"00", u"57", u"96", u"99", u"  "}) {
    EXPECT_EQ(NationOf(code), " ");
  }
  // A lone digit followed by a blank is read as its two bytes, like any
  // other pair: '5' and ' ' give index 53*10+32-529 = 33, code 34.
  EXPECT_EQ(NationOf(u"5 "), Gbk("布朗族"));
}

TEST(IdTextTest, ShortOrInconsistentInput) {
  Bytes payload = ReadPayload(TextBlock(IdCardText{}), kptest::CardPhoto());

  // Under 227 bytes: refused, the record not touched.
  kp::IdRecord r;
  std::memset(&r, 0x55, sizeof r);
  EXPECT_EQ(kp::DecodeIdText(payload.data(), 226, &r), -1);
  for (std::size_t i = 0; i < sizeof r; ++i) ASSERT_EQ(reinterpret_cast<std::uint8_t*>(&r)[i], 0x55) << i;

  // Exactly 227 bytes: the eight fields decode; the photo does not fit
  // behind a 256-byte text.
  int result = 0;
  r = Decode(Bytes(payload.begin(), payload.begin() + 227), &result);
  EXPECT_EQ(result, -1);
  EXPECT_STREQ(r.name, kptest::kNameGbk);
  EXPECT_STREQ(r.validity, "2010010120300101");
  EXPECT_EQ(r.photoLength, 0u);
  EXPECT_EQ(r.photo[0], 0);

  // 227 bytes whose lengths claim no more than they hold decode fully.
  Bytes small(payload.begin(), payload.begin() + 227);
  small[3] = 0x00, small[4] = 0xDC, small[5] = 0x00, small[6] = 0x00;  // T 220, P 0
  r = Decode(small, &result);
  EXPECT_GT(result, 0);
  EXPECT_EQ(r.photoLength, 0u);

  // One byte short of text and photo: texts kept, photo empty.
  Bytes cut(payload.begin(), payload.begin() + 7 + 256 + 1023);
  r = Decode(cut, &result);
  EXPECT_EQ(result, -1);
  EXPECT_STREQ(r.idNumber, "11010119800101001X");
  EXPECT_EQ(r.photoLength, 0u);

  // A photo length above the photo slot is refused, never copied.
  Bytes big = ReadPayload(TextBlock(IdCardText{}), Bytes(1025, 0xEE));
  r = Decode(big, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(r.photoLength, 0u);
  EXPECT_EQ(r.photo[0], 0);
  EXPECT_STREQ(r.name, kptest::kNameGbk);

  // Photo length 0: empty photo and a positive result.
  r = Decode(ReadPayload(TextBlock(IdCardText{}), {}), &result);
  EXPECT_GT(result, 0);
  EXPECT_EQ(r.photoLength, 0u);
}

TEST(IdTextTest, TrimAndConvertHelpers) {
  // Only blanks are trimmed.
  char c[] = "a\t";
  kp::TrimTrailingSpaces(c);
  EXPECT_STREQ(c, "a\t");

  // 张三 and its terminator: four GBK bytes and the NUL.
  const std::uint8_t zhangSan[] = {0x20, 0x5F, 0x09, 0x4E, 0x00, 0x00};
  char out[kp::kWideToAnsiRoom];
  EXPECT_EQ(kp::WideToAnsi(out, zhangSan), 5);
  EXPECT_STREQ(out, kptest::kNameGbk);
  // A character outside the code page becomes the default character.
  const std::uint8_t thai[] = {0x41, 0x00, 0x01, 0x0E, 0x42, 0x00, 0x00, 0x00};
  EXPECT_EQ(kp::WideToAnsi(out, thai), 4);
  EXPECT_STREQ(out, "A?B");
}

}  // namespace
