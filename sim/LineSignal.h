// The line the chip measures: one frequency, three phases, the neutral. Pure
// data in physical units; SignalHistory keeps it over time.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <vector>

#include "Sim.h"

namespace sim::detail {

constexpr int kPhases = 3;
constexpr int kMaxHarmonic = 63;

struct LineSignal {
    double frequencyHz = 50.0;  // 0: no signal on any phase
    std::array<PhaseSignal, kPhases> phases{};
    std::array<double, kPhases> voltageLagDegrees{0.0, 120.0, 240.0};  // behind phase A's reference
    double neutralAmps = -1.0;  // negative: the vector sum of the phase currents

    bool live() const { return frequencyHz > 0; }
    bool anyVoltage() const;
};

// One harmonic order of a voltage or current as a phasor: RMS magnitude and
// phase (radians) at the harmonic's own frequency, relative to the line's
// reference (phase A voltage with lag 0).
struct HarmonicPhasor {
    int order;
    std::complex<double> value;
};

// The spectrum of one phase's voltage or current, fundamental first. Empty
// without signal.
std::vector<HarmonicPhasor> spectrum(const LineSignal& line, int phase, Quantity quantity);
std::vector<HarmonicPhasor> neutralSpectrum(const LineSignal& line);

// Sum of the squared magnitudes: the mean square of the waveform.
double meanSquare(const std::vector<HarmonicPhasor>& spectrum);
double neutralMeanSquare(const LineSignal& line);

// Throws std::invalid_argument for a signal the board cannot produce.
void validate(const PhaseSignal& signal);

}  // namespace sim::detail
