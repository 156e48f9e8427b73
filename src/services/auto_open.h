// Automatic open: the port the caller suggests, then every port the system
// lists, each at a fixed series of speeds, until a reader answers.
#pragma once

namespace kp {

int AutoOpenDevice(int* port, int* baud, int* handle, int deviceType);

}  // namespace kp
