// The modules of the firmware, each installing its protocols, commands,
// card kinds and control verbs into a reader.  InstallBuiltinModules
// (modules.cpp) calls them in order; the order of the protocols is the order
// in which they are offered the host's bytes.
#pragma once

namespace kpsim {

class VirtualReader;

void InstallFrameProtocol(VirtualReader& reader);   // STX ... ETX command frames
void InstallModuleEscapes(VirtualReader& reader);   // ESC '$' B / I d / S d
void InstallRawVersion(VirtualReader& reader);      // ESC 'e' NUL (t61)
void InstallDeviceCommands(VirtualReader& reader);  // speed, version, reset, buzzer, 0xC003
void InstallDeviceControl(VirtualReader& reader);   // status, traffic, fault, ...
void InstallCardControl(VirtualReader& reader);     // insert, remove, cards, swipe

}  // namespace kpsim
