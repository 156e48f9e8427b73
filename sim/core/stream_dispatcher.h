// Splits the host's byte stream into the protocols the firmware speaks.
//
// Every protocol (command frames, the ESC sequences, later the magnetic head
// and the identity module's AA AA AA 96 69 frames) is a RawProtocol.  The
// dispatcher keeps the bytes not yet consumed and offers them, from the
// first one, to each protocol in registration order:
//   - kDone: the protocol consumed that many bytes and acted on them;
//   - kNeedMore: the bytes are the start of its sequence, wait for more;
//   - kNoMatch: not its sequence, ask the next protocol.
// A byte no protocol claims is dropped and counted as ignored.  A sequence
// that stays incomplete for longer than the inter-byte timeout is dropped
// too, as a UART receiver resynchronises after a gap.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/bytes.h"
#include "core/device_state.h"
#include "core/output_queue.h"

namespace kpsim {

class VirtualReader;

enum class ParseState { kNoMatch, kNeedMore, kDone };

struct ParseResult {
  ParseState state = ParseState::kNoMatch;
  std::size_t consumed = 0;

  static ParseResult NoMatch() { return {ParseState::kNoMatch, 0}; }
  static ParseResult NeedMore() { return {ParseState::kNeedMore, 0}; }
  static ParseResult Done(std::size_t consumed) { return {ParseState::kDone, consumed}; }
};

class RawProtocol {
 public:
  virtual ~RawProtocol() = default;
  virtual const char* Name() const = 0;
  // Whether the device hears this protocol in its present family and module.
  virtual bool Serves(const DeviceState& state) const = 0;
  // `data` starts at a candidate first byte; `size` >= 1.  On kDone the
  // protocol has already acted (answered, changed state).
  virtual ParseResult Parse(const std::uint8_t* data, std::size_t size, VirtualReader& reader) = 0;
};

class StreamDispatcher {
 public:
  static constexpr std::chrono::milliseconds kInterByteTimeout{1000};
  // A sequence still incomplete at this size is dropped.
  static constexpr std::size_t kMaxPending = 8192;

  void Add(std::unique_ptr<RawProtocol> protocol);
  void Feed(const std::uint8_t* data, std::size_t size, TimePoint now, VirtualReader& reader);
  // Drops an incomplete sequence whose last byte came too long ago.
  void Expire(TimePoint now, VirtualReader& reader);
  std::optional<TimePoint> Deadline() const;
  void Reset() { pending_.clear(); }
  std::size_t pending() const { return pending_.size(); }

 private:
  void Drain(VirtualReader& reader);

  std::vector<std::unique_ptr<RawProtocol>> protocols_;
  Bytes pending_;
  TimePoint last_byte_{};
};

}  // namespace kpsim
