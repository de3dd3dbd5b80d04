// What the test face sets about the measuring board besides the line: the
// full scale it is built for and the intrinsic errors of its channels.
#pragma once

#include <array>
#include <cstdint>

#include "LineSignal.h"
#include "Sim.h"

namespace sim::detail {

struct MeterSetup {
    double fullScaleVolts = 500.0;
    double fullScaleAmps = 10.0;
    std::array<ChannelError, 7> errors{};  // by sim::Channel
    std::array<double, kPhases> wattOffset{};
    std::array<double, kPhases> varOffset{};
    uint64_t version = 0;  // counts changes
};

}  // namespace sim::detail
