#include "decode.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "wire/bytes.h"
#include "wire/frame.h"
#include "wire/nibble.h"
#include "wire/tlv.h"

namespace kpdev::tool {

namespace {

std::string Hex2(std::uint8_t b) { return kp::wire::ToHex(&b, 1); }

bool AllDigits(const std::string& text) {
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return !text.empty();
}

// Printable ASCII of the bytes, or empty when any byte is not.
std::string Spelled(const Bytes& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    if (b < 0x20 || b > 0x7E) return {};
    text += static_cast<char>(b);
  }
  return text;
}

}  // namespace

bool HexToBytes(const std::string& hex, Bytes* out) {
  out->clear();
  return kp::wire::FromHex(hex, out);
}

std::string BytesToHex(const std::uint8_t* data, std::size_t size) { return kp::wire::ToHex(data, size); }

// ------------------------------------------------------------ seat states

std::string CardStateName(int state) {
  switch (state) {
    case 1:
      return "empty";
    case 2:
      return "card present, not powered";
    case 3:
      return "card powered";
    case 4:
      return "card mute (no answer to reset)";
    case 8:
      return "card of another technology";
    case 9:
      return "device state 2003";
    case 10:
      return "device state 2004";
    case 18:
      return "device state 3003";
    case 19:
      return "device state 3004";
    case 20:
      return "contactless card halted";
    default:
      return "unknown state";
  }
}

// ------------------------------------------------------------ answer to reset

namespace {

// Clock rate conversion factor Fi and the highest clock frequency (in
// units of 0.1 MHz), by the high nibble of TA1; 0 where reserved.
const int kFi[16] = {372, 372, 558, 744, 1116, 1488, 1860, 0, 0, 512, 768, 1024, 1536, 2048, 0, 0};
const int kFmaxTenths[16] = {40, 50, 60, 80, 120, 160, 200, 0, 0, 50, 75, 100, 150, 200, 0, 0};
// Baud rate adjustment factor Di by the low nibble of TA1; 0 where reserved.
const int kDi[16] = {0, 1, 2, 4, 8, 16, 32, 64, 12, 20, 0, 0, 0, 0, 0, 0};

std::string MeaningOf(char kind, int index, std::uint8_t value, int protocol) {
  char text[96];
  if (kind == 'A' && index == 1) {
    const int fi = kFi[value >> 4], di = kDi[value & 0x0F];
    if (fi == 0 || di == 0) return "Fi/Di reserved";
    std::snprintf(text, sizeof text, "Fi=%d Di=%d, up to %d.%d MHz", fi, di, kFmaxTenths[value >> 4] / 10,
                  kFmaxTenths[value >> 4] % 10);
    return text;
  }
  if (kind == 'B' && index == 1) return "programming voltage (not used)";
  if (kind == 'C' && index == 1) {
    std::snprintf(text, sizeof text, "extra guard time N=%d", value);
    return text;
  }
  if (kind == 'A' && index == 2) {
    std::snprintf(text, sizeof text, "specific mode T=%d%s", value & 0x0F,
                  (value & 0x10) != 0 ? ", implicit Fi/Di" : "");
    return text;
  }
  if (kind == 'C' && index == 2 && protocol == 0) {
    std::snprintf(text, sizeof text, "work waiting time WI=%d", value);
    return text;
  }
  if (kind == 'D') {
    std::snprintf(text, sizeof text, "T=%d follows", value & 0x0F);
    return text;
  }
  if (protocol == 1 && index >= 3) {
    if (kind == 'A') {
      std::snprintf(text, sizeof text, "T=1 IFSC %d", value);
      return text;
    }
    if (kind == 'B') {
      std::snprintf(text, sizeof text, "T=1 BWI %d CWI %d", value >> 4, value & 0x0F);
      return text;
    }
    if (kind == 'C') return (value & 1) != 0 ? "T=1 error detection CRC" : "T=1 error detection LRC";
  }
  return {};
}

}  // namespace

Atr ParseAtr(const Bytes& atr) {
  Atr out;
  if (atr.size() < 2) {
    out.error = "shorter than TS and T0";
    return out;
  }
  const std::uint8_t ts = atr[0];
  out.fields.push_back({"TS", ts,
                        ts == 0x3B   ? "direct convention"
                        : ts == 0x3F ? "inverse convention"
                                     : "not a valid initial character"});
  const std::uint8_t t0 = atr[1];
  const int historicalCount = t0 & 0x0F;
  out.fields.push_back({"T0", t0, std::to_string(historicalCount) + " historical bytes"});
  std::size_t at = 2;
  std::uint8_t y = t0 >> 4;
  int index = 1;
  int protocol = 0;  // the protocol the interface bytes of this group belong to
  bool anyOtherThanT0 = false;
  bool sawTd = false;
  while (y != 0) {
    std::uint8_t td = 0;
    bool hasTd = false;
    for (int bit = 0; bit < 4; ++bit) {
      if ((y & (1 << bit)) == 0) continue;
      if (at >= atr.size()) {
        out.error = "interface bytes cut short";
        return out;
      }
      const char kind = "ABCD"[bit];
      const std::uint8_t value = atr[at++];
      out.fields.push_back(
          {std::string("T") + kind + std::to_string(index), value, MeaningOf(kind, index, value, protocol)});
      if (kind == 'D') {
        td = value;
        hasTd = true;
      }
    }
    if (!hasTd) break;
    sawTd = true;
    protocol = td & 0x0F;
    bool known = protocol == 15;  // T=15 carries global bytes, not a protocol
    for (int p : out.protocols) known = known || p == protocol;
    if (!known) out.protocols.push_back(protocol);
    if (protocol != 0) anyOtherThanT0 = true;
    y = td >> 4;
    ++index;
  }
  if (!sawTd) out.protocols.push_back(0);
  if (at + static_cast<std::size_t>(historicalCount) > atr.size()) {
    out.error = "historical bytes cut short";
    return out;
  }
  out.historical.assign(atr.begin() + static_cast<long>(at), atr.begin() + static_cast<long>(at + historicalCount));
  at += static_cast<std::size_t>(historicalCount);
  out.hasTck = anyOtherThanT0;
  if (out.hasTck) {
    if (at >= atr.size()) {
      out.error = "check byte TCK missing";
      return out;
    }
    std::uint8_t x = 0;
    for (std::size_t i = 1; i <= at; ++i) x ^= atr[i];
    out.tckOk = x == 0;
    out.fields.push_back({"TCK", atr[at], out.tckOk ? "check byte correct" : "check byte wrong"});
    ++at;
  }
  if (at != atr.size()) {
    out.error = std::to_string(atr.size() - at) + " bytes after the end";
    return out;
  }
  out.ok = true;
  return out;
}

nlohmann::json AtrJson(const Atr& atr) {
  nlohmann::json j;
  j["valid"] = atr.ok;
  if (!atr.ok) j["error"] = atr.error;
  nlohmann::json fields = nlohmann::json::array();
  for (const AtrField& f : atr.fields) {
    fields.push_back({{"name", f.name}, {"value", Hex2(f.value)}, {"meaning", f.meaning}});
  }
  j["fields"] = fields;
  j["protocols"] = atr.protocols;
  j["historical"] = BytesToHex(atr.historical);
  const std::string spelled = Spelled(atr.historical);
  if (!spelled.empty()) j["historical_text"] = spelled;
  if (atr.hasTck) j["tck_ok"] = atr.tckOk;
  return j;
}

std::vector<std::string> AtrLines(const Atr& atr, const std::string& indent) {
  std::vector<std::string> lines;
  for (const AtrField& f : atr.fields) {
    lines.push_back(indent + f.name + std::string(f.name.size() < 4 ? 4 - f.name.size() : 0, ' ') + " " +
                    Hex2(f.value) + (f.meaning.empty() ? "" : "  " + f.meaning));
  }
  std::string protocols;
  for (int p : atr.protocols) protocols += (protocols.empty() ? "T=" : ", T=") + std::to_string(p);
  lines.push_back(indent + "protocols " + protocols);
  if (!atr.historical.empty()) {
    const std::string spelled = Spelled(atr.historical);
    lines.push_back(indent + "historical " + BytesToHex(atr.historical) +
                    (spelled.empty() ? "" : "  \"" + spelled + "\""));
  }
  if (!atr.ok) lines.push_back(indent + "invalid: " + atr.error);
  return lines;
}

// ------------------------------------------------------------ BER-TLV

namespace {

bool ParseObjects(const std::uint8_t* data, std::size_t size, std::vector<Tlv>* out, std::string* error, int depth) {
  using kp::wire::TlvRead;
  std::size_t at = 0;
  for (;;) {
    kp::wire::Tlv element;
    const TlvRead read = kp::wire::ReadTlv(data, &at, size, &element);
    if (read == TlvRead::kEnd) return true;
    const std::string tag = BytesToHex(data + element.tagAt, element.tagSize);
    switch (read) {
      case TlvRead::kOk:
      case TlvRead::kEnd:
        break;
      case TlvRead::kTagCut:
        *error = "tag cut short at offset " + std::to_string(element.tagAt);
        return false;
      case TlvRead::kTagTooLong:
        *error = "tag longer than 4 bytes at offset " + std::to_string(element.tagAt);
        return false;
      case TlvRead::kLengthMissing:
        *error = "length of " + tag + " missing";
        return false;
      case TlvRead::kIndefinite:
        *error = "indefinite length of " + tag;
        return false;
      case TlvRead::kLengthCut:
        *error = "length of " + tag + " cut short";
        return false;
      case TlvRead::kValuePastEnd:
        *error = "value of " + tag + " runs " + std::to_string(element.length - (size - element.valueAt)) +
                 " bytes past the end";
        return false;
    }
    Tlv tlv;
    tlv.tag = tag;
    tlv.constructed = element.constructed;
    tlv.value.assign(data + element.valueAt, data + element.valueAt + element.length);
    if (tlv.constructed && depth < 16) {
      std::string inner;
      if (!ParseObjects(tlv.value.data(), tlv.value.size(), &tlv.children, &inner, depth + 1)) tlv.children.clear();
    }
    out->push_back(std::move(tlv));
  }
}

struct TagName {
  const char* tag;
  const char* name;
};

const TagName kEmvTags[] = {
    {"42", "issuer identification number"},
    {"4F", "application identifier (AID)"},
    {"50", "application label"},
    {"57", "Track 2 equivalent data"},
    {"5A", "application PAN"},
    {"5F20", "cardholder name"},
    {"5F24", "application expiration date"},
    {"5F25", "application effective date"},
    {"5F28", "issuer country code"},
    {"5F2A", "transaction currency code"},
    {"5F2D", "language preference"},
    {"5F30", "service code"},
    {"5F34", "PAN sequence number"},
    {"5F36", "transaction currency exponent"},
    {"61", "application template"},
    {"6F", "FCI template"},
    {"70", "record template"},
    {"77", "response message template format 2"},
    {"80", "response message template format 1"},
    {"82", "application interchange profile"},
    {"84", "dedicated file name"},
    {"87", "application priority indicator"},
    {"88", "short file identifier"},
    {"8C", "CDOL1"},
    {"8D", "CDOL2"},
    {"8E", "CVM list"},
    {"8F", "CA public key index"},
    {"90", "issuer public key certificate"},
    {"92", "issuer public key remainder"},
    {"93", "signed static application data"},
    {"94", "application file locator"},
    {"95", "terminal verification results"},
    {"9A", "transaction date"},
    {"9C", "transaction type"},
    {"9F02", "amount, authorised"},
    {"9F03", "amount, other"},
    {"9F07", "application usage control"},
    {"9F08", "application version number"},
    {"9F0D", "issuer action code, default"},
    {"9F0E", "issuer action code, denial"},
    {"9F0F", "issuer action code, online"},
    {"9F10", "issuer application data"},
    {"9F11", "issuer code table index"},
    {"9F12", "application preferred name"},
    {"9F13", "last online ATC register"},
    {"9F14", "lower consecutive offline limit"},
    {"9F17", "PIN try counter"},
    {"9F1A", "terminal country code"},
    {"9F1F", "track 1 discretionary data"},
    {"9F21", "transaction time"},
    {"9F23", "upper consecutive offline limit"},
    {"9F26", "application cryptogram"},
    {"9F27", "cryptogram information data"},
    {"9F32", "issuer public key exponent"},
    {"9F33", "terminal capabilities"},
    {"9F35", "terminal type"},
    {"9F36", "application transaction counter"},
    {"9F37", "unpredictable number"},
    {"9F38", "PDOL"},
    {"9F42", "application currency code"},
    {"9F44", "application currency exponent"},
    {"9F46", "ICC public key certificate"},
    {"9F47", "ICC public key exponent"},
    {"9F48", "ICC public key remainder"},
    {"9F49", "DDOL"},
    {"9F4A", "static data authentication tag list"},
    {"9F4D", "log entry"},
    {"9F4E", "merchant name and location"},
    {"9F4F", "log format"},
    {"9F66", "terminal transaction qualifiers"},
    {"9F6C", "card transaction qualifiers"},
    {"9F79", "electronic cash balance"},
    {"A5", "FCI proprietary template"},
    {"BF0C", "FCI issuer discretionary data"},
};

}  // namespace

bool ParseTlv(const Bytes& data, std::vector<Tlv>* out, std::string* error) {
  out->clear();
  return ParseObjects(data.data(), data.size(), out, error, 0);
}

const char* EmvTagName(const std::string& tag) {
  for (const TagName& t : kEmvTags) {
    if (tag == t.tag) return t.name;
  }
  return "";
}

nlohmann::json TlvJson(const std::vector<Tlv>& objects) {
  nlohmann::json list = nlohmann::json::array();
  for (const Tlv& t : objects) {
    nlohmann::json j{{"tag", t.tag}, {"length", t.value.size()}};
    const char* name = EmvTagName(t.tag);
    if (*name != '\0') j["name"] = name;
    if (!t.children.empty()) {
      j["children"] = TlvJson(t.children);
    } else {
      j["value"] = BytesToHex(t.value);
    }
    list.push_back(std::move(j));
  }
  return list;
}

std::vector<std::string> TlvLines(const std::vector<Tlv>& objects, int depth) {
  std::vector<std::string> lines;
  const std::string indent(static_cast<std::size_t>(2 * depth), ' ');
  for (const Tlv& t : objects) {
    const char* name = EmvTagName(t.tag);
    std::string line = indent + t.tag + " " + (*name != '\0' ? std::string(name) + " " : "") + "(" +
                       std::to_string(t.value.size()) + ")";
    if (t.children.empty()) {
      line += " " + BytesToHex(t.value);
      // Texts such as labels and names are shown spelled out too.
      const std::string spelled = Spelled(t.value);
      if (spelled.size() >= 3 && (t.tag == "50" || t.tag == "5F20" || t.tag == "9F12" || t.tag == "5F2D")) {
        line += "  \"" + spelled + "\"";
      }
    }
    lines.push_back(line);
    if (!t.children.empty()) {
      const std::vector<std::string> inner = TlvLines(t.children, depth + 1);
      lines.insert(lines.end(), inner.begin(), inner.end());
    }
  }
  return lines;
}

// ------------------------------------------------------------ tracks

namespace {

// Expiry YYMM, service code and discretionary data after the separator.
bool SplitAfterSeparator(const std::string& rest, Track* track) {
  if (rest.size() < 7 || !AllDigits(rest.substr(0, 7))) return false;
  track->expiry = rest.substr(0, 4);
  track->service = rest.substr(4, 3);
  track->discretionary = rest.substr(7);
  return true;
}

std::string WithoutSentinels(std::string text, char start) {
  if (!text.empty() && text.front() == start) text.erase(0, 1);
  const std::size_t end = text.find('?');
  if (end != std::string::npos) text.erase(end);
  return text;
}

}  // namespace

Track ParseTrack2(const std::string& text) {
  Track track;
  std::string body = WithoutSentinels(text, ';');
  if (!body.empty() && (body.back() == 'F' || body.back() == 'f')) {
    body.pop_back();
    track.padded = true;
  }
  std::size_t separator = body.find_first_of("Dd=");
  if (separator == std::string::npos || separator < 1 || separator > 19 || !AllDigits(body.substr(0, separator))) {
    return track;
  }
  track.pan = body.substr(0, separator);
  if (!SplitAfterSeparator(body.substr(separator + 1), &track)) return Track{};
  track.ok = true;
  return track;
}

Track ParseTrack1(const std::string& text) {
  Track track;
  const std::string body = WithoutSentinels(text, '%');
  if (body.empty() || body[0] != 'B') return track;
  const std::size_t first = body.find('^');
  const std::size_t second = first == std::string::npos ? first : body.find('^', first + 1);
  if (second == std::string::npos || first < 2 || !AllDigits(body.substr(1, first - 1))) return track;
  track.pan = body.substr(1, first - 1);
  track.name = body.substr(first + 1, second - first - 1);
  while (!track.name.empty() && track.name.back() == ' ') track.name.pop_back();
  if (!SplitAfterSeparator(body.substr(second + 1), &track)) return Track{};
  track.ok = true;
  return track;
}

std::string ServiceCodeMeaning(const std::string& code) {
  if (code.size() != 3 || !AllDigits(code)) return {};
  std::string first, second, third;
  switch (code[0]) {
    case '1':
      first = "international";
      break;
    case '2':
      first = "international, chip";
      break;
    case '5':
      first = "national";
      break;
    case '6':
      first = "national, chip";
      break;
    case '7':
      first = "private";
      break;
    case '9':
      first = "test";
      break;
    default:
      first = "reserved";
      break;
  }
  switch (code[1]) {
    case '0':
      second = "normal authorisation";
      break;
    case '2':
      second = "online authorisation by issuer";
      break;
    case '4':
      second = "authorisation by issuer unless agreed";
      break;
    default:
      second = "reserved";
      break;
  }
  switch (code[2]) {
    case '0':
      third = "PIN required";
      break;
    case '1':
      third = "no restrictions";
      break;
    case '2':
      third = "goods and services only";
      break;
    case '3':
      third = "ATM only, PIN required";
      break;
    case '4':
      third = "cash only";
      break;
    case '5':
      third = "goods and services only, PIN required";
      break;
    case '6':
      third = "no restrictions, PIN when possible";
      break;
    case '7':
      third = "goods and services only, PIN when possible";
      break;
    default:
      third = "reserved";
      break;
  }
  return first + "; " + second + "; " + third;
}

nlohmann::json TrackJson(const Track& track) {
  nlohmann::json j;
  if (!track.ok) return j;
  j["pan"] = track.pan;
  if (!track.name.empty()) j["name"] = track.name;
  j["expiry"] = track.expiry;
  j["service"] = track.service;
  j["service_meaning"] = ServiceCodeMeaning(track.service);
  j["discretionary"] = track.discretionary;
  if (track.padded) j["padded"] = true;
  return j;
}

std::vector<std::pair<std::string, std::string>> TrackFields(const Track& track) {
  std::vector<std::pair<std::string, std::string>> fields;
  if (!track.ok) return fields;
  fields.emplace_back("pan", track.pan);
  if (!track.name.empty()) fields.emplace_back("name", track.name);
  fields.emplace_back("expiry", track.expiry + " (20" + track.expiry.substr(0, 2) + "-" + track.expiry.substr(2) + ")");
  fields.emplace_back("service", track.service + " (" + ServiceCodeMeaning(track.service) + ")");
  fields.emplace_back("discretionary", track.discretionary.empty() ? "(none)" : track.discretionary);
  return fields;
}

// ------------------------------------------------------------ amounts

bool ParseAmount(const std::string& text, long long* cents, bool allowNegative) {
  std::size_t at = 0;
  bool negative = false;
  if (allowNegative && !text.empty() && text[0] == '-') {
    negative = true;
    at = 1;
  }
  const std::size_t dot = text.find('.', at);
  const std::string whole = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
  const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (!AllDigits(whole) || whole.size() > 13 || fraction.size() > 2) return false;
  if (dot != std::string::npos && !AllDigits(fraction)) return false;
  long long value = std::stoll(whole) * 100;
  if (!fraction.empty()) value += std::stoll(fraction) * (fraction.size() == 1 ? 10 : 1);
  *cents = negative ? -value : value;
  return true;
}

std::string FormatAmount(long long cents) {
  const unsigned long long magnitude =
      cents < 0 ? 0ULL - static_cast<unsigned long long>(cents) : static_cast<unsigned long long>(cents);
  char text[40];
  std::snprintf(text, sizeof text, "%s%llu.%02llu", cents < 0 ? "-" : "", magnitude / 100, magnitude % 100);
  return text;
}

long long CentsOfFloat(float value) { return static_cast<long long>(static_cast<double>(value) * 100.0); }

long long RoundCents(float value) { return std::llround(static_cast<double>(value) * 100.0); }

bool FloatForCents(long long cents, float* value) {
  // The nearest float may land just below the count (0.29 is 0.28999999),
  // which truncation would turn into 28: try its neighbours too.
  float candidate = static_cast<float>(static_cast<double>(cents) / 100.0);
  for (int i = 0; i < 2; ++i) candidate = std::nextafter(candidate, -HUGE_VALF);
  for (int i = 0; i < 5; ++i) {
    if (CentsOfFloat(candidate) == cents) {
      *value = candidate;
      return true;
    }
    candidate = std::nextafter(candidate, HUGE_VALF);
  }
  return false;
}

// ------------------------------------------------------------ the serial line

namespace {

// Bytes from `count` pairs of nibble characters at `at`; false when one is
// not a nibble character.
bool NibblePairs(const Bytes& run, std::size_t at, std::size_t count, Bytes* out) {
  out->clear();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* pair = run.data() + at + 2 * i;
    if (!kp::wire::IsNibbleChar(pair[0]) || !kp::wire::IsNibbleChar(pair[1])) return false;
    out->push_back(static_cast<std::uint8_t>(kp::wire::NibblesValue(pair, 2)));
  }
  return true;
}

// What the raw sequences outside frames are: the module switch and its
// replies, the type-61 version request; empty for other bytes.
std::string RawMeaning(const Bytes& part) {
  using kp::wire::kEsc;
  if (part.size() < 2 || part[0] != kEsc) return {};
  if (part.size() == 2 && part[1] >= '0' && part[1] <= '2') {
    static const char* const kReplies[] = {"module switched", "module switch refused: speed digit",
                                           "module switch refused: no such module"};
    return kReplies[part[1] - '0'];
  }
  if (part.size() == 3 && part[1] == 'e' && part[2] == 0x00) return "version request (type 61)";
  if (part.size() == 3 && part[1] == '$' && part[2] == 'B') return "module B (magnetic head)";
  if (part.size() == 4 && part[1] == '$' && (part[2] == 'I' || part[2] == 'S') && part[3] >= 0x20 && part[3] < 0x7F) {
    return std::string("module ") + static_cast<char>(part[2]) + ", speed digit " + static_cast<char>(part[3]);
  }
  return {};
}

std::string RawText(const Bytes& run, std::size_t from, std::size_t to) {
  const Bytes part(run.begin() + static_cast<long>(from), run.begin() + static_cast<long>(to));
  const std::string meaning = RawMeaning(part);
  if (!meaning.empty()) return "raw " + BytesToHex(part) + "  " + meaning;
  // A text the type-61 firmware ends with its NUL is still a text.
  Bytes text = part;
  while (!text.empty() && text.back() == 0x00) text.pop_back();
  const std::string spelled = Spelled(text);
  return "raw " + BytesToHex(part) + (spelled.empty() ? "" : "  \"" + spelled + "\"");
}

}  // namespace

std::vector<std::string> DescribeLine(const Bytes& run, bool toDevice) {
  std::vector<std::string> out;
  std::size_t at = 0, rawFrom = 0;
  while (at < run.size()) {
    if (run[at] != kp::wire::kStx || at + kp::wire::kFrameHead > run.size()) {
      ++at;
      continue;
    }
    // A command counts its command code and data; an answer its body.
    const std::size_t bodyBytes = kp::wire::BodyLength(run.data() + at);
    const std::size_t end = at + kp::wire::kFrameHead + 2 * bodyBytes + kp::wire::kFrameTail;
    if (end > run.size() || run[end - 1] != kp::wire::kEtx || (toDevice && bodyBytes < 2)) {
      ++at;
      continue;
    }
    Bytes body;
    if (!NibblePairs(run, at + 5, bodyBytes, &body)) {
      ++at;
      continue;
    }
    if (rawFrom < at) out.push_back(RawText(run, rawFrom, at));
    std::string text;
    if (toDevice) {
      text = "command " + BytesToHex(body.data(), 2);
    } else {
      text = bodyBytes >= 2 ? "status " + BytesToHex(body.data(), 2) : "answer";
    }
    if (body.size() > 2) text += " data " + BytesToHex(body.data() + 2, body.size() - 2);
    Bytes check;
    if (NibblePairs(run, end - 3, 1, &check)) {
      const std::uint8_t x = kp::wire::Xor(body.data(), body.size());
      // Only command frames carry a checksum the device checks.
      if (toDevice && x != check[0]) text += " (checksum " + Hex2(check[0]) + ", expected " + Hex2(x) + ")";
    }
    out.push_back(text);
    at = rawFrom = end;
  }
  if (rawFrom < run.size()) out.push_back(RawText(run, rawFrom, run.size()));
  return out;
}

void LineStream::Emit(std::size_t count, std::vector<LineEvent>* out) {
  const Bytes run(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
  for (std::string& text : DescribeLine(run, heldToDevice_)) out->push_back({heldToDevice_, std::move(text)});
}

std::vector<LineEvent> LineStream::Add(const Bytes& bytes, bool toDevice) {
  std::vector<LineEvent> out;
  if (!held_.empty() && heldToDevice_ != toDevice) out = Flush();
  heldToDevice_ = toDevice;
  held_.insert(held_.end(), bytes.begin(), bytes.end());
  // Each pass hands out one whole frame, or the bytes before the next
  // STX, from the front; it ends when the front is still incomplete.
  while (!held_.empty()) {
    std::size_t frameEnd = 0;
    if (held_[0] == kp::wire::kStx) {
      if (held_.size() < kp::wire::kFrameHead) break;
      frameEnd = kp::wire::kFrameHead + 2 * kp::wire::BodyLength(held_.data()) + kp::wire::kFrameTail;
      if (frameEnd <= kMaxRun && held_.size() < frameEnd) break;
      if (frameEnd > kMaxRun || held_[frameEnd - 1] != kp::wire::kEtx) frameEnd = 0;  // not a frame after all
    }
    if (frameEnd > 0) {
      Emit(frameEnd, &out);
      continue;
    }
    std::size_t next = 1;
    while (next < held_.size() && held_[next] != kp::wire::kStx) ++next;
    if (next == held_.size()) break;
    Emit(next, &out);
  }
  if (held_.size() > kMaxRun) Emit(held_.size(), &out);
  return out;
}

std::vector<LineEvent> LineStream::Flush() {
  std::vector<LineEvent> out;
  if (!held_.empty()) Emit(held_.size(), &out);
  return out;
}

// ------------------------------------------------------------ versions

std::string SpelledVersion(const std::string& hex) {
  Bytes bytes;
  if (hex.empty() || !HexToBytes(hex, &bytes)) return {};
  return Spelled(bytes);
}

std::string DescribeVersion(const std::string& reported, bool hexText) {
  if (!hexText) return reported;
  const std::string spelled = SpelledVersion(reported);
  return spelled.empty() ? reported : spelled + "  [" + reported + "]";
}

int TypeOfVersion(const std::string& text) {
  struct Token {
    const char* digits;
    int type;
  };
  // Longest first, so that "T61" is not read as "T6".
  static const Token kTokens[] = {{"61", 61}, {"62", 61}, {"0", 0}, {"1", 1}, {"2", 1}, {"5", 1}};
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != 'T') continue;
    if (at > 0 && text[at - 1] != ' ' && text[at - 1] != '-' && text[at - 1] != '_') continue;
    std::size_t end = at + 1;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    const std::string digits = text.substr(at + 1, end - at - 1);
    for (const Token& token : kTokens) {
      if (digits == token.digits) return token.type;
    }
  }
  return -1;
}

// ------------------------------------------------------------ status words

std::string StatusWordMeaning(std::uint16_t sw) {
  const int sw1 = sw >> 8, sw2 = sw & 0xFF;
  char text[96];
  switch (sw1) {
    case 0x61:
      std::snprintf(text, sizeof text, "%d more bytes to fetch with GET RESPONSE", sw2 == 0 ? 256 : sw2);
      return text;
    case 0x6C:
      std::snprintf(text, sizeof text, "wrong length: send again with Le %02X", sw2);
      return text;
    case 0x63:
      if ((sw2 & 0xF0) == 0xC0) {
        std::snprintf(text, sizeof text, "verification failed, %d tries left", sw2 & 0x0F);
        return text;
      }
      break;
    default:
      break;
  }
  struct Named {
    std::uint16_t sw;
    const char* meaning;
  };
  static const Named kNames[] = {
      {0x9000, "normal processing"},
      {0x6200, "warning: memory unchanged"},
      {0x6281, "warning: returned data may be corrupted"},
      {0x6282, "warning: end of file or record reached before Le bytes"},
      {0x6283, "warning: selected file invalidated (application blocked)"},
      {0x6284, "warning: file control information not formatted"},
      {0x6300, "warning: memory changed, or authentication failed"},
      {0x6381, "warning: file filled up by the last write"},
      {0x6400, "execution error: memory unchanged"},
      {0x6500, "execution error: memory changed"},
      {0x6581, "memory failure"},
      {0x6700, "wrong length"},
      {0x6800, "function in CLA not supported"},
      {0x6881, "logical channel not supported"},
      {0x6882, "secure messaging not supported"},
      {0x6900, "command not allowed"},
      {0x6981, "command incompatible with file structure"},
      {0x6982, "security status not satisfied"},
      {0x6983, "authentication method blocked"},
      {0x6984, "referenced data invalidated (reference data not usable)"},
      {0x6985, "conditions of use not satisfied"},
      {0x6986, "command not allowed (no current EF)"},
      {0x6987, "expected secure messaging data objects missing"},
      {0x6988, "secure messaging data objects incorrect"},
      {0x6A00, "wrong parameters P1-P2"},
      {0x6A80, "incorrect parameters in the data field"},
      {0x6A81, "function not supported (card or application blocked)"},
      {0x6A82, "file or application not found"},
      {0x6A83, "record not found"},
      {0x6A84, "not enough memory space in the file"},
      {0x6A85, "Nc inconsistent with TLV structure"},
      {0x6A86, "incorrect parameters P1-P2"},
      {0x6A87, "Nc inconsistent with P1-P2"},
      {0x6A88, "referenced data not found"},
      {0x6A89, "file already exists"},
      {0x6A8A, "DF name already exists"},
      {0x6B00, "wrong parameters P1-P2 (offset outside the file)"},
      {0x6D00, "instruction code not supported or invalid"},
      {0x6E00, "class not supported"},
      {0x6F00, "no precise diagnosis"},
      // The PBOC electronic purse and wallet answers.
      {0x9302, "invalid MAC"},
      {0x9303, "application permanently blocked"},
      {0x9401, "insufficient funds"},
      {0x9402, "transaction counter at its limit"},
      {0x9403, "key index not supported"},
      {0x9406, "required MAC not available"},
  };
  for (const Named& named : kNames) {
    if (named.sw == sw) return named.meaning;
  }
  if (sw1 == 0x62 || sw1 == 0x63)
    return "warning (non-volatile memory " + std::string(sw1 == 0x62 ? "unchanged)" : "changed)");
  if (sw1 == 0x64 || sw1 == 0x65) return "execution error";
  if (sw1 == 0x67) return "wrong length";
  if (sw1 == 0x68) return "function in CLA not supported";
  if (sw1 == 0x69) return "command not allowed";
  if (sw1 == 0x6A) return "wrong parameters P1-P2";
  return {};
}

// ------------------------------------------------------------ identity card

std::string IdDate(const std::string& yyyymmdd) {
  if (yyyymmdd.size() != 8 || !AllDigits(yyyymmdd)) return yyyymmdd;
  return yyyymmdd.substr(0, 4) + "-" + yyyymmdd.substr(4, 2) + "-" + yyyymmdd.substr(6, 2);
}

}  // namespace kpdev::tool
