// SLE4428: 1024 bytes, each with a protection bit that, once burnt, keeps
// the byte as it is for good, and a 2-byte programmable security code (PSC)
// guarded by an error counter of eight tries.
//
// Reading is always allowed.  Writing needs the PSC presented since the
// card was inserted or the card module was reset.  The mode byte of a read
// or write chooses what the chip does:
//   read  0  the data bytes
//   read  1  the data bytes, then one protection bit per byte
//            (1 writable, 0 protected)
//   write 0  write the bytes
//   write 1  write the bytes and burn their protection bits
//   write 2  burn the protection bits only, after comparing the bytes given
//            with the memory (the chip protects only data it can confirm)
// The commands without a mode byte read and write as mode 0.
//
// Delivered: PSC FFFF, eight tries, memory FF, nothing protected.

#include <algorithm>
#include <string>

#include "cards/memory_chip.h"
#include "core/status_words.h"

namespace kpsim {

namespace {

constexpr std::size_t kSize = 1024;
constexpr std::size_t kPscSize = 2;
constexpr int kTries = 8;

class Sle4428 : public MemoryChip {
 public:
  Sle4428() : memory_(kSize, 0xFF), protected_(kSize, false), psc_(Bytes(kPscSize, 0xFF), kTries) {}

  bool Configure(const CardArgs& args, std::string* error) {
    const std::string unknown = args.Unknown({"psc", "data", "tries", "protect"});
    if (!unknown.empty()) {
      *error = "unknown setting '" + unknown + "' (psc=HEX4 data=HEX tries=0..8 protect=LIST)";
      return false;
    }
    Bytes psc = psc_.value();
    long tries = kTries;
    if (!args.Hex("psc", &psc, error) || !args.Number("tries", 0, kTries, &tries, error) ||
        !args.AddressList("protect", kSize, &protected_, error) || !FillFromArgs(args, &memory_, error)) {
      return false;
    }
    if (psc.size() != kPscSize) {
      *error = "psc= needs 2 bytes";
      return false;
    }
    psc_.set_value(psc);
    psc_.set_tries(static_cast<int>(tries));
    return true;
  }

  std::string Kind() const override { return "sle4428"; }
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
        return Reply::Ok(psc_.granted() ? psc_.value() : Bytes(kPscSize, 0x00));
      case kMemCmdReadCounter:
        if (!d.empty()) return Reply::Status(kStatusBadParameter);
        return CounterReply(psc_);
      case kMemCmdRead: {
        Span span;
        if (!ParseSuffixedRead(d, &span) && !ParseRead(d, &span)) return Reply::Status(kStatusBadParameter);
        return Read(span);
      }
      case kMemCmdWrite: {
        Span span;
        if (!ParseSuffixedWrite(d, &span) && !ParseWrite(d, &span)) return Reply::Status(kStatusBadParameter);
        return Write(span);
      }
      default:
        return Reply::Status(kMemoryWrongCard);
    }
  }

  std::string Describe() const override {
    return "kind=sle4428 psc=" + ToHex(psc_.value()) + " tries=" + std::to_string(psc_.tries()) +
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

  Reply Read(const Span& span) {
    if (span.prefix > 1) return Reply::Status(kStatusBadParameter);
    if (!Within(span, kSize)) return Reply::Status(kMemoryOutOfRange);
    Bytes answer = Slice(memory_, span);
    if (span.prefix == 1) {
      // Data and bits must fit one answer frame.
      if (2u * span.count > kMaxAnswerData) return Reply::Status(kStatusBadParameter);
      for (unsigned i = 0; i < span.count; ++i) answer.push_back(protected_[span.address + i] ? 0x00 : 0x01);
    }
    return Reply::Ok(answer);
  }

  Reply Write(const Span& span) {
    if (span.prefix > 2) return Reply::Status(kStatusBadParameter);
    if (!Within(span, kSize)) return Reply::Status(kMemoryOutOfRange);
    if (!psc_.granted()) return Reply::Status(kMemoryNeedPassword);
    const auto first = memory_.begin() + span.address;
    if (span.prefix == 2) {
      if (!std::equal(span.data.begin(), span.data.end(), first)) return Reply::Status(kMemoryProtected);
    } else {
      for (unsigned i = 0; i < span.count; ++i) {
        if (protected_[span.address + i]) return Reply::Status(kMemoryProtected);
      }
      std::copy(span.data.begin(), span.data.end(), first);
    }
    if (span.prefix != 0) {
      for (unsigned i = 0; i < span.count; ++i) protected_[span.address + i] = true;
    }
    return Reply::Ok();
  }

  Bytes memory_;
  std::vector<bool> protected_;
  Secret psc_;
};

}  // namespace

std::vector<ChipKind> Sle4428Kinds() {
  return {{"sle4428", "[psc=HEX4] [data=HEX] [tries=0..8] [protect=LIST|none]",
           [](const CardArgs& args, std::string* error) -> std::unique_ptr<MemoryChip> {
             auto chip = std::make_unique<Sle4428>();
             if (!chip->Configure(args, error)) return nullptr;
             return chip;
           }}};
}

}  // namespace kpsim
