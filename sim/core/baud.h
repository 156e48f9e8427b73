// Line speeds as the firmware names them.
#pragma once

namespace kpsim {

constexpr int kStartupBaud = 9600;

// Speed codes of the set-speed commands (0x3001, 0x3003) and of the module
// escape digit of ESC '$' 'I': 0 9600, 1 19200, 2 38400, 3 57600,
// 4 115200.  0 for any other code.
int BaudForCode(int code);

// Speeds a serial port can be set to (the termios standard rates).
bool IsStandardBaud(int baud);

}  // namespace kpsim
