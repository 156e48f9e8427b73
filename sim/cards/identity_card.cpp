#include "cards/identity_card.h"

#include <cstdlib>

namespace kpsim {

namespace {

struct FieldLayout {
  const char* key;
  std::u16string IdentityCard::Fields::*member;
  std::size_t offset;  // in the text block, bytes
  std::size_t width;   // characters
};

const FieldLayout kFieldLayouts[] = {
    {"name", &IdentityCard::Fields::name, 0, 15},
    {"sex", &IdentityCard::Fields::sex, 30, 1},
    {"nation", &IdentityCard::Fields::nation, 32, 2},
    {"birth", &IdentityCard::Fields::birth, 36, 8},
    {"address", &IdentityCard::Fields::address, 52, 35},
    {"number", &IdentityCard::Fields::number, 122, 18},
    {"authority", &IdentityCard::Fields::authority, 158, 15},
    {"validity", &IdentityCard::Fields::validity, 188, 16},
};
// The reserved area at the end of the block holds spaces.
constexpr std::size_t kReservedOffset = 220;

// The sample card's texts (UTF-8); the ID number's last digit is its check
// digit (weights 7 9 10 5 8 4 2 1 6 3 7 9 10 5 8 4 2, sum mod 11 → 1 0 X 9
// 8 7 6 5 4 3 2), and its sequence number is odd, as for a man.
constexpr const char* kSample[] = {
    "陈思远",                                // name
    "1",                                     // sex: male
    "01",                                    // nation
    "19880312",                              // birth date
    "江南省临川市青石区梧桐路18号3栋502室",  // address
    "350102198803120511",                    // ID number
    "临川市公安局青石分局",                  // issuing authority
    "2016031220360312",                      // validity period
};

// Photo bytes that differ from byte to byte and from card to card length.
Bytes SamplePhoto(std::size_t size) {
  Bytes photo(size);
  for (std::size_t i = 0; i < size; ++i) photo[i] = static_cast<std::uint8_t>((i * 37 + 11) & 0xFF);
  return photo;
}

unsigned long NextSerial() {
  static unsigned long serial = 0;
  return ++serial;
}

}  // namespace

bool Utf8ToUcs2(const std::string& text, std::u16string* out) {
  std::u16string result;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    unsigned code = 0;
    std::size_t extra = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F;
      extra = 2;
    } else {
      return false;  // malformed, or outside the basic plane
    }
    if (extra > 0 && i + extra >= text.size()) return false;  // cut short
    for (std::size_t k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    const unsigned minimum = extra == 0 ? 0 : extra == 1 ? 0x80 : 0x800;
    if (code < minimum || (code >= 0xD800 && code <= 0xDFFF)) return false;
    result.push_back(static_cast<char16_t>(code));
    i += 1 + extra;
  }
  *out = std::move(result);
  return true;
}

const char* IdentityCardUsage() {
  return "[name=TEXT] [sex=CODE] [nation=CODE] [birth=YYYYMMDD] [address=TEXT] [number=ID] [authority=TEXT] "
         "[validity=YYYYMMDDYYYYMMDD] [photo=LENGTH|hex:BYTES] [leave=find|select]";
}

IdentityCard::IdentityCard(Fields fields, Bytes photo, Leave leave)
    : fields_(std::move(fields)), photo_(std::move(photo)), leave_(leave), serial_(NextSerial()) {}

std::unique_ptr<IdentityCard> IdentityCard::Sample() {
  std::string error;
  return Make({}, &error);
}

std::unique_ptr<IdentityCard> IdentityCard::Make(const std::vector<std::string>& args, std::string* error) {
  Fields fields;
  for (std::size_t i = 0; i < sizeof kFieldLayouts / sizeof kFieldLayouts[0]; ++i) {
    Utf8ToUcs2(kSample[i], &(fields.*kFieldLayouts[i].member));
  }
  Bytes photo = SamplePhoto(kPhotoBytes);
  Leave leave = Leave::kNever;

  for (const std::string& word : args) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos) {
      *error = "'" + word + "' is not KEY=VALUE; keys: " + IdentityCardUsage();
      return nullptr;
    }
    const struct {
      std::string key;
      std::string value;
    } arg{word.substr(0, equals), word.substr(equals + 1)};
    const FieldLayout* layout = nullptr;
    for (const FieldLayout& candidate : kFieldLayouts) {
      if (arg.key == candidate.key) layout = &candidate;
    }
    if (layout != nullptr) {
      std::u16string value;
      if (!Utf8ToUcs2(arg.value, &value)) {
        *error = arg.key + "= is not UTF-8 text of the basic plane";
        return nullptr;
      }
      if (value.size() > layout->width) {
        *error = arg.key + "= holds at most " + std::to_string(layout->width) + " characters";
        return nullptr;
      }
      fields.*layout->member = std::move(value);
    } else if (arg.key == "photo") {
      if (arg.value.rfind("hex:", 0) == 0) {
        Bytes bytes;
        if (!FromHex(arg.value.substr(4), &bytes) || bytes.size() > kPhotoBytes) {
          *error = "photo=hex: needs at most 1024 bytes of hex";
          return nullptr;
        }
        photo = std::move(bytes);
      } else {
        char* end = nullptr;
        const long length = std::strtol(arg.value.c_str(), &end, 10);
        if (arg.value.empty() || *end != '\0' || length < 0 || length > static_cast<long>(kPhotoBytes)) {
          *error = "photo= needs a length 0 to 1024 or hex:BYTES";
          return nullptr;
        }
        photo = SamplePhoto(static_cast<std::size_t>(length));
      }
    } else if (arg.key == "leave") {
      if (arg.value == "find") {
        leave = Leave::kAfterFind;
      } else if (arg.value == "select") {
        leave = Leave::kAfterSelect;
      } else {
        *error = "leave= is find or select";
        return nullptr;
      }
    } else {
      *error = "unknown key '" + arg.key + "'; keys: " + IdentityCardUsage();
      return nullptr;
    }
  }
  return std::make_unique<IdentityCard>(std::move(fields), std::move(photo), leave);
}

std::string IdentityCard::Summary() const {
  std::string text;
  for (char16_t c : fields_.number) {
    if (c <= 0x20 || c >= 0x7F) return {};
    text.push_back(static_cast<char>(c));
  }
  return text;
}

Bytes IdentityCard::TextBlock() const {
  Bytes block(kTextBlockBytes);
  // Every character position starts as a space (20 00).
  for (std::size_t i = 0; i < kTextBlockBytes; i += 2) block[i] = 0x20;
  for (const FieldLayout& field : kFieldLayouts) {
    const std::u16string& value = fields_.*field.member;
    for (std::size_t k = 0; k < value.size() && k < field.width; ++k) {
      block[field.offset + 2 * k] = static_cast<std::uint8_t>(value[k] & 0xFF);
      block[field.offset + 2 * k + 1] = static_cast<std::uint8_t>(value[k] >> 8);
    }
  }
  static_assert(kReservedOffset + 36 == kTextBlockBytes, "text block layout");
  return block;
}

}  // namespace kpsim
