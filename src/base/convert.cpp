#include "base/convert.h"

#include <cstring>

#include "wire/bytes.h"
#include "wire/nibble.h"

namespace kp {
namespace {

// The longest hex text the library ever converts in one piece; longer
// lengths are clamped so the work buffer below cannot be overrun.
constexpr std::size_t kMaxHexText = 4096;

// White space as the C library's scanf skips it in the "C" locale.
bool IsScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Value of a short digit string as the hex-to-character export has always
// computed it: leading '0's are skipped, then every character contributes
// (d rem 16) + 10 * (d quot 16) to a base-16 accumulation, where d is its
// distance from 'A' - 10 for 'A'..'F' and from '0' otherwise.  Upper-case
// hex digits come out as their ordinary value; anything else gives the odd
// but established values callers have come to see (for "a0", 0xF0).
int PairValue(const char* field, std::size_t length) {
  std::size_t i = 0;
  while (i < length && field[i] == '0') ++i;
  int value = 0;
  for (; i < length; ++i) {
    // The characters are signed on the platform this behaviour comes from;
    // bytes above 0x7F therefore give negative distances.
    const int c = static_cast<signed char>(field[i]);  // NOLINT(bugprone-signed-char-misuse,cert-str34-c)
    const int d = (c >= 'A' && c <= 'F') ? c - 55 : c - 48;
    value = value * 16 + (d % 16) + 10 * (d / 16);
  }
  return value;
}

}  // namespace

void BytesToHex(const std::uint8_t* bytes, std::size_t count, char* out) {
  if (count == 0) return;
  for (std::size_t i = 0; i < count; ++i) wire::PutHex(bytes[i], out + 2 * i);
  out[2 * count] = '\0';
}

void BytesToHexZ(const std::uint8_t* bytes, std::size_t count, char* out) {
  for (std::size_t i = 0; i < count; ++i) wire::PutHex(bytes[i], out + 2 * i);
  out[2 * count] = '\0';
}

void NibbleTextToBytes(const char* text, std::size_t length, std::uint8_t* out) {
  const std::size_t n = (length + 1) / 2;
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = wire::NibblePairValue(static_cast<std::uint8_t>(text[2 * i]), static_cast<std::uint8_t>(text[2 * i + 1]));
  }
}

void HexTextToBytes(const char* text, std::uint16_t length, std::uint8_t* out) {
  std::size_t len = length;
  if (len > kMaxHexText) len = kMaxHexText;
  // Work on a terminated copy of exactly the given length so that a field
  // never reaches characters the caller did not hand over.
  char work[kMaxHexText + 1] = {};
  std::size_t copied = 0;
  while (copied < len && text[copied] != '\0') {
    work[copied] = text[copied];
    ++copied;
  }
  const std::size_t n = (len + 1) / 2;
  for (std::size_t i = 0; i < n; ++i) {
    // A "%02X" field: white space skipped, then at most two hex digits of
    // either case; a field without digits stores 0.
    const char* p = work + 2 * i;
    while (IsScanSpace(*p)) ++p;
    unsigned value = 0;
    for (int digits = 0; digits < 2; ++digits, ++p) {
      const int v = wire::HexDigitValue(*p);
      if (v < 0) break;
      value = value * 16 + static_cast<unsigned>(v);
    }
    out[i] = static_cast<std::uint8_t>(value);
  }
  out[n] = 0;
}

int CheckHexText(const char* text) {
  if (text == nullptr) return -1;
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return -1;
  }
  return 0;
}

int AscToBcd(const char* text, char* hexOut) {
  if (text == nullptr || hexOut == nullptr) return 0;
  // Each byte is written with its own terminator, so an empty text leaves
  // the output untouched.
  BytesToHex(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text), hexOut);
  return 0;
}

int BcdToAsc(const char* hexText, char* bytesOut) {
  if (hexText == nullptr || bytesOut == nullptr) return 0;
  const std::size_t textLength = std::strlen(hexText);
  const std::size_t n = textLength / 2;
  for (std::size_t i = 0; i < n; ++i) {
    // A "%02s" field: white space skipped, then up to two characters that
    // end early at white space.  Everything read lies before the NUL.
    const char* p = hexText + 2 * i;
    while (IsScanSpace(*p)) ++p;
    std::size_t fieldLength = 0;
    while (fieldLength < 2 && p[fieldLength] != '\0' && !IsScanSpace(p[fieldLength])) ++fieldLength;
    bytesOut[i] = static_cast<char>(static_cast<std::uint8_t>(PairValue(p, fieldLength)));
  }
  return 0;
}

std::string ByteToHex(int value) {
  std::string text(2, '0');
  wire::PutHex(static_cast<std::uint8_t>(value & 0xFF), &text[0]);
  return text;
}

}  // namespace kp
