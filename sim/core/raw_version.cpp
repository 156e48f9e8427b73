// ESC 'e' NUL: the t61 firmware's version request.  The answer is the
// version text followed by one NUL, raw, without a frame; the host takes
// whatever is queued shortly after its request, so the answer goes out in
// one piece.

#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

class RawVersionProtocol : public RawProtocol {
 public:
  const char* Name() const override { return "version request"; }
  bool Serves(const DeviceState& state) const override { return state.family == Family::kT61; }

  ParseResult Parse(const std::uint8_t* data, std::size_t size, VirtualReader& reader) override {
    if (data[0] != kEsc) return ParseResult::NoMatch();
    if (size < 2) return ParseResult::NeedMore();
    if (data[1] != 'e') return ParseResult::NoMatch();
    if (size < 3) return ParseResult::NeedMore();
    if (data[2] != 0x00) return ParseResult::NoMatch();
    ++reader.state().counters.escapes;
    const AnswerPlan plan = reader.PlanAnswer(AnswerKind::kRaw);
    Bytes answer = reader.state().version;
    answer.push_back(0x00);
    reader.SendRaw(plan, std::move(answer));
    return ParseResult::Done(3);
  }
};

}  // namespace

void InstallRawVersion(VirtualReader& reader) { reader.stream().Add(std::make_unique<RawVersionProtocol>()); }

}  // namespace kpsim
