#include "core/family.h"

#include <string>

namespace kpsim {

Bytes DefaultVersion(Family family) {
  std::string text;
  switch (family) {
    case Family::kT1:
      text = "KP-T1 V2.10";
      break;
    case Family::kT61:
      text = "KP-T61 V1.05";
      break;
    case Family::kT0:
      text = "KP-T0 V3.02";
      break;
  }
  return Bytes(text.begin(), text.end());
}

bool IsMultiplexed(Family family) { return family == Family::kT1; }

char ModuleLetter(Module module) {
  switch (module) {
    case Module::kIc:
      return 'I';
    case Module::kMagnetic:
      return 'B';
    case Module::kS:
      return 'S';
  }
  return '?';
}

bool ParseModuleLetter(char letter, Module* module) {
  for (Module candidate : {Module::kIc, Module::kMagnetic, Module::kS}) {
    if (letter == ModuleLetter(candidate)) {
      *module = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace kpsim
