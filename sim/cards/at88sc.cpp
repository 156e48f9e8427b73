// AT88SC102 and AT88SC1604: security memories divided into zones, with
// passwords that carry error counters and a personalisation fuse.
//
// Before the fuse is blown the card is in the issuer's hands: every zone
// except the fabrication zone can be read and written and no password is
// asked for.  Blowing the fuse (one way) personalises it: the issuer zone
// becomes read-only and the zones' passwords apply.
//
// AT88SC102 (148 bytes, linear addresses):
//   0x00  2  FZ   fabrication zone              read-only
//   0x02  8  IZ   issuer zone                   written until the fuse
//   0x0A  8  CPZ  code-protected zone           read and written with SC
//   0x12 64  AZ1  application zone 1            read freely, written with SC, erased with EZ1
//   0x52 64  AZ2  application zone 2            read freely, written with SC, erased with EZ2
//   0x92  2  MTZ  memory test zone              free
// Passwords by number: 0 SC security code (2 bytes, F0F0), 1 EZ1 erase key of
// AZ1 (6 bytes, FF..), 2 EZ2 erase key of AZ2 (4 bytes, FF..); four tries each.
// Besides writing (which sets bytes) the chip erases (bytes become FF) and
// writes conditionally (bits only go from 1 to 0, as EEPROM programming does).
//
// AT88SC1604 (2048 bytes, linear addresses):
//   0x000    2  FZ    read-only
//   0x002    8  IZ    written until the fuse
//   0x00A    8  CPZ   read and written with SC
//   0x012    2  MTZ   free
//   0x014 1260  AZ1   read freely, written with SC1
//   0x500  256  AZ2   read freely, written with SC2
//   0x600  256  AZ3   read freely, written with SC3
//   0x700  256  AZ4   read freely, written with SC4
// Passwords by number: 0 SC, 1 to 4 SC1 to SC4 (2 bytes each, FFFF); eight
// tries each.
//
// After the fuse a password is read back only once it or SC was presented,
// and only SC's holder changes passwords.

#include <algorithm>
#include <cctype>
#include <string>

#include "cards/memory_chip.h"
#include "core/status_words.h"

namespace kpsim {

namespace {

// Who may touch a zone: anyone; no one; anyone until the fuse; anyone until
// the fuse, then whoever presented the zone's password.
enum class Access { kFree, kNever, kUntilFuse, kPassword };

struct Zone {
  const char* name;
  unsigned start;
  unsigned size;
  Access read;
  Access write;
  int write_password;  // for Access::kPassword (reading uses the same one)
  Access erase;
  int erase_password;
};

struct Model {
  const char* kind;
  std::vector<Zone> zones;
  std::vector<std::size_t> password_sizes;
  std::vector<Bytes> default_passwords;
  int tries;
  Bytes fabrication;  // the FZ content
  bool erase_commands;
};

const Model& At88sc102Model() {
  static const Model model{"at88sc102",
                           {{"FZ", 0x00, 2, Access::kFree, Access::kNever, -1, Access::kNever, -1},
                            {"IZ", 0x02, 8, Access::kFree, Access::kUntilFuse, -1, Access::kUntilFuse, -1},
                            {"CPZ", 0x0A, 8, Access::kPassword, Access::kPassword, 0, Access::kPassword, 0},
                            {"AZ1", 0x12, 64, Access::kFree, Access::kPassword, 0, Access::kPassword, 1},
                            {"AZ2", 0x52, 64, Access::kFree, Access::kPassword, 0, Access::kPassword, 2},
                            {"MTZ", 0x92, 2, Access::kFree, Access::kFree, -1, Access::kFree, -1}},
                           {2, 6, 4},
                           {Bytes{0xF0, 0xF0}, Bytes(6, 0xFF), Bytes(4, 0xFF)},
                           4,
                           {0x10, 0x2F},
                           true};
  return model;
}

const Model& At88sc1604Model() {
  static const Model model{"at88sc1604",
                           {{"FZ", 0x000, 2, Access::kFree, Access::kNever, -1, Access::kNever, -1},
                            {"IZ", 0x002, 8, Access::kFree, Access::kUntilFuse, -1, Access::kUntilFuse, -1},
                            {"CPZ", 0x00A, 8, Access::kPassword, Access::kPassword, 0, Access::kPassword, 0},
                            {"MTZ", 0x012, 2, Access::kFree, Access::kFree, -1, Access::kFree, -1},
                            {"AZ1", 0x014, 1260, Access::kFree, Access::kPassword, 1, Access::kPassword, 1},
                            {"AZ2", 0x500, 256, Access::kFree, Access::kPassword, 2, Access::kPassword, 2},
                            {"AZ3", 0x600, 256, Access::kFree, Access::kPassword, 3, Access::kPassword, 3},
                            {"AZ4", 0x700, 256, Access::kFree, Access::kPassword, 4, Access::kPassword, 4}},
                           {2, 2, 2, 2, 2},
                           {Bytes(2, 0xFF), Bytes(2, 0xFF), Bytes(2, 0xFF), Bytes(2, 0xFF), Bytes(2, 0xFF)},
                           8,
                           {0x16, 0x04},
                           false};
  return model;
}

class At88sc : public MemoryChip {
 public:
  explicit At88sc(const Model& model) : model_(model) {
    const Zone& last = model_.zones.back();
    memory_.assign(last.start + last.size, 0xFF);
    std::copy(model_.fabrication.begin(), model_.fabrication.end(), memory_.begin());
    for (std::size_t n = 0; n < model_.password_sizes.size(); ++n) {
      passwords_.emplace_back(model_.default_passwords[n], model_.tries);
    }
  }

  bool Configure(const CardArgs& args, std::string* error) {
    std::vector<std::string> names;
    for (std::size_t n = 0; n < passwords_.size(); ++n) names.push_back("pwd" + std::to_string(n));
    for (const char* key : {"data", "fused"}) names.emplace_back(key);
    const std::string unknown = args.Unknown(names);
    if (!unknown.empty()) {
      *error = "unknown setting '" + unknown + "' (" + Settings(model_) + ")";
      return false;
    }
    for (std::size_t n = 0; n < passwords_.size(); ++n) {
      Bytes value = passwords_[n].value();
      if (!args.Hex(names[n], &value, error)) return false;
      if (value.size() != model_.password_sizes[n]) {
        *error = names[n] + "= needs " + std::to_string(model_.password_sizes[n]) + " bytes";
        return false;
      }
      passwords_[n].set_value(value);
    }
    long fused = 0;
    if (!args.Number("fused", 0, 1, &fused, error)) return false;
    // The fabrication zone is the maker's: data= fills what follows it.
    Bytes data;
    if (!args.Hex("data", &data, error)) return false;
    if (data.size() > memory_.size() - model_.fabrication.size()) {
      *error = "data= is longer than the memory after the fabrication zone";
      return false;
    }
    std::copy(data.begin(), data.end(), memory_.begin() + static_cast<std::ptrdiff_t>(model_.fabrication.size()));
    fused_ = fused != 0;
    return true;
  }

  static std::string Settings(const Model& model) {
    std::string text = "[data=HEX (from the issuer zone on)] [fused=0|1]";
    for (std::size_t n = 0; n < model.password_sizes.size(); ++n) {
      text += " [pwd" + std::to_string(n) + "=HEX" + std::to_string(2 * model.password_sizes[n]) + "]";
    }
    return text;
  }

  std::string Kind() const override { return model_.kind; }
  std::string Summary() const override { return fused_ ? "fused" : "unfused"; }
  void OnModuleReset() override {
    for (Secret& password : passwords_) password.Forget();
  }

  Reply Execute(const MemoryCommand& command) override {
    const Bytes& d = command.data;
    const auto length_of = [this](unsigned n) { return n < passwords_.size() ? model_.password_sizes[n] : 0; };
    SecretRequest request;
    Span span;
    switch (command.code) {
      case kMemCmdVerify: {
        const std::uint16_t status = ParseSecret(d,
                                                 {SecretLayout::kNumberLengthSecret, SecretLayout::kLengthNumberSecret,
                                                  SecretLayout::kLengthWordSecret, SecretLayout::kLengthSecret},
                                                 length_of, &request);
        if (status != kStatusOk) return Reply::Status(status);
        return Reply::Status(passwords_[request.number].Present(request.secret));
      }
      case kMemCmdChangePassword: {
        const std::uint16_t status =
            ParseSecret(d, {SecretLayout::kNumberLengthSecret, SecretLayout::kNumberSecret}, length_of, &request);
        if (status != kStatusOk) return Reply::Status(status);
        if (fused_ && !passwords_[0].granted()) return Reply::Status(kMemoryNeedPassword);
        passwords_[request.number].set_value(request.secret);
        return Reply::Ok();
      }
      case kMemCmdReadPassword: {
        unsigned n = 0;
        if (!PasswordNumber(d, &n)) return Reply::Status(d.size() > 1 ? kStatusBadParameter : kMemoryOutOfRange);
        if (fused_ && !passwords_[n].granted() && !passwords_[0].granted()) {
          return Reply::Status(kMemoryNeedPassword);
        }
        return Reply::Ok(passwords_[n].value());
      }
      case kMemCmdReadCounter: {
        unsigned n = 0;
        if (!PasswordNumber(d, &n)) return Reply::Status(d.size() > 1 ? kStatusBadParameter : kMemoryOutOfRange);
        return CounterReply(passwords_[n]);
      }
      case kMemCmdFuse:
        if (!d.empty()) return Reply::Status(kStatusBadParameter);
        fused_ = true;
        return Reply::Ok();
      case kMemCmdReadFuse:
        if (!d.empty()) return Reply::Status(kStatusBadParameter);
        return Reply::Ok({static_cast<std::uint8_t>(fused_ ? 1 : 0)});
      case kMemCmdRead:
        if (!ParseRead(d, &span)) return Reply::Status(kStatusBadParameter);
        return Read(span);
      case kMemCmdWrite:
        if (!ParseWrite(d, &span)) return Reply::Status(kStatusBadParameter);
        return Change(span.address, span.count, Operation::kWrite, span.data);
      case kMemCmdEraseOrConditionalWrite:
        if (!model_.erase_commands) return Reply::Status(kMemoryWrongCard);
        return EraseOrConditionalWrite(d);
      default:
        return Reply::Status(kMemoryWrongCard);
    }
  }

  std::string Describe() const override {
    std::string text = std::string("kind=") + model_.kind + " fused=" + (fused_ ? "1" : "0");
    for (std::size_t n = 0; n < passwords_.size(); ++n) {
      text += " pwd" + std::to_string(n) + "=" + passwords_[n].Describe();
    }
    return text;
  }

  bool Area(const std::string& name, Bytes* out) const override {
    if (name == "memory") {
      *out = memory_;
      return true;
    }
    for (const Zone& zone : model_.zones) {
      if (name == ZoneName(zone)) {
        out->assign(memory_.begin() + zone.start, memory_.begin() + zone.start + zone.size);
        return true;
      }
    }
    return false;
  }

  std::string Areas() const override {
    std::string text = "memory";
    for (const Zone& zone : model_.zones) text += "," + ZoneName(zone);
    return text;
  }

 private:
  enum class Operation { kRead, kWrite, kConditionalWrite, kErase };

  static std::string ZoneName(const Zone& zone) {
    std::string name = zone.name;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  }

  // The number byte of the password commands; a missing one means SC.
  bool PasswordNumber(const Bytes& d, unsigned* n) const {
    if (d.size() > 1) return false;
    *n = d.empty() ? 0 : d[0];
    return *n < passwords_.size();
  }

  bool Allowed(Access access, int password) const {
    switch (access) {
      case Access::kFree:
        return true;
      case Access::kNever:
        return false;
      case Access::kUntilFuse:
        return !fused_;
      case Access::kPassword:
        return !fused_ || passwords_[static_cast<std::size_t>(password)].granted();
    }
    return false;
  }

  // The status for touching every byte of address .. address + count - 1.
  std::uint16_t Check(unsigned address, unsigned count, Operation operation) const {
    if (address > memory_.size() || count > memory_.size() - address) return kMemoryOutOfRange;
    for (const Zone& zone : model_.zones) {
      if (address + count <= zone.start || address >= zone.start + zone.size) continue;
      switch (operation) {
        case Operation::kRead:
          if (!Allowed(zone.read, zone.write_password)) return kMemoryNeedPassword;
          break;
        case Operation::kWrite:
        case Operation::kConditionalWrite:
          if (!Allowed(zone.write, zone.write_password)) {
            return zone.write == Access::kPassword ? kMemoryNeedPassword : kMemoryProtected;
          }
          break;
        case Operation::kErase:
          if (!Allowed(zone.erase, zone.erase_password)) {
            return zone.erase == Access::kPassword ? kMemoryNeedPassword : kMemoryProtected;
          }
          break;
      }
    }
    return kStatusOk;
  }

  Reply Read(const Span& span) const {
    const std::uint16_t status = Check(span.address, span.count, Operation::kRead);
    if (status != kStatusOk) return Reply::Status(status);
    if (span.count > kMaxAnswerData) return Reply::Status(kStatusBadParameter);
    return Reply::Ok(Slice(memory_, span));
  }

  Reply Change(unsigned address, unsigned count, Operation operation, const Bytes& data) {
    const std::uint16_t status = Check(address, count, operation);
    if (status != kStatusOk) return Reply::Status(status);
    for (unsigned i = 0; i < count; ++i) {
      std::uint8_t& byte = memory_[address + i];
      switch (operation) {
        case Operation::kWrite:
          byte = data[i];
          break;
        case Operation::kConditionalWrite:
          byte = static_cast<std::uint8_t>(byte & data[i]);
          break;
        case Operation::kErase:
          byte = 0xFF;
          break;
        case Operation::kRead:
          break;
      }
    }
    return Reply::Ok();
  }

  // 00 address length: erase; 01 address count data: conditional write.
  // Address and length are one byte each.
  Reply EraseOrConditionalWrite(const Bytes& d) {
    if (d.size() == 3 && d[0] == 0x00) return Change(d[1], d[2], Operation::kErase, {});
    if (d.size() >= 3 && d[0] == 0x01 && d.size() == 3u + d[2]) {
      return Change(d[1], d[2], Operation::kConditionalWrite, Bytes(d.begin() + 3, d.end()));
    }
    return Reply::Status(kStatusBadParameter);
  }

  const Model& model_;
  Bytes memory_;
  std::vector<Secret> passwords_;
  bool fused_ = false;
};

ChipKind MakeKind(const Model& model) {
  return {model.kind, At88sc::Settings(model),
          [&model](const CardArgs& args, std::string* error) -> std::unique_ptr<MemoryChip> {
            auto chip = std::make_unique<At88sc>(model);
            if (!chip->Configure(args, error)) return nullptr;
            return chip;
          }};
}

}  // namespace

std::vector<ChipKind> At88scKinds() { return {MakeKind(At88sc102Model()), MakeKind(At88sc1604Model())}; }

}  // namespace kpsim
