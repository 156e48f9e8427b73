// The serial ports the system knows, as COM port numbers, for the automatic
// open.  The test override lives in ports.cpp; the system's own list comes
// from one file per operating system (ports_linux.cpp, ports_win32.cpp);
// the tools link the same files as the small library kpdev_ports.
#pragma once

#include <cstddef>
#include <vector>

namespace kp::platform {

// The list never holds more ports than this.
constexpr std::size_t kMaxListedPorts = 32;

// COM port numbers of the system's serial ports, at most kMaxListedPorts.
// Windows: in the order in which HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// enumerates its values, each the number that starts at the 4th character of
// the value's data ("COM7" gives 7; data without a number gives 0).
// POSIX: first every n in 1..32 (the ports a reader can be opened on) whose KPDEV_COM<n> variable is set and not
// empty, ascending, then k + 1 for every /dev/ttyS<k> that is a real serial
// port (the kernel knows a UART type for it) and whose COM number is not
// listed yet, ascending.  A port set with SetSerialPortListOverride replaces
// the whole answer.
std::vector<int> ListSerialPorts();

// Makes ListSerialPorts answer exactly ports (cut to kMaxListedPorts), so
// that tests never probe the machine's own serial ports; nullptr restores
// the system's list.
void SetSerialPortListOverride(const std::vector<int>* ports);

// The system's list as described for ListSerialPorts, ignoring any override;
// implemented once per operating system.
std::vector<int> SystemSerialPorts();

}  // namespace kp::platform
