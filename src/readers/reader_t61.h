// CReaderT61: readers of device types 61 and 62.  Same layout as CReaderT1
// and mostly the same operations, without module checks; the device-level
// operations and a few card operations differ and are overridden here.
#pragma once

#include "readers/reader_t1.h"

namespace kp {

class CReaderT61 : public CReaderT1 {
 public:
  // device
  int OpenDevice(int deviceType, const PortSpec& target) override;
  int SetBaudRate(int baud) override;
  int CloseDevice() override;
  int GetDeviceVersion(char* version) override;
  int IC_SoftReset(int mode) override;
  int PrepareContactSwitch() override;
  // contactless (other timeouts than the type-1 readers)
  int IC_ConnectlessHalt() override;
  int IC_ConnectlessActiveStoreCard(int* cardType, int* uidLen, char* uid, int* atsLen, char* ats) override;
  // magnetic
  int Magnetic_Accept() override;
  int Magnetic_ReadTrack(char* track1, char* track2) override;

 protected:
  bool CardModuleOk() const override { return true; }
  bool MagneticModuleOk() const override { return true; }
};

}  // namespace kp
