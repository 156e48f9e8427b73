// The identity module's read answer: the text block and photo behind its
// header, of any length and content.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "idcard/id_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 70000) return 0;
  static kp::IdRecord record;
  (void)kp::DecodeIdText(data, static_cast<std::uint32_t>(size), &record);
  // A UCS-2 text ends at its first zero pair; this one always has one.
  std::vector<std::uint8_t> wide(data, data + (size > 4000 ? 4000 : size));
  wide.push_back(0);
  wide.push_back(0);
  wide.push_back(0);
  static char out[kp::kWideToAnsiRoom];
  (void)kp::WideToAnsi(out, wide.data());
  return 0;
}
