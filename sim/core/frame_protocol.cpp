// Command frames on the byte stream: STX, nibble characters, ETX.
//
// The frame ends at ETX, which no nibble character can be.  A new STX or an
// ESC before the ETX means the host gave up on the frame and started afresh:
// the partial frame is dropped without an answer.  A frame that grows past
// any valid size without an ETX is dropped the same way.

#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

// STX, 10 characters of length, code and checksum, the data, ETX.
constexpr std::size_t kMaxFrameWire = 12 + 2 * kMaxCommandData;

class FrameProtocol : public RawProtocol {
 public:
  const char* Name() const override { return "frame"; }

  // A t1 reader switched to its magnetic head does not hear frames.
  bool Serves(const DeviceState& state) const override {
    return !IsMultiplexed(state.family) || state.module != Module::kMagnetic;
  }

  ParseResult Parse(const std::uint8_t* data, std::size_t size, VirtualReader& reader) override {
    if (data[0] != kStx) return ParseResult::NoMatch();
    for (std::size_t i = 1; i < size; ++i) {
      if (data[i] == kEtx) {
        CommandFrame frame;
        std::uint16_t error = 0;
        if (DecodeCommandBody(data + 1, i - 1, &frame, &error)) {
          reader.OnCommandFrame(frame);
        } else {
          reader.OnBadFrame(error);
        }
        return ParseResult::Done(i + 1);
      }
      if (data[i] == kStx || data[i] == kEsc || i >= kMaxFrameWire) {
        ++reader.state().counters.bad_frames;
        reader.state().counters.ignored_bytes += i;
        return ParseResult::Done(i);
      }
    }
    return ParseResult::NeedMore();
  }
};

}  // namespace

void InstallFrameProtocol(VirtualReader& reader) { reader.stream().Add(std::make_unique<FrameProtocol>()); }

}  // namespace kpsim
