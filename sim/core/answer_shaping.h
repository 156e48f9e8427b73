// How a shaping fault turns an answer into what goes on the line.
#pragma once

#include <cstdint>

#include "core/bytes.h"
#include "core/faults.h"
#include "core/rng.h"

namespace kpsim {

// 8 to 23 bytes of noise.  Noise never contains STX, ETX, ESC or the
// characters '0', '1', '2', so a host cannot take it for the start of a
// frame or for a module escape reply.
Bytes LineNoise(Rng& rng);

// An answer frame with the given status and data, shaped by the fault
// (nonstx, badetx, short, oversize, garbage, badsum).
Bytes ShapeFrameAnswer(const Fault& fault, std::uint16_t status, const Bytes& data, Rng& rng);

// A raw answer shaped by the fault (short, garbage); any other fault leaves
// it as it is.
Bytes ShapeRawAnswer(const Fault& fault, const Bytes& answer, Rng& rng);

}  // namespace kpsim
