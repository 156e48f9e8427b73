#include "wire/com_port.h"

namespace kp::wire {

std::string ComVariable(int port) { return "KPDEV_COM" + std::to_string(port); }

std::string PosixComPath(int port, const char* variableValue) {
  if (variableValue != nullptr && *variableValue != '\0') return variableValue;
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace kp::wire
