// The calibration bench's command line: the commands to run with the applied
// quantities each takes, the bench's files and, on the simulated board, the
// errors of the line's channels.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CalibrationBench.h"
#include "SimulatedLine.h"

namespace CLI {
class App;
}

struct CalCommand {
    uint32_t ulCode;
    CalQuantities quantities;  // as given before the command on the line
};

struct CalibrateOptions {
    std::string config;  // empty: the bench's own meter
    std::string cal;     // empty: a new file listing every constant
    bool bSequence = false;
    bool bVerbose = false;
    CalQuantities quantities;  // as the line has given them so far
    std::vector<CalCommand> commands;
    std::vector<std::pair<LineChannel, LineChannelError>> errors;
    std::vector<std::pair<LinePhase, std::pair<double, double>>> powerOffsets;  // watts, VAR
};

// Adds the bench's options to `command`. They fill `options` in the order the
// line gives them, so a command runs with the quantities given before it.
void addCalibrateOptions(CLI::App& command, CalibrateOptions& options);
