// COM numbers and the devices behind them.  A program names a reader by
// its COM number; the environment variable KPDEV_COM<n> may point that
// number at any device (or a device server on the network), which is how
// the virtual reader, tests and USB adapters are reached.
#pragma once

#include <string>

namespace kp::wire {

// "KPDEV_COM<port>".
std::string ComVariable(int port);

// The device of COM number port on a POSIX system, given the value of its
// variable (null or empty when unset): that value, else /dev/ttyS<port-1>.
std::string PosixComPath(int port, const char* variableValue);

}  // namespace kp::wire
