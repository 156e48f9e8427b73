#include "core/frame.h"

#include "core/status_words.h"

namespace kpsim {

bool DecodeCommandBody(const std::uint8_t* chars, std::size_t size, CommandFrame* frame, std::uint16_t* error_status) {
  switch (kp::wire::DecodeFrameChars(chars, size, kMaxCommandData, frame)) {
    case kp::wire::FrameCheck::kOk:
      return true;
    case kp::wire::FrameCheck::kBadChecksum:
      *error_status = kStatusBadChecksum;
      return false;
    case kp::wire::FrameCheck::kMalformed:
      break;
  }
  *error_status = kStatusBadFrame;
  return false;
}

}  // namespace kpsim
