// One half-cycle of the line as the analysis takes it: what the module's
// record of that half-cycle says, in plain units. Per-phase arrays hold A, B, C.
#pragma once

#include <array>
#include <cstdint>

namespace pq {

constexpr int PHASES = 3;
using PhaseValues = std::array<double, PHASES>;

struct HalfCycleRecord {
    int64_t llTimeMicros = 0;      // UTC, microseconds since the epoch: when the half-cycle ended
    PhaseValues volts{};           // one-cycle RMS, refreshed every half-cycle
    PhaseValues amps{};            // likewise
    PhaseValues voltDegrees{};     // the voltages' angles, phase A's 0
    double dHz = 0;                // the line's frequency; 0, or far from the nominal: not measured
    PhaseValues voltThdPercent{};  // total harmonic distortion of each voltage
    PhaseValues watts{}, vars{};   // active and reactive power
};

}  // namespace pq
