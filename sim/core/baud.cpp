#include "core/baud.h"

namespace kpsim {

int BaudForCode(int code) {
  static constexpr int kByCode[] = {9600, 19200, 38400, 57600, 115200};
  if (code < 0 || code > 4) return 0;
  return kByCode[code];
}

bool IsStandardBaud(int baud) {
  static constexpr int kStandard[] = {50,      75,      110,     134,     150,     200,    300,     600,
                                      1200,    1800,    2400,    4800,    9600,    19200,  38400,   57600,
                                      115200,  230400,  460800,  500000,  576000,  921600, 1000000, 1152000,
                                      1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
  for (int standard : kStandard) {
    if (baud == standard) return true;
  }
  return false;
}

}  // namespace kpsim
