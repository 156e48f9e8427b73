#include <windows.h>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace kp::platform {

int Ucs2LeToAnsi(const std::uint8_t* ucs2le, char* out, std::size_t room) {
  // The card's bytes are not necessarily aligned for wchar_t; copy them,
  // terminator included.
  std::vector<wchar_t> wide;
  for (std::size_t i = 0;; i += 2) {
    const wchar_t unit = static_cast<wchar_t>(ucs2le[i] | (ucs2le[i + 1] << 8));
    wide.push_back(unit);
    if (unit == 0) break;
  }
  // The runtime's locale follows the user's default, as the card texts do.
  std::setlocale(LC_ALL, "");
  const int size = room > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(room);
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, out, size, nullptr, nullptr);
  if (n == 0 && room > 0) out[0] = '\0';
  return n;
}

}  // namespace kp::platform
