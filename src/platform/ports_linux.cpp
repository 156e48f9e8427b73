#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ports.h"
#include "wire/com_port.h"

namespace kp::platform {

namespace {

// Highest COM number a reader can be opened on; /dev/ttyS<k> stands for
// COM k + 1.
constexpr int kHighestCom = 32;

bool Listed(const std::vector<int>& ports, int com) {
  return std::find(ports.begin(), ports.end(), com) != ports.end();
}

// The kernel creates ttyS devices for every legacy port slot, present or
// not; only those with a known UART type lead to hardware.  The type is read
// from sysfs where it is published, which needs no open of the line (an
// open raises the modem lines of whatever is attached).
bool IsRealSerialPort(int k) {
  const std::string sys = "/sys/class/tty/ttyS" + std::to_string(k) + "/type";
  if (FILE* f = std::fopen(sys.c_str(), "r")) {
    char text[16] = {};
    const bool read = std::fgets(text, sizeof text, f) != nullptr;
    std::fclose(f);
    char* end = nullptr;
    const long type = std::strtol(text, &end, 10);
    return read && end != text && type != PORT_UNKNOWN;
  }
  const std::string dev = "/dev/ttyS" + std::to_string(k);
  struct stat st {};
  if (::stat(dev.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const int fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;  // a port this process cannot open is of no use to it
  serial_struct info{};
  const bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return real;
}

}  // namespace

std::vector<int> SystemSerialPorts() {
  std::vector<int> ports;
  for (int n = 1; n <= kHighestCom && ports.size() < kMaxListedPorts; ++n) {
    // std::getenv rather than the library's own seam: this file is also
    // built on its own for the tools (kpdev_ports).
    const char* value = std::getenv(wire::ComVariable(n).c_str());
    if (value != nullptr && *value != '\0') ports.push_back(n);
  }
  for (int k = 0; k < kHighestCom && ports.size() < kMaxListedPorts; ++k) {
    // A COM number already redirected by its variable no longer reaches
    // /dev/ttyS<k>.
    if (!Listed(ports, k + 1) && IsRealSerialPort(k)) ports.push_back(k + 1);
  }
  return ports;
}

}  // namespace kp::platform
