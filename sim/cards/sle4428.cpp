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

class Sle4428 : public PscChip {
 public:
  Sle4428() : PscChip("sle4428", kSize, kSize, kPscSize, kTries) {}

  Reply Execute(const MemoryCommand& command) override {
    Reply reply;
    if (ExecutePsc(command, &reply)) return reply;
    const Bytes& d = command.data;
    switch (command.code) {
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

 private:
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
};

}  // namespace

std::vector<ChipKind> Sle4428Kinds() {
  return {{"sle4428", "[psc=HEX4] [data=HEX] [tries=0..8] [protect=LIST|none]", ConfiguredChip<Sle4428>()}};
}

}  // namespace kpsim
