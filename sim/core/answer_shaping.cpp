#include "core/answer_shaping.h"

#include "core/frame.h"

namespace kpsim {

Bytes LineNoise(Rng& rng) {
  Bytes noise(8 + rng.Next() % 16);
  for (std::uint8_t& byte : noise) {
    do {
      byte = static_cast<std::uint8_t>(rng.Next() >> 56);
    } while (byte == kStx || byte == kEtx || byte == kEsc || (byte >= '0' && byte <= '2'));
  }
  return noise;
}

Bytes ShapeFrameAnswer(const Fault& fault, std::uint16_t status, const Bytes& data, Rng& rng) {
  Bytes frame = EncodeAnswerFrame(status, data);
  switch (fault.kind) {
    case FaultKind::kNonStx:
      frame.insert(frame.begin(), 0x06);
      break;
    case FaultKind::kBadEtx:
      frame.back() = 0x04;
      break;
    case FaultKind::kShort: {
      // Header and the first half of the body characters; the rest never comes.
      const std::size_t body_chars = frame.size() - 8;
      frame.resize(5 + body_chars / 2);
      break;
    }
    case FaultKind::kOversize: {
      Bytes filler(kOversizeBody - 2);
      for (std::size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<std::uint8_t>(i);
      frame = EncodeAnswerFrame(0x0000, filler);
      break;
    }
    case FaultKind::kGarbage:
      frame = LineNoise(rng);
      break;
    case FaultKind::kBadChecksum: {
      const std::size_t at = frame.size() - 3;
      frame[at] = NibbleChar(~frame[at]);
      frame[at + 1] = NibbleChar(~frame[at + 1]);
      break;
    }
    default:
      break;
  }
  return frame;
}

Bytes ShapeRawAnswer(const Fault& fault, const Bytes& answer, Rng& rng) {
  switch (fault.kind) {
    case FaultKind::kShort:
      return Bytes(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(answer.size() / 2));
    case FaultKind::kGarbage:
      return LineNoise(rng);
    default:
      return answer;
  }
}

}  // namespace kpsim
