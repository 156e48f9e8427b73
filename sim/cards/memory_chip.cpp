#include "cards/memory_chip.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "core/status_words.h"

namespace kpsim {

std::uint16_t Secret::Present(const Bytes& candidate) {
  granted_ = false;
  if (tries_ == 0) return kMemoryLocked;
  if (candidate == value_) {
    tries_ = max_tries_;
    granted_ = true;
    return kStatusOk;
  }
  --tries_;
  return tries_ == 0 ? kMemoryLocked : kMemoryWrongPassword;
}

std::string Secret::Describe() const {
  return ToHex(value_) + ":" + std::to_string(tries_) + ":" + (granted_ ? "1" : "0");
}

Reply CounterReply(const Secret& secret) {
  return Reply{secret.locked() ? kMemoryLocked : kStatusOk, Bytes{static_cast<std::uint8_t>(secret.tries())}, {}};
}

std::string SecretSummary(const Secret& secret) {
  std::string text = "tries=" + std::to_string(secret.tries());
  if (secret.locked()) return text + ",locked";
  return secret.granted() ? text + ",granted" : text;
}

std::string AddressRanges(const std::vector<bool>& marks) {
  std::string text;
  for (std::size_t a = 0; a < marks.size(); ++a) {
    if (!marks[a]) continue;
    std::size_t last = a;
    while (last + 1 < marks.size() && marks[last + 1]) ++last;
    if (!text.empty()) text += ',';
    text += std::to_string(a);
    if (last > a) text += "-" + std::to_string(last);
    a = last;
  }
  return text.empty() ? "none" : text;
}

namespace {

// The fields before the secret, and the number they name, for one layout;
// false when the data is too short or its length byte disagrees.
bool SplitSecret(const Bytes& d, SecretLayout layout, SecretRequest* out) {
  std::size_t head = 0;       // bytes before the secret
  std::size_t length_at = 0;  // index of the length byte
  bool has_length = true;
  switch (layout) {
    case SecretLayout::kLengthSecret:
      head = 1;
      break;
    case SecretLayout::kSecretOnly:
      head = 0;
      has_length = false;
      break;
    case SecretLayout::kNumberLengthSecret:
      head = 2;
      length_at = 1;
      break;
    case SecretLayout::kLengthNumberSecret:
      head = 2;
      break;
    case SecretLayout::kNumberSecret:
      head = 1;
      has_length = false;
      break;
    case SecretLayout::kLengthWordSecret:
    case SecretLayout::kLengthSelectSetSecret:
      head = 3;
      break;
  }
  if (d.size() < head) return false;
  if (has_length && d[length_at] != d.size() - head) return false;
  switch (layout) {
    case SecretLayout::kLengthSecret:
    case SecretLayout::kSecretOnly:
      out->number = 0;
      break;
    case SecretLayout::kNumberLengthSecret:
    case SecretLayout::kNumberSecret:
      out->number = d[0];
      break;
    case SecretLayout::kLengthNumberSecret:
      out->number = d[1];
      break;
    case SecretLayout::kLengthWordSecret:
      out->number = Word(d[2], d[1]);
      break;
    case SecretLayout::kLengthSelectSetSecret:
      out->number = d[1] + 2u * d[2];
      break;
  }
  out->secret.assign(d.begin() + static_cast<std::ptrdiff_t>(head), d.end());
  return true;
}

}  // namespace

std::uint16_t ParseSecret(const Bytes& data, std::initializer_list<SecretLayout> layouts,
                          const std::function<std::size_t(unsigned)>& length_of, SecretRequest* out) {
  bool unknown_number = false;
  for (SecretLayout layout : layouts) {
    SecretRequest request;
    if (!SplitSecret(data, layout, &request)) continue;
    const std::size_t length = length_of(request.number);
    if (length == 0) {
      unknown_number = true;
      continue;
    }
    if (request.secret.size() != length) continue;
    *out = std::move(request);
    return kStatusOk;
  }
  return unknown_number ? kMemoryOutOfRange : kStatusBadParameter;
}

bool ParseRead(const Bytes& d, Span* out) {
  if (d.size() != 4) return false;
  *out = Span{0, Word(d[1], d[0]), Word(d[2], d[3]), {}};
  return true;
}

bool ParsePrefixedRead(const Bytes& d, Span* out) {
  if (d.size() != 5) return false;
  *out = Span{d[0], Word(d[2], d[1]), Word(d[3], d[4]), {}};
  return true;
}

bool ParseSuffixedRead(const Bytes& d, Span* out) {
  if (d.size() != 5) return false;
  *out = Span{d[4], Word(d[1], d[0]), Word(d[2], d[3]), {}};
  return true;
}

bool ParseWrite(const Bytes& d, Span* out) {
  if (d.size() < 4 || d.size() != 4u + Word(d[2], d[3])) return false;
  *out = Span{0, Word(d[1], d[0]), Word(d[2], d[3]), Bytes(d.begin() + 4, d.end())};
  return true;
}

bool ParsePrefixedWrite(const Bytes& d, Span* out) {
  if (d.size() < 5 || d.size() != 5u + Word(d[3], d[4])) return false;
  *out = Span{d[0], Word(d[2], d[1]), Word(d[3], d[4]), Bytes(d.begin() + 5, d.end())};
  return true;
}

bool ParseSuffixedWrite(const Bytes& d, Span* out) {
  if (d.size() < 5 || d.size() != 5u + Word(d[2], d[3])) return false;
  *out = Span{d[4], Word(d[1], d[0]), Word(d[2], d[3]), Bytes(d.begin() + 5, d.end())};
  return true;
}

WriteLayout ParseEitherWrite(const Bytes& d, Family family, Span* out) {
  Span prefixed;
  Span plain;
  const bool has_prefixed = ParsePrefixedWrite(d, &prefixed);
  const bool has_plain = ParseWrite(d, &plain);
  if (has_prefixed && (family == Family::kT0 || !has_plain)) {
    *out = std::move(prefixed);
    return WriteLayout::kPrefixed;
  }
  if (!has_plain) return WriteLayout::kNone;
  *out = std::move(plain);
  return WriteLayout::kPlain;
}

bool CardArgs::Parse(const std::vector<std::string>& words, std::string* error) {
  for (const std::string& word : words) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) {
      *error = "expected KEY=VALUE, got '" + word + "'";
      return false;
    }
    if (!values_.emplace(word.substr(0, equals), word.substr(equals + 1)).second) {
      *error = "'" + word.substr(0, equals) + "' given twice";
      return false;
    }
  }
  return true;
}

bool CardArgs::Hex(const std::string& key, Bytes* out, std::string* error) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return true;
  if (!FromHex(it->second, out)) {
    *error = key + "= needs hex digits, two per byte";
    return false;
  }
  return true;
}

bool CardArgs::Number(const std::string& key, long low, long high, long* out, std::string* error) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return true;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(it->second.c_str(), &end, 10);
  if (it->second.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
    *error = key + "= needs a number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  *out = value;
  return true;
}

bool CardArgs::AddressList(const std::string& key, unsigned limit, std::vector<bool>* marks, std::string* error) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return true;
  std::vector<bool> result(limit, false);
  const std::string& text = it->second;
  const std::string bad = key + "= needs addresses below " + std::to_string(limit) + " such as 0-3,7 (or none)";
  if (text != "none") {
    std::size_t at = 0;
    while (at <= text.size()) {
      const std::size_t comma = std::min(text.find(',', at), text.size());
      const std::string item = text.substr(at, comma - at);
      const std::size_t dash = item.find('-');
      char* end = nullptr;
      const unsigned long first = std::strtoul(item.c_str(), &end, 10);
      unsigned long last = first;
      if (item.empty() || (dash == std::string::npos ? *end != '\0' : end != item.c_str() + dash)) {
        *error = bad;
        return false;
      }
      if (dash != std::string::npos) {
        const std::string tail = item.substr(dash + 1);
        last = std::strtoul(tail.c_str(), &end, 10);
        if (tail.empty() || *end != '\0') {
          *error = bad;
          return false;
        }
      }
      if (first > last || last >= limit) {
        *error = bad;
        return false;
      }
      for (unsigned long a = first; a <= last; ++a) result[a] = true;
      at = comma + 1;
    }
  }
  *marks = std::move(result);
  return true;
}

std::string CardArgs::Unknown(const std::vector<std::string>& known) const {
  for (const auto& entry : values_) {
    if (std::find(known.begin(), known.end(), entry.first) == known.end()) return entry.first;
  }
  return {};
}

bool FillFromArgs(const CardArgs& args, Bytes* memory, std::string* error) {
  Bytes data;
  if (!args.Hex("data", &data, error)) return false;
  if (data.size() > memory->size()) {
    *error = "data= holds " + std::to_string(data.size()) + " bytes, the memory " + std::to_string(memory->size());
    return false;
  }
  std::copy(data.begin(), data.end(), memory->begin());
  return true;
}

PscChip::PscChip(std::string kind, std::size_t size, std::size_t protectable, std::size_t psc_size, int tries)
    : memory_(size, 0xFF),
      protected_(protectable, false),
      psc_(Bytes(psc_size, 0xFF), tries),
      kind_(std::move(kind)),
      psc_size_(psc_size),
      max_tries_(tries) {}

std::string PscChip::Settings() const {
  return "psc=HEX" + std::to_string(2 * psc_size_) + " data=HEX tries=0.." + std::to_string(max_tries_) +
         " protect=LIST";
}

bool PscChip::Configure(const CardArgs& args, std::string* error) {
  const std::string unknown = args.Unknown({"psc", "data", "tries", "protect"});
  if (!unknown.empty()) {
    *error = "unknown setting '" + unknown + "' (" + Settings() + ")";
    return false;
  }
  Bytes psc = psc_.value();
  long tries = max_tries_;
  if (!args.Hex("psc", &psc, error) || !args.Number("tries", 0, max_tries_, &tries, error) ||
      !args.AddressList("protect", static_cast<unsigned>(protected_.size()), &protected_, error) ||
      !FillFromArgs(args, &memory_, error)) {
    return false;
  }
  if (psc.size() != psc_size_) {
    *error = "psc= needs " + std::to_string(psc_size_) + " bytes";
    return false;
  }
  psc_.set_value(psc);
  psc_.set_tries(static_cast<int>(tries));
  return true;
}

std::string PscChip::Describe() const {
  return "kind=" + kind_ + " psc=" + ToHex(psc_.value()) + " tries=" + std::to_string(psc_.tries()) +
         " granted=" + (psc_.granted() ? "1" : "0") + " protected=" + AddressRanges(protected_);
}

bool PscChip::Area(const std::string& name, Bytes* out) const {
  if (name == "memory") {
    *out = memory_;
  } else if (name == "protection") {
    out->clear();
    for (bool p : protected_) out->push_back(p ? 0x00 : 0x01);
  } else {
    return false;
  }
  return true;
}

bool PscChip::ExecutePsc(const MemoryCommand& command, Reply* reply) {
  const Bytes& d = command.data;
  // The PSC is password number 0, the chip's only one.
  const auto length_of = [this](unsigned number) { return number == 0 ? psc_size_ : 0; };
  SecretRequest request;
  switch (command.code) {
    case kMemCmdVerify: {
      const std::uint16_t status = ParseSecret(d, {SecretLayout::kLengthSecret}, length_of, &request);
      *reply = Reply::Status(status == kStatusOk ? psc_.Present(request.secret) : status);
      return true;
    }
    case kMemCmdChangePassword: {
      const std::uint16_t status =
          ParseSecret(d, {SecretLayout::kLengthSecret, SecretLayout::kSecretOnly}, length_of, &request);
      if (status != kStatusOk) {
        *reply = Reply::Status(status);
      } else if (!psc_.granted()) {
        *reply = Reply::Status(kMemoryNeedPassword);
      } else {
        psc_.set_value(request.secret);
        *reply = Reply::Ok();
      }
      return true;
    }
    case kMemCmdReadPassword:
      if (!d.empty()) {
        *reply = Reply::Status(kStatusBadParameter);
      } else {
        *reply = Reply::Ok(psc_.granted() ? psc_.value() : Bytes(psc_size_, 0x00));
      }
      return true;
    case kMemCmdReadCounter:
      *reply = d.empty() ? CounterReply(psc_) : Reply::Status(kStatusBadParameter);
      return true;
    default:
      return false;
  }
}

}  // namespace kpsim
