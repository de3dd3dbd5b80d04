// Loading the simulated board's line (libqmsimline.so) for --board sim.
#pragma once

#include <string>

#include "SimulatedLine.h"

// Loads libqmsimline.so from beside the host's libraries, after the board
// library it shares its board with. Null with `error` set to one line naming
// the library and what failed.
SimulatedLine* loadSimulatedLine(std::string& error);
