// The port text "COM<n>:<baud>:N:8:1" a reader is opened with, read once
// into the numbers the library uses.  Only the port number and the speed are
// taken from it; the line is always 8 data bits, no parity, one stop bit.
#pragma once

#include <string>

namespace kp {

struct PortSpec {
  // The handle the text opens: its port number, or -1 when the text has
  // none in 1..INT_MAX.
  int handle = -1;
  // Port number and speed as a decimal field reads them (leading blanks
  // and sign accepted, clamped to the int range, 0 when absent).  The speed
  // field begins right after "COM<n>:" for a one-digit n, and one place
  // later otherwise.
  int port = 0;
  int baud = 0;
};

PortSpec ParsePortSpec(const char* text);
// "COM<port>:<baud>:N:8:1".
PortSpec MakePortSpec(int port, int baud);

}  // namespace kp
