#include "wire/id_frame.h"

namespace kp::wire {

namespace {

// XOR of the bytes behind the preamble, up to (not including) end.
std::uint8_t IdCheck(const std::uint8_t* frame, std::size_t end) {
  std::uint8_t check = 0;
  for (std::size_t i = sizeof kIdPreamble; i < end; ++i) check ^= frame[i];
  return check;
}

}  // namespace

Bytes EncodeIdFrame(const Bytes& body) {
  const std::size_t length = body.size() + 1;  // the check byte too
  Bytes frame(kIdPreamble, kIdPreamble + sizeof kIdPreamble);
  frame.push_back(static_cast<std::uint8_t>(length >> 8));
  frame.push_back(static_cast<std::uint8_t>(length));
  frame.insert(frame.end(), body.begin(), body.end());
  frame.push_back(IdCheck(frame.data(), frame.size()));
  return frame;
}

Bytes EncodeIdCommand(std::uint16_t command) {
  return EncodeIdFrame({static_cast<std::uint8_t>(command >> 8), static_cast<std::uint8_t>(command)});
}

bool IdCheckOk(const std::uint8_t* frame, std::size_t size) {
  if (size < kIdHeader + 1 || IdAnnounced(frame) != size - kIdHeader) return false;
  return IdCheck(frame, size - 1) == frame[size - 1];
}

}  // namespace kp::wire
