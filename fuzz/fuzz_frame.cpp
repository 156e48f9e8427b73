// The frame codec: an answer's head and body as the device may send them,
// and a command built from any data text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= kp::frame::kHeadBytes) {
    const std::size_t announced = kp::frame::BodyLength(data);
    (void)announced;
  }
  // Decode reads text[count] (the NUL after an odd count).
  const std::string body(reinterpret_cast<const char*>(data), size);
  const kp::frame::Response r = kp::frame::Decode(body.c_str(), body.size());
  (void)kp::frame::DescribeResponse(0x3111, r, 3);
  if (size >= 2) {
    const int command = data[0] << 8 | data[1];
    std::uint8_t wire[2200];
    const std::size_t n = size - 2 > 2066 ? 2066 : size - 2;
    const std::size_t count = kp::frame::EncodeText(command, body.c_str() + 2, n, wire);
    (void)kp::frame::DescribeCommand(command, wire, count);
    (void)kp::frame::Encode(command, data + 2, n);
  }
  return 0;
}
