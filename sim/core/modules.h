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
void InstallMagneticHead(VirtualReader& reader);    // ESC sequences of the head; swipe, head (cards/magnetic_head.cpp)
void InstallMemoryCards(VirtualReader& reader);     // SLE44x8, AT24Cxx, AT88SC, AT45DB041; dump (cards/memory_*.cpp)
void InstallIdentityModule(VirtualReader& reader);  // AA AA AA 96 69 frames (t0); card kind id (cards/identity_*.cpp)

// Contact seats: state, speed, power, APDUs, card type; kind cpu; seat
// (cards/contact_commands.cpp).
void InstallCpuCards(VirtualReader& reader);
// Contactless field (seat 255): activation, halt, sectors, blocks, values,
// keys; kinds rf-cpu and sector; rf-block (cards/contactless_commands.cpp).
void InstallContactlessCards(VirtualReader& reader);
// Bank cards personalised from a card profile; kinds bank and rf-bank
// (cards/bank_card.cpp).
void InstallBankCards(VirtualReader& reader);

}  // namespace kpsim
