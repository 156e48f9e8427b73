// AT88SC1608: eight user zones of 256 bytes and a 128-byte configuration
// zone, sixteen passwords in eight sets, and mutual authentication.
//
// Zones: 0 to 7 are the user zones, 8 the configuration zone.  Commands
// with a zone byte address within the zone; those without one address the
// chip linearly: zone z at z * 256, the configuration zone at 2048.
//
// Configuration zone: 0x00-0x77 the issuer's area, written until the fuse;
// 0x78-0x7F the cryptogram Ci, which only the card changes (at each
// successful authentication).
//
// Passwords: number n = select + 2 x set, 3 bytes each (FFFFFF), eight tries
// each; set s guards user zone s: the write password (select 0, even n)
// opens it for reading and writing, the read password (select 1, odd n) for
// reading.  Number 16 is the authentication attempts counter (four tries).
//
// Fuses: the fuse byte has bit 0 FAB, bit 1 CMA, bit 2 PER, 1 = blown.  The
// card arrives with FAB and CMA blown (03); the fuse command blows PER (07),
// which personalises the card: user zones need their passwords, the issuer
// area and the secret seed become read-only, and a card made with auth=1
// accepts passwords only after an authentication (until then a password is
// refused with 6005 and costs no try).
//
// Authentication: the host sends a random Q0 (8 bytes) with the init
// command, then its answer Q1 (8 bytes) with the authentication command.
// The card accepts Q1 = Gc XOR Ci XOR Q0, byte by byte, where Gc is the
// 8-byte secret seed (set with the key command before the fuse) and Ci the
// cryptogram read from the configuration zone; it then takes Q1 as its next
// Ci, restores the attempts counter and stays authenticated until it is
// removed or the card module is reset.  A wrong Q1 costs an attempt (6003,
// 3006 when none remain); an authentication without a pending init fails
// without costing one.  (This stands in for the chip's cipher: it has the
// chip's exchange and counter, not its cryptography.)

#include <algorithm>
#include <string>

#include "cards/memory_chip.h"
#include "core/status_words.h"

namespace kpsim {

namespace {

constexpr unsigned kUserZones = 8;
constexpr unsigned kZoneSize = 256;
constexpr unsigned kConfigZone = 8;
constexpr unsigned kConfigStart = kUserZones * kZoneSize;
constexpr unsigned kConfigSize = 128;
constexpr unsigned kCryptogram = 0x78;  // within the configuration zone
constexpr unsigned kSize = kConfigStart + kConfigSize;
constexpr unsigned kPasswords = 16;
constexpr unsigned kAttemptsCounter = 16;
constexpr std::size_t kPasswordSize = 3;
constexpr std::size_t kSeedSize = 8;
constexpr int kPasswordTries = 8;
constexpr int kAuthenticationTries = 4;
constexpr std::uint8_t kFusesFromFactory = 0x03;
constexpr std::uint8_t kPersonalisationFuse = 0x04;

class At88sc1608 : public MemoryChip {
 public:
  At88sc1608() : memory_(kSize, 0xFF), seed_{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08} {
    for (unsigned n = 0; n < kPasswords; ++n) passwords_.emplace_back(Bytes(kPasswordSize, 0xFF), kPasswordTries);
    std::fill(memory_.begin() + kConfigStart + kCryptogram, memory_.end(), 0x00);
  }

  static std::string Settings() {
    return "[data=HEX (user zones from zone 0 on)] [config=HEX (issuer area)] [pwdN=HEX6 (N 0..15)] "
           "[key=HEX16] [ci=HEX16] [auth=0|1] [fused=0|1]";
  }

  bool Configure(const CardArgs& args, std::string* error) {
    std::vector<std::string> names{"data", "config", "key", "ci", "auth", "fused"};
    for (unsigned n = 0; n < kPasswords; ++n) names.push_back("pwd" + std::to_string(n));
    const std::string unknown = args.Unknown(names);
    if (!unknown.empty()) {
      *error = "unknown setting '" + unknown + "' (" + Settings() + ")";
      return false;
    }
    for (unsigned n = 0; n < kPasswords; ++n) {
      const std::string key = "pwd" + std::to_string(n);
      Bytes value = passwords_[n].value();
      if (!args.Hex(key, &value, error)) return false;
      if (value.size() != kPasswordSize) {
        *error = key + "= needs 3 bytes";
        return false;
      }
      passwords_[n].set_value(value);
    }
    Bytes data;
    Bytes config;
    Bytes cryptogram(memory_.begin() + kConfigStart + kCryptogram, memory_.end());
    long auth = 0;
    long fused = 0;
    if (!args.Hex("data", &data, error) || !args.Hex("config", &config, error) || !args.Hex("key", &seed_, error) ||
        !args.Hex("ci", &cryptogram, error) || !args.Number("auth", 0, 1, &auth, error) ||
        !args.Number("fused", 0, 1, &fused, error)) {
      return false;
    }
    if (data.size() > kConfigStart || config.size() > kCryptogram || seed_.size() != kSeedSize ||
        cryptogram.size() != kSeedSize) {
      *error = "data= holds at most 2048 bytes, config= 120, key= and ci= 8 each";
      return false;
    }
    std::copy(data.begin(), data.end(), memory_.begin());
    std::copy(config.begin(), config.end(), memory_.begin() + kConfigStart);
    std::copy(cryptogram.begin(), cryptogram.end(), memory_.begin() + kConfigStart + kCryptogram);
    auth_required_ = auth != 0;
    if (fused != 0) fuses_ |= kPersonalisationFuse;
    return true;
  }

  std::string Kind() const override { return "at88sc1608"; }
  std::string Summary() const override {
    std::string text = personalised() ? "fused" : "unfused";
    return authenticated_ ? text + ",authenticated" : text;
  }
  void OnModuleReset() override {
    for (Secret& password : passwords_) password.Forget();
    authenticated_ = false;
    pending_.clear();
  }

  Reply Execute(const MemoryCommand& command) override {
    const Bytes& d = command.data;
    const auto password_length = [](unsigned n) { return n < kPasswords ? kPasswordSize : 0; };
    SecretRequest request;
    Span span;
    switch (command.code) {
      case kMemCmdVerify: {
        const std::uint16_t status =
            ParseSecret(d,
                        {SecretLayout::kLengthSelectSetSecret, SecretLayout::kLengthNumberSecret,
                         SecretLayout::kNumberLengthSecret, SecretLayout::kLengthSecret},
                        password_length, &request);
        if (status != kStatusOk) return Reply::Status(status);
        if (personalised() && auth_required_ && !authenticated_) return Reply::Status(kMemoryAuthFirst);
        return Reply::Status(passwords_[request.number].Present(request.secret));
      }
      case kMemCmdChangePassword: {
        const std::uint16_t status =
            ParseSecret(d, {SecretLayout::kNumberLengthSecret, SecretLayout::kNumberSecret}, password_length, &request);
        if (status != kStatusOk) return Reply::Status(status);
        if (personalised() && !passwords_[request.number & ~1u].granted()) return Reply::Status(kMemoryNeedPassword);
        passwords_[request.number].set_value(request.secret);
        return Reply::Ok();
      }
      case kMemCmdReadPassword: {
        if (d.size() != 1) return Reply::Status(kStatusBadParameter);
        const unsigned n = d[0];
        if (n >= kPasswords) return Reply::Status(kMemoryOutOfRange);
        if (personalised() && !passwords_[n].granted() && !passwords_[n & ~1u].granted()) {
          return Reply::Status(kMemoryNeedPassword);
        }
        return Reply::Ok(passwords_[n].value());
      }
      case kMemCmdReadCounter: {
        if (d.size() != 1) return Reply::Status(kStatusBadParameter);
        if (d[0] == kAttemptsCounter) return AttemptsReply();
        if (d[0] >= kPasswords) return Reply::Status(kMemoryOutOfRange);
        return CounterReply(passwords_[d[0]]);
      }
      case kMemCmdFuse:
        if (!d.empty()) return Reply::Status(kStatusBadParameter);
        fuses_ |= kPersonalisationFuse;
        return Reply::Ok();
      case kMemCmdReadFuse:
        if (!d.empty()) return Reply::Status(kStatusBadParameter);
        return Reply::Ok({fuses_});
      case kMemCmdInitializeKey: {
        const std::uint16_t status = ParseSecret(
            d, {SecretLayout::kLengthSecret}, [](unsigned n) { return n == 0 ? kSeedSize : 0; }, &request);
        if (status != kStatusOk) return Reply::Status(status);
        if (personalised()) return Reply::Status(kMemoryProtected);
        seed_ = request.secret;
        return Reply::Ok();
      }
      case kMemCmdInitAuthentication:
        if (d.size() != kSeedSize) return Reply::Status(kStatusBadParameter);
        if (attempts_ == 0) return Reply::Status(kMemoryLocked);
        pending_ = d;
        authenticated_ = false;
        return Reply::Ok();
      case kMemCmdAuthenticate:
        if (d.size() != kSeedSize) return Reply::Status(kStatusBadParameter);
        return Authenticate(d);
      case kMemCmdRead:
        if (ParsePrefixedRead(d, &span)) {
          if (!ToLinear(&span)) return Reply::Status(kMemoryOutOfRange);
        } else if (!ParseRead(d, &span)) {
          return Reply::Status(kStatusBadParameter);
        }
        return Read(span);
      case kMemCmdWrite:
        switch (ParseEitherWrite(d, command.family, &span)) {
          case WriteLayout::kPrefixed:
            if (!ToLinear(&span)) return Reply::Status(kMemoryOutOfRange);
            return Write(span);
          case WriteLayout::kPlain:
            return Write(span);
          case WriteLayout::kNone:
            break;
        }
        return Reply::Status(kStatusBadParameter);
      default:
        return Reply::Status(kMemoryWrongCard);
    }
  }

  std::string Describe() const override {
    std::string text = "kind=at88sc1608 fuses=" + ToHex(&fuses_, 1) + " auth=" + (auth_required_ ? "1" : "0") +
                       " authenticated=" + (authenticated_ ? "1" : "0") + " attempts=" + std::to_string(attempts_) +
                       " key=" + ToHex(seed_) + " ci=" + ToHex(Cryptogram());
    for (unsigned n = 0; n < kPasswords; ++n) text += " pwd" + std::to_string(n) + "=" + passwords_[n].Describe();
    return text;
  }

  bool Area(const std::string& name, Bytes* out) const override {
    unsigned start = 0;
    unsigned size = kSize;
    if (name == "config") {
      start = kConfigStart;
      size = kConfigSize;
    } else if (name.size() == 5 && name.compare(0, 4, "zone") == 0 && name[4] >= '0' && name[4] <= '7') {
      start = static_cast<unsigned>(name[4] - '0') * kZoneSize;
      size = kZoneSize;
    } else if (name != "memory") {
      return false;
    }
    out->assign(memory_.begin() + start, memory_.begin() + start + size);
    return true;
  }
  std::string Areas() const override { return "memory,zone0,...,zone7,config"; }

 private:
  bool personalised() const { return (fuses_ & kPersonalisationFuse) != 0; }
  Bytes Cryptogram() const { return Bytes(memory_.begin() + kConfigStart + kCryptogram, memory_.end()); }

  // A zone-relative span made linear; false when it leaves its zone.
  static bool ToLinear(Span* span) {
    const unsigned zone = span->prefix;
    if (zone > kConfigZone) return false;
    const unsigned size = zone == kConfigZone ? kConfigSize : kZoneSize;
    if (span->address > size || span->count > size - span->address) return false;
    span->address += zone * kZoneSize;
    return true;
  }

  bool Granted(unsigned n) const { return passwords_[n].granted(); }

  std::uint16_t Check(const Span& span, bool write) const {
    if (span.address > kSize || span.count > kSize - span.address) return kMemoryOutOfRange;
    for (unsigned a = span.address; a < span.address + span.count; ++a) {
      if (a >= kConfigStart) {
        if (!write) continue;
        if (a - kConfigStart >= kCryptogram || personalised()) return kMemoryProtected;
        continue;
      }
      const unsigned set = a / kZoneSize;
      if (!personalised() || Granted(2 * set) || (!write && Granted(2 * set + 1))) continue;
      return kMemoryNeedPassword;
    }
    return kStatusOk;
  }

  Reply Read(const Span& span) const {
    const std::uint16_t status = Check(span, false);
    if (status != kStatusOk) return Reply::Status(status);
    if (span.count > kMaxAnswerData) return Reply::Status(kStatusBadParameter);
    return Reply::Ok(Slice(memory_, span));
  }

  Reply Write(const Span& span) {
    const std::uint16_t status = Check(span, true);
    if (status != kStatusOk) return Reply::Status(status);
    std::copy(span.data.begin(), span.data.end(), memory_.begin() + span.address);
    return Reply::Ok();
  }

  // The counter of number 16: its tries, with 0000 while authenticated,
  // 6003 while not, 3006 once no attempt remains.
  Reply AttemptsReply() const {
    const std::uint16_t status = attempts_ == 0 ? kMemoryLocked : authenticated_ ? kStatusOk : kMemoryAuthFailed;
    return Reply{status, Bytes{static_cast<std::uint8_t>(attempts_)}, {}};
  }

  Reply Authenticate(const Bytes& answer) {
    if (attempts_ == 0) return Reply::Status(kMemoryLocked);
    if (pending_.empty()) return Reply::Status(kMemoryAuthFailed);
    const Bytes cryptogram = Cryptogram();
    Bytes expected(kSeedSize);
    for (std::size_t i = 0; i < kSeedSize; ++i) {
      expected[i] = static_cast<std::uint8_t>(seed_[i] ^ cryptogram[i] ^ pending_[i]);
    }
    pending_.clear();
    if (answer != expected) {
      authenticated_ = false;
      --attempts_;
      return Reply::Status(attempts_ == 0 ? kMemoryLocked : kMemoryAuthFailed);
    }
    authenticated_ = true;
    attempts_ = kAuthenticationTries;
    std::copy(answer.begin(), answer.end(), memory_.begin() + kConfigStart + kCryptogram);
    return Reply::Ok();
  }

  Bytes memory_;
  std::vector<Secret> passwords_;
  Bytes seed_;
  std::uint8_t fuses_ = kFusesFromFactory;
  bool auth_required_ = false;
  bool authenticated_ = false;
  int attempts_ = kAuthenticationTries;
  Bytes pending_;
};

}  // namespace

std::vector<ChipKind> At88sc1608Kinds() {
  return {{"at88sc1608", At88sc1608::Settings(), ConfiguredChip<At88sc1608>()}};
}

}  // namespace kpsim
