// The module escape sequences ESC '$' 'B', ESC '$' 'I' d and ESC '$' 'S' d.
//
// Replies are two bytes: ESC '0' done, ESC '1' refused (a baud digit the
// module does not know), ESC '2' refused (no such module).  The module
// changes at once; a new speed takes effect after the reply is on the line,
// so the reply still reaches the host at the old speed.
//
// Baud digits: for 'I', '0' 9600, '1' 19200, '2' 38400, '3' 57600,
// '4' 115200.  For 'S', '2' 38400, '3' 57600, '4' 115200, and '1' as well as
// '0' 9600: the host sends '1' for both its 9600 and its 19200 codes and
// '1' when it restores the module on close, so '1' means the default speed.
// 'B' keeps the speed the device has.

#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

int BaudForDigit(Module module, std::uint8_t digit) {
  if (digit < '0' || digit > '4') return 0;
  const int code = digit - '0';
  if (module == Module::kS && code <= 1) return BaudForCode(0);
  return BaudForCode(code);
}

class ModuleEscapeProtocol : public RawProtocol {
 public:
  const char* Name() const override { return "module escape"; }
  bool Serves(const DeviceState&) const override { return true; }

  ParseResult Parse(const std::uint8_t* data, std::size_t size, VirtualReader& reader) override {
    if (data[0] != kEsc) return ParseResult::NoMatch();
    if (size < 2) return ParseResult::NeedMore();
    if (data[1] != '$') return ParseResult::NoMatch();
    if (size < 3) return ParseResult::NeedMore();
    Module module;
    if (!ParseModuleLetter(static_cast<char>(data[2]), &module)) {
      Answer(reader, '2', {});
      return ParseResult::Done(3);
    }
    if (module == Module::kMagnetic) {
      Answer(reader, '0', [&reader] {
        reader.state().module = Module::kMagnetic;
        return 0;
      });
      return ParseResult::Done(3);
    }
    if (size < 4) return ParseResult::NeedMore();
    const int baud = BaudForDigit(module, data[3]);
    if (baud == 0) {
      Answer(reader, '1', {});
    } else {
      Answer(reader, '0', [&reader, module, baud] {
        reader.state().module = module;
        return baud;
      });
    }
    return ParseResult::Done(4);
  }

 private:
  // `select` (when set) switches the module and returns the new speed, 0 to
  // keep the present one.  It runs only when the sequence is accepted.
  static void Answer(VirtualReader& reader, char code, const std::function<int()>& select) {
    ++reader.state().counters.escapes;
    const AnswerPlan plan = reader.PlanAnswer(AnswerKind::kModuleReply);
    if (plan.swallowed()) return;
    if (plan.shape && plan.shape->kind == FaultKind::kModuleReply) {
      // Refused by the fault: nothing changes.
      reader.SendRaw(AnswerPlan{plan.kind, std::nullopt, plan.delay_ms},
                     Bytes{kEsc, static_cast<std::uint8_t>(plan.shape->param)});
      return;
    }
    const int baud = code == '0' && select ? select() : 0;
    std::function<void()> after_send;
    if (baud != 0) after_send = [&reader, baud] { reader.state().baud = baud; };
    reader.SendRaw(plan, Bytes{kEsc, static_cast<std::uint8_t>(code)}, std::move(after_send));
  }
};

}  // namespace

void InstallModuleEscapes(VirtualReader& reader) { reader.stream().Add(std::make_unique<ModuleEscapeProtocol>()); }

}  // namespace kpsim
