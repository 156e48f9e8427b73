#include "serial/inbound.h"

#include "serial/frame.h"

namespace kp {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kSwipeMark = 's';
constexpr std::uint8_t kHeadReplyMark = 'w';
constexpr std::uint8_t kSecondTrackMark = 'T';  // a write that addressed the second track
constexpr std::uint8_t kWritten = 'p';
constexpr std::uint8_t kWriteFailed = 'q';
constexpr std::uint8_t kFieldSeparator = 0x1C;  // FS: the end of track data
constexpr std::uint8_t kIdPreamble[] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};

}  // namespace

Unit InboundParser::Feed(std::uint8_t byte) {
  ++have_;
  switch (state_) {
    case State::kIdle:
      --have_;
      return Start(byte);
    case State::kEsc:
      if (byte == kSwipeMark || byte == kHeadReplyMark) {
        head_.assign({kEsc, byte});
        state_ = byte == kSwipeMark ? State::kSwipe : State::kHeadReply;
        return Unit::kNone;
      }
      if (owed_ == Unit::kModuleReply) return Complete(Unit::kModuleReply);
      return Mismatch(byte);
    case State::kSwipe:
      head_.push_back(byte);
      if (byte == kFieldSeparator || head_.size() >= kMaxHeadUnit) return Complete(Unit::kSwipe);
      return Unit::kNone;
    case State::kHeadReply:
      if (byte == kWritten || byte == kWriteFailed) {
        head_.push_back(byte);
        return Complete(Unit::kHeadReply);
      }
      if (byte == kSecondTrackMark && head_.size() == 2) {
        head_.push_back(byte);
        return Unit::kNone;
      }
      return Mismatch(byte);
    case State::kFrameHead:
      // Only the low four bits of each length character count.
      length_ = (length_ << 4) | (byte & 0x0F);
      if (have_ == frame::kHeadBytes) {
        need_ = 2 * length_ + frame::kTailBytes;
        state_ = State::kFrameRest;
      }
      return Unit::kNone;
    case State::kFrameRest:
      return --need_ == 0 ? Complete(Unit::kFrame) : Unit::kNone;
    case State::kIdPreamble:
      if (byte != kIdPreamble[have_ - 1]) return Mismatch(byte);
      if (have_ == sizeof kIdPreamble) state_ = State::kIdLength;
      return Unit::kNone;
    case State::kIdLength:
      length_ = (length_ << 8) | byte;
      if (have_ < sizeof kIdPreamble + 2) return Unit::kNone;
      if (length_ == 0) return Complete(Unit::kIdentity);
      need_ = length_;
      state_ = State::kIdRest;
      return Unit::kNone;
    case State::kIdRest:
      return --need_ == 0 ? Complete(Unit::kIdentity) : Unit::kNone;
    case State::kText:
      if (byte == 0 || have_ >= kMaxTextUnit) return Complete(Unit::kText);
      return Unit::kNone;
  }
  return Unit::kNone;
}

Unit InboundParser::Start(std::uint8_t byte) {
  have_ = 1;
  length_ = 0;
  if (byte == frame::kStx) {
    state_ = State::kFrameHead;
    return Unit::kNone;
  }
  if (byte == kEsc) {
    state_ = State::kEsc;
    return Unit::kNone;
  }
  if (byte == kIdPreamble[0]) {
    state_ = State::kIdPreamble;
    return Unit::kNone;
  }
  if (owed_ == Unit::kText) {
    state_ = State::kText;
    return byte == 0 ? Complete(Unit::kText) : Unit::kNone;
  }
  have_ = 0;
  ++noise_;
  return Unit::kNone;
}

Unit InboundParser::Mismatch(std::uint8_t byte) {
  noise_ += have_ - 1;
  state_ = State::kIdle;
  have_ = 0;
  return Start(byte);
}

Unit InboundParser::Complete(Unit unit) {
  state_ = State::kIdle;
  have_ = 0;
  need_ = 0;
  // An answer owed is answered once.
  if (unit == owed_) owed_ = Unit::kNone;
  return unit;
}

void InboundParser::Abandon() {
  noise_ += have_;
  state_ = State::kIdle;
  have_ = 0;
  need_ = 0;
}

std::size_t InboundParser::TakeNoise() {
  const std::size_t n = noise_;
  noise_ = 0;
  return n;
}

}  // namespace kp
