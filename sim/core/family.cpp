#include "core/family.h"

#include <string>

namespace kpsim {

const char* FamilyName(Family family) {
  switch (family) {
    case Family::kT1:
      return "t1";
    case Family::kT61:
      return "t61";
    case Family::kT0:
      return "t0";
  }
  return "?";
}

bool ParseFamily(std::string_view text, Family* family) {
  for (Family candidate : {Family::kT1, Family::kT61, Family::kT0}) {
    if (text == FamilyName(candidate)) {
      *family = candidate;
      return true;
    }
  }
  return false;
}

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
