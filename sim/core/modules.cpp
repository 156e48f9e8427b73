#include "core/modules.h"

#include "core/virtual_reader.h"

namespace kpsim {

void InstallBuiltinModules(VirtualReader& reader) {
  InstallFrameProtocol(reader);
  InstallModuleEscapes(reader);
  InstallRawVersion(reader);
  InstallDeviceCommands(reader);
  InstallDeviceControl(reader);
  InstallCardControl(reader);
  InstallMagneticHead(reader);
  InstallIdentityModule(reader);
  InstallMemoryCards(reader);
  InstallCpuCards(reader);
  InstallContactlessCards(reader);
  InstallBankCards(reader);
}

}  // namespace kpsim
