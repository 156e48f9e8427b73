// The three firmware families and the device types each answers: t1 for
// types 1, 2 and 5, t61 for 61 and 62, t0 for type 0.
#pragma once

#include <string_view>

namespace kp::wire {

enum class Family { kT1, kT61, kT0 };

// The family that answers deviceType; false for a type no family has.
bool FamilyOfType(int deviceType, Family* family);
// "t1", "t61", "t0", and back.
const char* FamilyName(Family family);
bool ParseFamily(std::string_view text, Family* family);

}  // namespace kp::wire
