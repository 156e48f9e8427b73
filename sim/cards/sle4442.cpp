// SLE4442: 256 bytes of main memory, of which the first 32 can each be
// protected for good by a bit of the protection memory, and a 3-byte
// programmable security code (PSC) guarded by an error counter of three
// tries.
//
// Reading is always allowed.  Writing (main memory, protection, the PSC
// itself) needs the PSC presented since the card was inserted or the card
// module was reset.  A protection bit reads 1 while its byte is writable
// and 0 once protected; it is set only by presenting the byte's current
// content, as the chip compares before it burns the bit.
//
// Delivered like the chip leaves the factory: PSC FFFFFF, three tries, the
// first four bytes A2 13 10 91 (the answer-to-reset header) protected, the
// rest FF.

#include <string>

#include "cards/memory_chip.h"
#include "core/status_words.h"

namespace kpsim {

namespace {

constexpr std::size_t kMainSize = 256;
constexpr std::size_t kProtectable = 32;
constexpr std::size_t kPscSize = 3;
constexpr int kTries = 3;

class Sle4442 : public MemoryChip {
 public:
  Sle4442() : memory_(kMainSize, 0xFF), protected_(kProtectable, false), psc_(Bytes(kPscSize, 0xFF), kTries) {
    const Bytes header{0xA2, 0x13, 0x10, 0x91};
    for (std::size_t i = 0; i < header.size(); ++i) {
      memory_[i] = header[i];
      protected_[i] = true;
    }
  }

  bool Configure(const CardArgs& args, std::string* error) {
    const std::string unknown = args.Unknown({"psc", "data", "tries", "protect"});
    if (!unknown.empty()) {
      *error = "unknown setting '" + unknown + "' (psc=HEX6 data=HEX tries=0..3 protect=LIST)";
      return false;
    }
    Bytes psc = psc_.value();
    long tries = kTries;
    if (!args.Hex("psc", &psc, error) || !args.Number("tries", 0, kTries, &tries, error) ||
        !args.AddressList("protect", kProtectable, &protected_, error) || !FillFromArgs(args, &memory_, error)) {
      return false;
    }
    if (psc.size() != kPscSize) {
      *error = "psc= needs 3 bytes";
      return false;
    }
    psc_.set_value(psc);
    psc_.set_tries(static_cast<int>(tries));
    return true;
  }

  std::string Kind() const override { return "sle4442"; }
  std::string Summary() const override { return SecretSummary(psc_); }
  void OnModuleReset() override { psc_.Forget(); }

  Reply Execute(const MemoryCommand& command) override {
    const Bytes& d = command.data;
    switch (command.code) {
      case kMemCmdVerify: {
        SecretRequest request;
        const std::uint16_t status = ParseSecret(d, {SecretLayout::kLengthSecret}, PscLength, &request);
        if (status != kStatusOk) return Reply::Status(status);
        return Reply::Status(psc_.Present(request.secret));
      }
      case kMemCmdChangePassword: {
        SecretRequest request;
        const std::uint16_t status =
            ParseSecret(d, {SecretLayout::kLengthSecret, SecretLayout::kSecretOnly}, PscLength, &request);
        if (status != kStatusOk) return Reply::Status(status);
        if (!psc_.granted()) return Reply::Status(kMemoryNeedPassword);
        psc_.set_value(request.secret);
        return Reply::Ok();
      }
      case kMemCmdReadPassword:
        if (!d.empty()) return Reply::Status(kStatusBadParameter);
        // The chip shows its PSC only to whoever presented it.
        return Reply::Ok(psc_.granted() ? psc_.value() : Bytes(kPscSize, 0x00));
      case kMemCmdReadCounter:
        if (!d.empty()) return Reply::Status(kStatusBadParameter);
        return CounterReply(psc_);
      case kMemCmdRead: {
        Span span;
        if (!ParseRead(d, &span)) return Reply::Status(kStatusBadParameter);
        if (!Within(span, kMainSize)) return Reply::Status(kMemoryOutOfRange);
        return Reply::Ok(Slice(memory_, span));
      }
      case kMemCmdWrite: {
        Span span;
        if (!ParseWrite(d, &span)) return Reply::Status(kStatusBadParameter);
        return Write(span);
      }
      case kMemCmdReadProtection: {
        Span span;
        if (!ParseProtectionRead(d, &span)) return Reply::Status(kStatusBadParameter);
        if (!Within(span, kProtectable)) return Reply::Status(kMemoryOutOfRange);
        Bytes bits;
        for (unsigned i = 0; i < span.count; ++i) bits.push_back(protected_[span.address + i] ? 0x00 : 0x01);
        return Reply::Ok(bits);
      }
      case kMemCmdWriteProtection: {
        Span span;
        if (!ParseProtectionWrite(d, command.family, &span)) return Reply::Status(kStatusBadParameter);
        return Protect(span);
      }
      default:
        return Reply::Status(kMemoryWrongCard);
    }
  }

  std::string Describe() const override {
    return "kind=sle4442 psc=" + ToHex(psc_.value()) + " tries=" + std::to_string(psc_.tries()) +
           " granted=" + (psc_.granted() ? "1" : "0") + " protected=" + AddressRanges(protected_);
  }

  bool Area(const std::string& name, Bytes* out) const override {
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
  std::string Areas() const override { return "memory,protection"; }

 private:
  static std::size_t PscLength(unsigned number) { return number == 0 ? kPscSize : 0; }

  // The type-0 reader sends the protection memory's address and length as
  // one byte each; the others as a main-memory address and a 16-bit count.
  static bool ParseProtectionRead(const Bytes& d, Span* out) {
    if (d.size() == 2) {
      *out = Span{0, d[0], d[1], {}};
      return true;
    }
    return ParseRead(d, out);
  }

  static bool ParseProtectionWrite(const Bytes& d, Family family, Span* out) {
    const bool short_form = d.size() >= 2 && d.size() == 2u + d[1];
    if (short_form && (family == Family::kT0 || !ParseWrite(d, out))) {
      *out = Span{0, d[0], d[1], Bytes(d.begin() + 2, d.end())};
      return true;
    }
    return ParseWrite(d, out);
  }

  Reply Write(const Span& span) {
    if (!Within(span, kMainSize)) return Reply::Status(kMemoryOutOfRange);
    if (!psc_.granted()) return Reply::Status(kMemoryNeedPassword);
    for (unsigned i = 0; i < span.count; ++i) {
      const unsigned a = span.address + i;
      if (a < kProtectable && protected_[a]) return Reply::Status(kMemoryProtected);
    }
    std::copy(span.data.begin(), span.data.end(), memory_.begin() + span.address);
    return Reply::Ok();
  }

  // Burns the protection bits of bytes whose current content the host
  // presents; one byte that differs refuses the whole request.
  Reply Protect(const Span& span) {
    if (!Within(span, kProtectable)) return Reply::Status(kMemoryOutOfRange);
    if (!psc_.granted()) return Reply::Status(kMemoryNeedPassword);
    for (unsigned i = 0; i < span.count; ++i) {
      if (memory_[span.address + i] != span.data[i]) return Reply::Status(kMemoryProtected);
    }
    for (unsigned i = 0; i < span.count; ++i) protected_[span.address + i] = true;
    return Reply::Ok();
  }

  Bytes memory_;
  std::vector<bool> protected_;
  Secret psc_;
};

}  // namespace

std::vector<ChipKind> Sle4442Kinds() {
  return {{"sle4442", "[psc=HEX6] [data=HEX] [tries=0..3] [protect=LIST|none]",
           [](const CardArgs& args, std::string* error) -> std::unique_ptr<MemoryChip> {
             auto chip = std::make_unique<Sle4442>();
             if (!chip->Configure(args, error)) return nullptr;
             return chip;
           }}};
}

}  // namespace kpsim
