// Conversion of the identity card's UCS-2 texts to the system's ANSI code
// page, the encoding every text of the interface uses.  On Windows that is
// the process's ANSI code page; elsewhere it is GBK (code page 936), the
// code page of the readers' home market.  One implementation file per
// operating system (text_posix.cpp, text_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kp::platform {

// Converts the UCS-2 little-endian text at ucs2le, up to and including its
// terminating 0000 unit, into at most room bytes at out.  A character the
// code page lacks becomes '?'.  Returns the number of bytes written,
// terminating NUL included, or 0 when the conversion failed (no room, no
// converter); out then holds an empty text when room allows.
int Ucs2LeToAnsi(const std::uint8_t* ucs2le, char* out, std::size_t room);

}  // namespace kp::platform
