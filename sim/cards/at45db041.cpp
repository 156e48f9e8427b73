// AT45DB041 flash: 2048 pages of 264 bytes, without passwords.
//
// The type-0 reader addresses it by page and offset: a read runs on across
// page ends like the chip's continuous array read (up to the last page); a
// write goes through the chip's one-page buffer and so must end within its
// page.  The store-card commands without a page address the first 64 KiB
// linearly (page = address / 264, offset = address % 264) and may cross
// pages both ways.
//
// Delivered erased: every byte FF.

#include <string>

#include "cards/memory_chip.h"
#include "core/status_words.h"

namespace kpsim {

namespace {

constexpr std::size_t kPages = 2048;
constexpr std::size_t kPageSize = 264;
constexpr std::size_t kSize = kPages * kPageSize;

class At45db041 : public MemoryChip {
 public:
  At45db041() : memory_(kSize, 0xFF) {}

  bool Configure(const CardArgs& args, std::string* error) {
    const std::string unknown = args.Unknown({"data"});
    if (!unknown.empty()) {
      *error = "unknown setting '" + unknown + "' (data=HEX)";
      return false;
    }
    return FillFromArgs(args, &memory_, error);
  }

  std::string Kind() const override { return "at45db041"; }

  Reply Execute(const MemoryCommand& command) override {
    const Bytes& d = command.data;
    Span span;
    switch (command.code) {
      case kMemCmdRead:
        if (ParsePrefixedRead(d, &span)) {
          if (span.address >= kPages || span.prefix >= kPageSize) return Reply::Status(kMemoryOutOfRange);
          return Read(span.address * kPageSize + span.prefix, span.count);
        }
        if (ParseRead(d, &span)) return Read(span.address, span.count);
        return Reply::Status(kStatusBadParameter);
      case kMemCmdWrite:
        switch (ParseEitherWrite(d, command.family, &span)) {
          case WriteLayout::kPrefixed:
            if (span.address >= kPages || span.prefix + span.count > kPageSize) {
              return Reply::Status(kMemoryOutOfRange);
            }
            return Write(span.address * kPageSize + span.prefix, span.data);
          case WriteLayout::kPlain:
            return Write(span.address, span.data);
          case WriteLayout::kNone:
            break;
        }
        return Reply::Status(kStatusBadParameter);
      default:
        return Reply::Status(kMemoryWrongCard);
    }
  }

  std::string Describe() const override {
    return "kind=at45db041 pages=" + std::to_string(kPages) + " page_size=" + std::to_string(kPageSize);
  }

  bool Area(const std::string& name, Bytes* out) const override {
    if (name != "memory") return false;
    *out = memory_;
    return true;
  }
  std::string Areas() const override { return "memory"; }

 private:
  Reply Read(std::size_t at, std::size_t count) const {
    if (at > kSize || count > kSize - at) return Reply::Status(kMemoryOutOfRange);
    if (count > kMaxAnswerData) return Reply::Status(kStatusBadParameter);
    return Reply::Ok(Bytes(memory_.begin() + static_cast<std::ptrdiff_t>(at),
                           memory_.begin() + static_cast<std::ptrdiff_t>(at + count)));
  }

  Reply Write(std::size_t at, const Bytes& data) {
    if (at > kSize || data.size() > kSize - at) return Reply::Status(kMemoryOutOfRange);
    std::copy(data.begin(), data.end(), memory_.begin() + static_cast<std::ptrdiff_t>(at));
    return Reply::Ok();
  }

  Bytes memory_;
};

}  // namespace

std::vector<ChipKind> At45db041Kinds() {
  return {{"at45db041", "[data=HEX] (2048 pages of 264 bytes; data from page 0 on)", ConfiguredChip<At45db041>()}};
}

}  // namespace kpsim
