// The kpdev-sim command line.
#pragma once

#include <string>

#include "core/simulator.h"

namespace kpsim {

// Parses argv into options.  false with a message (the usage text for
// --help, with *help set).
bool ParseCommandLine(int argc, char** argv, SimOptions* options, std::string* message, bool* help);

std::string Usage();

}  // namespace kpsim
