#include "log/mask.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/platform.h"
#include "wire/bytes.h"

namespace kp {
namespace {

// Tags whose values are secrets of the card or its holder.
struct SecretTag {
  const char* tag;
  bool track;  // account number, separator D, then the rest of the track
  bool pan;    // account number padded with F
};
constexpr SecretTag kSecretTags[] = {
    {"9F6B", true, false}, {"9F1F", false, false}, {"9F20", false, false}, {"5F20", false, false},
    {"57", true, false},   {"5A", false, true},    {"56", false, false},
};

// Digits kept at each end of an account number.
constexpr std::size_t kKeepFirst = 6;
constexpr std::size_t kKeepLast = 4;

// Value of the two hexadecimal characters at text[at], or -1.
int ByteAt(std::string_view text, std::size_t at) { return wire::HexByteAt(text, at); }

// Masks the middle of an account number of n characters at out[at].
void MaskPan(std::string& out, std::size_t at, std::size_t n) {
  if (n <= kKeepFirst + kKeepLast) {
    for (std::size_t i = 0; i < n; ++i) out[at + i] = '*';
    return;
  }
  for (std::size_t i = kKeepFirst; i < n - kKeepLast; ++i) out[at + i] = '*';
}

void MaskValue(std::string& out, std::size_t at, std::size_t n, const SecretTag& tag) {
  if (tag.track || tag.pan) {
    std::size_t pan = 0;
    while (pan < n && std::isdigit(static_cast<unsigned char>(out[at + pan]))) ++pan;
    MaskPan(out, at, pan);
    for (std::size_t i = pan; i < n; ++i) {
      // The padding of an account number says nothing; everything after
      // the separator of a track is secret.
      if (!(tag.pan && (out[at + i] == 'F' || out[at + i] == 'f'))) out[at + i] = '*';
    }
    return;
  }
  for (std::size_t i = 0; i < n; ++i) out[at + i] = '*';
}

bool Luhn(std::string_view digits) {
  int sum = 0;
  bool twice = false;
  for (std::size_t i = digits.size(); i-- > 0;) {
    int d = digits[i] - '0';
    if (twice) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    sum += d;
    twice = !twice;
  }
  return sum % 10 == 0;
}

bool IsCaseFreeEqual(std::string_view text, std::size_t at, const char* tag) {
  const std::size_t n = std::strlen(tag);
  if (at + n > text.size()) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[at + i])) != tag[i]) return false;
  }
  return true;
}

}  // namespace

LogMode CurrentLogMode() {
  const std::string value = platform::GetEnv("KPDEV_LOG");
  if (value == "full") return LogMode::kFull;
  if (value == "off") return LogMode::kOff;
  return LogMode::kMasked;
}

std::string MaskCardData(std::string_view hex) {
  std::string out(hex);
  // The status word closes every answer and stays readable.
  const std::size_t end = hex.size() >= 4 ? hex.size() - 4 : 0;
  for (std::size_t at = 0; at + 4 <= end; at += 2) {
    for (const SecretTag& tag : kSecretTags) {
      if (!IsCaseFreeEqual(hex, at, tag.tag)) continue;
      std::size_t lengthAt = at + std::strlen(tag.tag);
      int length = ByteAt(hex, lengthAt);
      if (length == 0x81) {
        lengthAt += 2;
        length = ByteAt(hex, lengthAt);
      } else if (length > 0x7F) {
        length = -1;
      }
      if (length <= 0) continue;
      const std::size_t valueAt = lengthAt + 2;
      // A value that would run past the data is cut at its end: better one
      // masked byte too many than a secret left standing.
      const std::size_t valueChars =
          std::min<std::size_t>(2 * static_cast<std::size_t>(length), end - std::min(end, valueAt));
      MaskValue(out, valueAt, valueChars, tag);
      // The value's own bytes are no tags; the search goes on after it.
      at = valueAt + valueChars - 2;
      break;
    }
  }
  return out;
}

std::string MaskApduCommand(std::string_view hex) {
  const int ins = ByteAt(hex, 2);
  const bool secretData = ins == 0x20 || ins == 0x24 || ins == 0x82 || ins == 0x88;
  if (secretData && hex.size() > 10) {
    const std::size_t dataChars = hex.size() - 10;
    return std::string(hex.substr(0, 10)) + "<" + std::to_string(dataChars / 2) + " bytes>";
  }
  // Command data carry no status word: mask up to the end.
  return MaskCardData(std::string(hex) + "0000").substr(0, hex.size());
}

std::string MaskAccountNumbers(std::string_view text) {
  std::string out(text);
  std::size_t at = 0;
  while (at < out.size()) {
    if (!std::isdigit(static_cast<unsigned char>(out[at]))) {
      ++at;
      continue;
    }
    std::size_t n = 0;
    while (at + n < out.size() && std::isdigit(static_cast<unsigned char>(out[at + n]))) ++n;
    if (n >= 13 && n <= 19 && Luhn(std::string_view(out).substr(at, n))) MaskPan(out, at, n);
    at += n;
  }
  return out;
}

}  // namespace kp
