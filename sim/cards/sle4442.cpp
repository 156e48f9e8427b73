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

class Sle4442 : public PscChip {
 public:
  Sle4442() : PscChip("sle4442", kMainSize, kProtectable, kPscSize, kTries) {
    const Bytes header{0xA2, 0x13, 0x10, 0x91};
    for (std::size_t i = 0; i < header.size(); ++i) {
      memory_[i] = header[i];
      protected_[i] = true;
    }
  }

  Reply Execute(const MemoryCommand& command) override {
    Reply reply;
    if (ExecutePsc(command, &reply)) return reply;
    const Bytes& d = command.data;
    switch (command.code) {
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

 private:
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
};

}  // namespace

std::vector<ChipKind> Sle4442Kinds() {
  return {{"sle4442", "[psc=HEX6] [data=HEX] [tries=0..3] [protect=LIST|none]", ConfiguredChip<Sle4442>()}};
}

}  // namespace kpsim
