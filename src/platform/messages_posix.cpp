#include "platform/messages.h"

namespace kp::platform {

// POSIX threads have no message queue; cancelling the read-any-card loop
// goes through KP_DEV_CancelReadAll from another thread instead.
void PumpOneMessage() {}

}  // namespace kp::platform
