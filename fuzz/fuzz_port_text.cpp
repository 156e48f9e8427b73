// The port text a caller hands to KP_DEV_OpenDevice.
#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/port_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)kp::ParsePortSpec(text.c_str());
  return 0;
}
