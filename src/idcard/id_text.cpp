#include "idcard/id_text.h"

#include <cstddef>
#include <cstring>

#include "platform/text.h"

namespace kp {

namespace {

// Bytes before the text block: 3 status bytes, text and photo lengths.
constexpr std::uint32_t kHeaderBytes = 7;
// The eight fields read end 220 bytes into the text block.
constexpr std::uint32_t kMinInput = kHeaderBytes + 220;

// Sex names in GBK: 男 (code 1) and 女 (every other code).
constexpr char kMale[] = "\xC4\xD0";
constexpr char kFemale[] = "\xC5\xAE";
// Stored for a nation code outside the table.
constexpr char kUnknownNation[] = " ";

// Names of the nationalities by code, in GBK, whatever the code page of
// the system: codes 01 to 56 at index 0 to 55.
constexpr const char* kNationNames[] = {
    "\xBA\xBA\xD7\xE5",                          // 01 汉族
    "\xC3\xC9\xB9\xC5\xD7\xE5",                  // 02 蒙古族
    "\xBB\xD8\xD7\xE5",                          // 03 回族
    "\xB2\xD8\xD7\xE5",                          // 04 藏族
    "\xCE\xAC\xCE\xE1\xB6\xFB\xD7\xE5",          // 05 维吾尔族
    "\xC3\xE7\xD7\xE5",                          // 06 苗族
    "\xD2\xCD\xD7\xE5",                          // 07 彝族
    "\xD7\xB3\xD7\xE5",                          // 08 壮族
    "\xB2\xBC\xD2\xC0\xD7\xE5",                  // 09 布依族
    "\xB3\xAF\xCF\xCA\xD7\xE5",                  // 10 朝鲜族
    "\xC2\xFA\xD7\xE5",                          // 11 满族
    "\xB6\xB1\xD7\xE5",                          // 12 侗族
    "\xD1\xFE\xD7\xE5",                          // 13 瑶族
    "\xB0\xD7\xD7\xE5",                          // 14 白族
    "\xCD\xC1\xBC\xD2\xD7\xE5",                  // 15 土家族
    "\xB9\xFE\xC4\xE1\xD7\xE5",                  // 16 哈尼族
    "\xB9\xFE\xC8\xF8\xBF\xCB\xD7\xE5",          // 17 哈萨克族
    "\xB4\xF6\xD7\xE5",                          // 18 傣族
    "\xC0\xE8\xD7\xE5",                          // 19 黎族
    "\xC0\xFC\xCB\xDB\xD7\xE5",                  // 20 傈僳族
    "\xD8\xF4\xD7\xE5",                          // 21 佤族
    "\xEE\xB4\xD7\xE5",                          // 22 畲族
    "\xB8\xDF\xC9\xBD\xD7\xE5",                  // 23 高山族
    "\xC0\xAD\xEC\xEF\xD7\xE5",                  // 24 拉祜族
    "\xCB\xAE\xD7\xE5",                          // 25 水族
    "\xB6\xAB\xCF\xE7\xD7\xE5",                  // 26 东乡族
    "\xC4\xC9\xCE\xF7\xD7\xE5",                  // 27 纳西族
    "\xBE\xB0\xC6\xC4\xD7\xE5",                  // 28 景颇族
    "\xBF\xC2\xB6\xFB\xBF\xCB\xD7\xCE\xD7\xE5",  // 29 柯尔克孜族
    "\xCD\xC1\xD7\xE5",                          // 30 土族
    "\xB4\xEF\xCE\xD3\xB6\xFB\xD7\xE5",          // 31 达斡尔族
    "\xD8\xEF\xC0\xD0\xD7\xE5",                  // 32 仫佬族
    "\xC7\xBC\xD7\xE5",                          // 33 羌族
    "\xB2\xBC\xC0\xCA\xD7\xE5",                  // 34 布朗族
    "\xC8\xF6\xC0\xAD\xD7\xE5",                  // 35 撒拉族
    "\xC3\xAB\xC4\xCF\xD7\xE5",                  // 36 毛南族
    "\xD8\xEE\xC0\xD0\xD7\xE5",                  // 37 仡佬族
    "\xCE\xFD\xB2\xAE\xD7\xE5",                  // 38 锡伯族
    "\xB0\xA2\xB2\xFD\xD7\xE5",                  // 39 阿昌族
    "\xC6\xD5\xC3\xD7\xD7\xE5",                  // 40 普米族
    "\xCB\xFE\xBC\xAA\xBF\xCB\xD7\xE5",          // 41 塔吉克族
    "\xC5\xAD\xD7\xE5",                          // 42 怒族
    "\xCE\xDA\xD7\xCE\xB1\xF0\xBF\xCB\xD7\xE5",  // 43 乌孜别克族
    "\xB6\xED\xC2\xDE\xCB\xB9\xD7\xE5",          // 44 俄罗斯族
    "\xB6\xF5\xCE\xC2\xBF\xCB\xD7\xE5",          // 45 鄂温克族
    "\xB5\xC2\xB0\xBA\xD7\xE5",                  // 46 德昂族
    "\xB1\xA3\xB0\xB2\xD7\xE5",                  // 47 保安族
    "\xD4\xA3\xB9\xCC\xD7\xE5",                  // 48 裕固族
    "\xBE\xA9\xD7\xE5",                          // 49 京族
    "\xCB\xFE\xCB\xFE\xB6\xFB\xD7\xE5",          // 50 塔塔尔族
    "\xB6\xC0\xC1\xFA\xD7\xE5",                  // 51 独龙族
    "\xB6\xF5\xC2\xD7\xB4\xBA\xD7\xE5",          // 52 鄂伦春族
    "\xBA\xD5\xD5\xDC\xD7\xE5",                  // 53 赫哲族
    "\xC3\xC5\xB0\xCD\xD7\xE5",                  // 54 门巴族
    "\xE7\xF3\xB0\xCD\xD7\xE5",                  // 55 珞巴族
    "\xBB\xF9\xC5\xB5\xD7\xE5",                  // 56 基诺族
};
constexpr unsigned kNationCount = sizeof kNationNames / sizeof kNationNames[0];
static_assert(kNationCount == 56, "nation table");
// Codes 97 and 98, at index 96 and 97.
constexpr const char kNationOther[] = "\xC6\xE4\xCB\xFB";  // 97 其他
constexpr const char kNationForeignBorn[] =
    "\xCD\xE2\xB9\xFA\xD1\xAA\xCD\xB3\xD6\xD0\xB9\xFA\xBC\xAE\xC8\xCB\xCA\xBF";  // 98 外国血统中国籍人士

enum class FieldKind { kText, kSex, kNation };

struct FieldLayout {
  std::uint32_t offset;  // in the text block
  std::uint32_t bytes;
  std::size_t slotOffset;  // in the record
  std::size_t slotSize;
  FieldKind kind;
};

constexpr FieldLayout kFields[] = {
    {0, 30, offsetof(IdRecord, name), sizeof(IdRecord::name), FieldKind::kText},
    {30, 2, offsetof(IdRecord, sex), sizeof(IdRecord::sex), FieldKind::kSex},
    {32, 4, offsetof(IdRecord, nation), sizeof(IdRecord::nation), FieldKind::kNation},
    {36, 16, offsetof(IdRecord, birthDate), sizeof(IdRecord::birthDate), FieldKind::kText},
    {52, 70, offsetof(IdRecord, address), sizeof(IdRecord::address), FieldKind::kText},
    {122, 36, offsetof(IdRecord, idNumber), sizeof(IdRecord::idNumber), FieldKind::kText},
    {158, 30, offsetof(IdRecord, authority), sizeof(IdRecord::authority), FieldKind::kText},
    {188, 32, offsetof(IdRecord, validity), sizeof(IdRecord::validity), FieldKind::kText},
};

// Copies a NUL-terminated text into a zeroed slot, keeping room for the
// NUL: a text longer than the slot is cut.
void StoreText(char* slot, std::size_t slotSize, const char* text) {
  std::memcpy(slot, text, strnlen(text, slotSize - 1));
}

const char* NationName(const char* converted) {
  // The two code digits as bytes, without sign, so that anything but two
  // digits gives an index outside the table (also where the difference
  // would be negative: the unsigned result is then large).
  const unsigned b0 = static_cast<unsigned char>(converted[0]);
  const unsigned b1 = static_cast<unsigned char>(converted[1]);
  const unsigned index = b0 * 10u + b1 - 529u;
  if (index < kNationCount) return kNationNames[index];
  if (index == 96) return kNationOther;
  if (index == 97) return kNationForeignBorn;
  return kUnknownNation;
}

}  // namespace

IdRecord& SharedIdRecord() {
  static IdRecord record{};
  return record;
}

int WideToAnsi(char* out, const std::uint8_t* ucs2le) { return platform::Ucs2LeToAnsi(ucs2le, out, kWideToAnsiRoom); }

void TrimTrailingSpaces(char* text) {
  std::size_t i = std::strlen(text);
  while (i > 0) {
    --i;
    if (text[i] == '\0') continue;
    if (text[i] != ' ') break;
    text[i] = '\0';
  }
}

int DecodeIdText(const std::uint8_t* input, std::uint32_t length, IdRecord* record) {
  if (input == nullptr || record == nullptr || length < kMinInput) return -1;
  std::memset(record, 0, sizeof *record);
  char* const base = reinterpret_cast<char*>(record);
  const std::uint8_t* const text = input + kHeaderBytes;

  int converted = 0;
  for (const FieldLayout& field : kFields) {
    // The field's text ends right behind its bytes: the rest of the wide
    // buffer is zero and terminates it.
    std::uint8_t wide[kWideToAnsiRoom] = {};
    char ansi[kWideToAnsiRoom] = {};
    std::memcpy(wide, text + field.offset, field.bytes);
    converted = WideToAnsi(ansi, wide);
    if (converted == 0) ansi[0] = '\0';  // a field that fails to convert stays empty

    char* const slot = base + field.slotOffset;
    switch (field.kind) {
      case FieldKind::kText:
        StoreText(slot, field.slotSize, ansi);
        TrimTrailingSpaces(slot);
        break;
      case FieldKind::kSex:
        StoreText(slot, field.slotSize, ansi[0] == '1' ? kMale : kFemale);
        break;
      case FieldKind::kNation:
        StoreText(slot, field.slotSize, NationName(ansi));
        break;
    }
  }

  const std::uint32_t textLength = (static_cast<std::uint32_t>(input[3]) << 8) | input[4];
  const std::uint32_t photoLength = (static_cast<std::uint32_t>(input[5]) << 8) | input[6];
  if (length < kHeaderBytes + textLength + photoLength) return -1;
  // A card photo is 1024 bytes; a longer one cannot be held and is refused
  // rather than cut, so that the decoder is never handed a damaged picture.
  if (photoLength > kIdPhotoRoom) return -1;
  std::memcpy(record->photo, input + kHeaderBytes + textLength, photoLength);
  record->photoLength = photoLength;
  return converted;
}

}  // namespace kp
