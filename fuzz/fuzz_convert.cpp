// The conversions between hexadecimal, nibble and BCD texts and bytes, on
// texts of any content, with outputs as large as each one's rule says.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/convert.h"
#include "kp_dev.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::uint8_t> bytes(size + 2);
  std::vector<char> chars(2 * size + 3);
  kp::NibbleTextToBytes(text.c_str(), size, bytes.data());
  if (size <= 0xFFFF) kp::HexTextToBytes(text.c_str(), static_cast<std::uint16_t>(size), bytes.data());
  (void)kp::CheckHexText(text.c_str());
  kp::BytesToHexZ(data, size, chars.data());
  (void)kp::ToHex(data, size);
  // The exports: an ASCII text doubles, a hex text halves.
  (void)KP_AscToBcd(text.c_str(), chars.data());
  (void)KP_BcdToAsc(text.c_str(), chars.data());
  return 0;
}
