#include "wire/family.h"

namespace kp::wire {

bool FamilyOfType(int deviceType, Family* family) {
  switch (deviceType) {
    case 0:
      *family = Family::kT0;
      return true;
    case 1:
    case 2:
    case 5:
      *family = Family::kT1;
      return true;
    case 61:
    case 62:
      *family = Family::kT61;
      return true;
    default:
      return false;
  }
}

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

}  // namespace kp::wire
