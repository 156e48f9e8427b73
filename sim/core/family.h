// Firmware families and the modules of a reader.
//
// t1 answers device types 1, 2 and 5, t61 types 61 and 62, t0 type 0.  Only
// the t1 reader multiplexes its serial line: the ESC '$' sequences route the
// line to the IC module ('I', also 'S') or to the magnetic head ('B'), and
// whatever is not routed there does not hear the host.  The t61 and t0
// readers acknowledge the sequences but serve everything they have at once.
#pragma once

#include <string_view>

#include "core/bytes.h"
#include "wire/family.h"

namespace kpsim {

using kp::wire::Family;
using kp::wire::FamilyName;
using kp::wire::ParseFamily;

using FamilyMask = unsigned;
constexpr FamilyMask kFamilyT1 = 1u << 0;
constexpr FamilyMask kFamilyT61 = 1u << 1;
constexpr FamilyMask kFamilyT0 = 1u << 2;
constexpr FamilyMask kAllFamilies = kFamilyT1 | kFamilyT61 | kFamilyT0;

inline FamilyMask MaskOf(Family family) { return 1u << static_cast<unsigned>(family); }

// The version the firmware reports until told otherwise: ASCII text, at
// least six bytes (the type-0 host rejects fewer).
Bytes DefaultVersion(Family family);

bool IsMultiplexed(Family family);

enum class Module { kIc, kMagnetic, kS };

// The letter of the ESC '$' sequence that selects the module.
char ModuleLetter(Module module);
bool ParseModuleLetter(char letter, Module* module);

}  // namespace kpsim
