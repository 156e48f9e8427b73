#include "wire/status.h"

#include "kp_dev.h"

namespace kp::wire {

namespace {

struct StatusEntry {
  std::uint16_t word;
  int result;
};

constexpr StatusEntry kStatusTable[] = {
    {status::kOk, KP_DEV_OK},
    {status::kNoCard, KP_DEV_ERR_NO_CARD},
    {status::kNotActive, KP_DEV_ERR_CARD_NOT_ACTIVE},
    {status::kMute, KP_DEV_ERR_CARD_MUTE},
    {status::kUnknownCommand, KP_DEV_ERR_UNKNOWN_COMMAND},
    {status::kBadChecksum, KP_DEV_ERR_BAD_CHECKSUM},
    {status::kBadFrame, KP_DEV_ERR_BAD_FRAME},
    {status::kWrongTechnology, KP_DEV_ERR_WRONG_TECHNOLOGY},
    {status::kOutOfRange, KP_DEV_ERR_OUT_OF_RANGE},
    {status::kBadData, KP_DEV_ERR_BAD_DATA},
    {status::kWrongCard, KP_DEV_ERR_WRONG_CARD},
    {status::kNotValueBlock, KP_DEV_ERR_VALUE_BLOCK},
    {status::kHalted, KP_DEV_ERR_CARD_HALTED},
    {status::kWrongKey, KP_DEV_ERR_WRONG_KEY},
    {status::kLocked, KP_DEV_ERR_LOCKED},
    {status::kProtected, KP_DEV_ERR_PROTECTED},
    {status::kNotAuthenticated, KP_DEV_ERR_NOT_AUTHENTICATED},
    {status::kCardChanged, KP_DEV_ERR_CARD_CHANGED},
    {status::kAuthFailed, KP_DEV_ERR_AUTH_FAILED},
};

}  // namespace

int StatusResult(int word) {
  for (const auto& e : kStatusTable) {
    if (e.word == word) return e.result;
  }
  return KP_DEV_ERR_STATUS;
}

}  // namespace kp::wire
