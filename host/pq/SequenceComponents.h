// Voltage unbalance from the three voltages as phasors: the negative- and
// zero-sequence components as percentages of the positive sequence.
#pragma once

#include <array>
#include <complex>

#include "HalfCycleRecord.h"

namespace pq {

struct UnbalanceRatios {
    double dU2Percent = 0;  // negative sequence / positive sequence
    double dU0Percent = 0;  // zero sequence / positive sequence
};

using Phasors = std::array<std::complex<double>, PHASES>;

// The three voltages' phasors. Both 0 without a positive sequence (no voltage).
UnbalanceRatios unbalanceRatios(const Phasors& voltages);
// `volts`: RMS magnitudes; `degrees`: their angles.
UnbalanceRatios unbalanceRatios(const PhaseValues& volts, const PhaseValues& degrees);

}  // namespace pq
