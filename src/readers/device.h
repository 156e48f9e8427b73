// The device itself, as far as the card gate covers it: the device speed,
// its version, the soft reset and command 0xC003 (the contact switch).
#pragma once

#include "readers/module.h"

namespace kp {

class Device : public Module {
 public:
  static constexpr Tech kTech = Tech::kCard;
  using Module::Module;

  int SetBaudRate(int baud);
  int GetDeviceVersion(char* version);
  int IC_SoftReset(int mode);
  // Command 0xC003, which prepares the contact switch and ends a halt.
  int PrepareContactSwitch();

 private:
  int ReadRawVersion(char* version);
};

}  // namespace kp
