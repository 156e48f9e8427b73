// AT24Cxx serial EEPROMs: plain memory addressed by a 16-bit byte address,
// without passwords or protection.  A read or write that runs past the end
// of the chip is refused as a whole (the chip itself would wrap around to
// address 0 and overwrite data the host never meant to touch).
//
// Delivered erased: every byte FF.

#include <string>

#include "cards/memory_chip.h"
#include "core/status_words.h"

namespace kpsim {

namespace {

class At24cxx : public MemoryChip {
 public:
  At24cxx(std::string kind, std::size_t size) : kind_(std::move(kind)), memory_(size, 0xFF) {}

  bool Configure(const CardArgs& args, std::string* error) {
    const std::string unknown = args.Unknown({"data"});
    if (!unknown.empty()) {
      *error = "unknown setting '" + unknown + "' (data=HEX)";
      return false;
    }
    return FillFromArgs(args, &memory_, error);
  }

  std::string Kind() const override { return kind_; }

  Reply Execute(const MemoryCommand& command) override {
    Span span;
    switch (command.code) {
      case kMemCmdRead:
        if (!ParseRead(command.data, &span)) return Reply::Status(kStatusBadParameter);
        if (!Within(span, memory_.size())) return Reply::Status(kMemoryOutOfRange);
        return Reply::Ok(Slice(memory_, span));
      case kMemCmdWrite:
        if (!ParseWrite(command.data, &span)) return Reply::Status(kStatusBadParameter);
        if (!Within(span, memory_.size())) return Reply::Status(kMemoryOutOfRange);
        std::copy(span.data.begin(), span.data.end(), memory_.begin() + span.address);
        return Reply::Ok();
      default:
        return Reply::Status(kMemoryWrongCard);
    }
  }

  std::string Describe() const override { return "kind=" + kind_ + " size=" + std::to_string(memory_.size()); }

  bool Area(const std::string& name, Bytes* out) const override {
    if (name != "memory") return false;
    *out = memory_;
    return true;
  }
  std::string Areas() const override { return "memory"; }

 private:
  std::string kind_;
  Bytes memory_;
};

}  // namespace

std::vector<ChipKind> At24cxxKinds() {
  struct Model {
    const char* kind;
    std::size_t size;
  };
  static constexpr Model kModels[] = {{"at24c01", 128},  {"at24c02", 256},  {"at24c04", 512}, {"at24c08", 1024},
                                      {"at24c16", 2048}, {"at24c32", 4096}, {"at24c64", 8192}};
  std::vector<ChipKind> kinds;
  for (const Model& model : kModels) {
    const std::string kind = model.kind;
    const std::size_t size = model.size;
    kinds.push_back({kind, "[data=HEX] (" + std::to_string(size) + " bytes)",
                     [kind, size](const CardArgs& args, std::string* error) -> std::unique_ptr<MemoryChip> {
                       auto chip = std::make_unique<At24cxx>(kind, size);
                       if (!chip->Configure(args, error)) return nullptr;
                       return chip;
                     }});
  }
  return kinds;
}

}  // namespace kpsim
