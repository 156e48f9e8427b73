// The terminal's side of the card dialogue: the values answered on its
// behalf, the answer to a card's PDOL, the tag search in response texts, the
// "9000" test and the transaction number, date and time.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/convert.h"
#include "base/results.h"
#include "platform/platform.h"
#include "services/emv.h"
#include "wire/bytes.h"

namespace kp {

namespace {

// One byte from (up to) two hex characters, read like a "%02X" field.
int HexByte(std::string_view two) {
  const std::string text(two.substr(0, 2));
  std::uint8_t out[2] = {};
  HexTextToBytes(text.c_str(), static_cast<std::uint16_t>(text.size()), out);
  return out[0];
}

TerminalData MakeTerminalData() {
  TerminalData d;
  d.ttq = "64400000";
  d.amountAuthorised = "000000000000";
  d.amountOther = "000000000000";
  d.terminalCountryCode = "0156";
  d.tvr = "8000000000";
  d.transactionCurrencyCode = "0156";
  d.transactionDate = GetTransactionDate();
  d.transactionType = "60";
  d.unpredictableNumber = "00000000";
  d.vlpIndicator = "FF";
  return d;
}

// The terminal's value for a tag it knows, and whether the value is numeric
// (format n) or not (format b).
struct KnownTag {
  const char* tag;
  std::string TerminalData::*field;
  bool numeric;
};

constexpr KnownTag kKnownTags[] = {
    {"9F7A", &TerminalData::vlpIndicator, false},
    {"9F02", &TerminalData::amountAuthorised, true},
    {"5F2A", &TerminalData::transactionCurrencyCode, true},
    {"9F66", &TerminalData::ttq, false},
    {"9F03", &TerminalData::amountOther, true},
    {"9F1A", &TerminalData::terminalCountryCode, true},
    {"95", &TerminalData::tvr, false},
    {"9A", &TerminalData::transactionDate, true},
    {"9C", &TerminalData::transactionType, true},
    {"9F37", &TerminalData::unpredictableNumber, false},
};

// A value fitted to the chars the card asks for, so the PDOL data always
// has the length the card computes from its own list: a numeric value is
// padded with leading zeros or keeps its rightmost digits, any other value
// is padded with trailing zeros or keeps its leftmost bytes.
std::string Fit(const std::string& value, std::size_t chars, bool numeric) {
  if (value.size() == chars) return value;
  if (value.size() < chars) {
    const std::string pad(chars - value.size(), '0');
    return numeric ? pad + value : value + pad;
  }
  return numeric ? value.substr(value.size() - chars) : value.substr(0, chars);
}

std::string AnswerEntry(std::string_view tag, int length) {
  const std::size_t chars = 2 * static_cast<std::size_t>(length);
  for (const KnownTag& known : kKnownTags) {
    if (tag != known.tag) continue;
    // The date is the one value that changes: it is taken now, for this
    // answer only, so concurrent services never share a text being written.
    if (known.field == &TerminalData::transactionDate) return Fit(GetTransactionDate(), chars, known.numeric);
    return Fit(g_terminalData.*known.field, chars, known.numeric);
  }
  return std::string(chars, '0');
}

}  // namespace

std::string SelectCommand(const std::string& aid) {
  return "00A40400" + ByteToHex(static_cast<int>(aid.size() / 2)) + aid;
}

const TerminalData g_terminalData = MakeTerminalData();

namespace {

// The tag search reads two forms of an answer: its hex text, two characters
// a byte (the exported search, on whatever text the caller hands over), and
// its bytes (the services, on the card's answer).  It is written once, over
// the form's unit; on an answer that is hex text of bytes both forms find
// the same element.
struct TextForm {
  using Unit = char;
  static constexpr std::size_t kPerByte = 2;
  static constexpr std::size_t kLimit = kMaxSearchText;
  static std::size_t LengthAt(const char* at) { return static_cast<std::size_t>(HexByte(std::string_view(at, 2))); }
};
struct ByteForm {
  using Unit = std::uint8_t;
  static constexpr std::size_t kPerByte = 1;
  // The whole bytes of kMaxSearchText characters of hex text.
  static constexpr std::size_t kLimit = kMaxSearchText / 2;
  static std::size_t LengthAt(const std::uint8_t* at) { return *at; }
};

// Where the value of the element found starts and how many units it has.
struct Found {
  std::size_t at;
  std::size_t size;
};

template <typename Form, typename Unit = typename Form::Unit>
std::optional<Found> SearchTag(const Unit* data, std::size_t size, const Unit* tag, std::size_t tagSize, bool track2) {
  constexpr std::size_t kPerByte = Form::kPerByte;
  if (tagSize == 0) return std::nullopt;
  if (size > Form::kLimit) size = Form::kLimit;
  const Unit* const end = data + size;
  std::size_t from = 0;
  // Each round moves past the occurrence it looked at: at most size rounds.
  while (from < size) {
    const std::size_t at = static_cast<std::size_t>(std::search(data + from, end, tag, tag + tagSize) - data);
    if (at == size) return std::nullopt;
    // An occurrence that does not start a byte is part of something else.
    if (at % kPerByte != 0) {
      from = at + 1;
      continue;
    }
    const std::size_t lengthAt = at + tagSize;
    const std::size_t valueAt = lengthAt + kPerByte;
    if (valueAt > size) {
      from = at + kPerByte;
      continue;
    }
    const std::size_t units = kPerByte * Form::LengthAt(data + lengthAt);
    // A value running past the end of the answer is no element of it; Track
    // 2 equivalent data is 8 to 25 bytes long.
    if (units > size - valueAt || (track2 && (units < 8 * kPerByte || units > 25 * kPerByte))) {
      from = at + kPerByte;
      continue;
    }
    return Found{valueAt, units};
  }
  return std::nullopt;
}

// Track 2 equivalent data is any tag whose text holds "57".
bool IsTrack2Tag(std::string_view tagText) { return tagText.find("57") != std::string_view::npos; }

}  // namespace

std::optional<std::string_view> FindTagValue(std::string_view text, std::string_view tag) {
  const std::optional<Found> found =
      SearchTag<TextForm>(text.data(), text.size(), tag.data(), tag.size(), IsTrack2Tag(tag));
  if (!found) return std::nullopt;
  return text.substr(found->at, found->size);
}

std::optional<Bytes> FindTagValue(const Bytes& answer, const Bytes& tag) {
  const std::optional<Found> found =
      SearchTag<ByteForm>(answer.data(), answer.size(), tag.data(), tag.size(), IsTrack2Tag(ToHex(tag)));
  if (!found) return std::nullopt;
  const auto first = answer.begin() + static_cast<std::ptrdiff_t>(found->at);
  return Bytes(first, first + static_cast<std::ptrdiff_t>(found->size));
}

int FindSubStr(const char* response, const char* tag, char* valueOut) {
  if (response == nullptr || tag == nullptr || valueOut == nullptr) return kErrStatus;
  const std::string_view text(response, strnlen(response, kMaxSearchText));
  const std::string_view name(tag, strnlen(tag, kMaxSearchText));
  const std::optional<std::string_view> value = FindTagValue(text, name);
  if (!value) return kErrStatus;
  // No terminator: callers clear the value text before the search.
  std::memcpy(valueOut, value->data(), value->size());
  return kOk;
}

std::optional<std::uint16_t> StatusWordOf(const Bytes& answer) {
  if (answer.size() < 2) return std::nullopt;
  return wire::Word(answer[answer.size() - 2], answer.back());
}

int CheckStatus9000(const Bytes& answer) {
  return StatusWordOf(answer) == std::uint16_t{0x9000} ? kOk : kCardStatusNot9000;
}

int AnswerPdol(std::string_view selectAnswer, std::string* answer) {
  const std::size_t at = selectAnswer.find("9F38");
  if (at == std::string_view::npos) return -1;
  std::string_view rest = selectAnswer.substr(at + 4);
  const std::size_t listChars = rest.size() >= 2 ? 2 * static_cast<std::size_t>(HexByte(rest.substr(0, 2))) : 0;
  rest = rest.substr(rest.size() >= 2 ? 2 : rest.size());
  // The list ends where its length says, or earlier where the text ends.
  const std::string_view list = rest.substr(0, listChars);

  std::size_t pos = 0;
  while (pos + 2 <= list.size()) {
    // Tags whose first byte has all five low bits set take a second byte.
    const std::size_t tagChars = (HexByte(list.substr(pos, 2)) & 0x1F) == 0x1F ? 4 : 2;
    // An entry cut off by the end of the list cannot be answered.
    if (pos + tagChars + 2 > list.size()) break;
    const std::string_view tag = list.substr(pos, tagChars);
    const int length = HexByte(list.substr(pos + tagChars, 2));
    pos += tagChars + 2;
    answer->append(AnswerEntry(tag, length));
  }
  return kOk;
}

std::string MakeUnpredictableNumber() {
  // Seeded from the clock in seconds at every call, so that two calls in
  // the same second give the same number: callers rely on that, and the
  // card only needs the number to vary between transactions.
  std::srand(static_cast<unsigned>(std::time(nullptr)));  // NOLINT(cert-msc51-cpp)
  std::string number(8, '0');
  for (char& c : number) c = wire::HexDigit(static_cast<unsigned>(std::rand()));  // NOLINT(cert-msc50-cpp)
  return number;
}

std::string GetTransactionDate() {
  const platform::LocalTime now = platform::Now();
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", now.year % 10000, now.month % 100, now.day % 100);
  return std::string(text + 2, 6);
}

std::string GetTransactionTime() {
  const platform::LocalTime now = platform::Now();
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", now.hour % 100, now.minute % 100, now.second % 100);
  return text;
}

int Transmit(const CardChannel& card, const std::string& command, Bytes* answer) {
  answer->clear();
  if (card.stop != nullptr && (*card.stop)()) return kNothingYet;
  return ExchangeChained(card, command, answer);
}

}  // namespace kp
