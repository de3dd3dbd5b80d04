#include "LineSignal.h"

#include <stdexcept>
#include <string>

namespace sim::detail {

namespace {

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

bool finiteNonNegative(double value) {
    return std::isfinite(value) && value >= 0;
}

}  // namespace

bool LineSignal::anyVoltage() const {
    for (const PhaseSignal& phase : phases)
        if (phase.volts > 0) return true;
    return false;
}

std::vector<HarmonicPhasor> spectrum(const LineSignal& line, int phase, Quantity quantity) {
    std::vector<HarmonicPhasor> result;
    if (!line.live()) return result;
    const PhaseSignal& signal = line.phases[phase];
    const bool voltage = quantity == Quantity::Voltage;
    const double fundamental = voltage ? signal.volts : signal.amps;
    if (fundamental <= 0) return result;
    // Lag of this waveform's fundamental behind the reference, radians.
    const double lag =
        (line.voltageLagDegrees[phase] + (voltage ? 0.0 : signal.currentLagDegrees)) * kRadiansPerDegree;
    result.push_back({1, std::polar(fundamental, -lag)});
    for (const Harmonic& h : voltage ? signal.voltageHarmonics : signal.currentHarmonics)
        if (h.percent > 0)
            result.push_back({h.order, std::polar(fundamental * h.percent / 100.0,
                                                  -h.order * lag + h.phaseDegrees * kRadiansPerDegree)});
    return result;
}

std::vector<HarmonicPhasor> neutralSpectrum(const LineSignal& line) {
    std::array<std::complex<double>, kMaxHarmonic + 1> sum{};
    std::array<bool, kMaxHarmonic + 1> present{};
    for (int phase = 0; phase < kPhases; ++phase)
        for (const HarmonicPhasor& h : spectrum(line, phase, Quantity::Current)) {
            sum[h.order] += h.value;
            present[h.order] = true;
        }
    std::vector<HarmonicPhasor> result;
    for (int order = 1; order <= kMaxHarmonic; ++order)
        if (present[order]) result.push_back({order, sum[order]});
    return result;
}

double meanSquare(const std::vector<HarmonicPhasor>& spectrum) {
    double sum = 0;
    for (const HarmonicPhasor& h : spectrum) sum += std::norm(h.value);
    return sum;
}

double neutralMeanSquare(const LineSignal& line) {
    if (!line.live()) return 0;
    if (line.neutralAmps >= 0) return line.neutralAmps * line.neutralAmps;
    return meanSquare(neutralSpectrum(line));
}

void validate(const PhaseSignal& signal) {
    if (!finiteNonNegative(signal.volts) || !finiteNonNegative(signal.amps))
        throw std::invalid_argument("phase volts and amps must be finite and >= 0");
    if (!std::isfinite(signal.currentLagDegrees)) throw std::invalid_argument("current lag must be finite");
    for (const auto* harmonics : {&signal.voltageHarmonics, &signal.currentHarmonics}) {
        std::array<bool, kMaxHarmonic + 1> seen{};
        for (const Harmonic& h : *harmonics) {
            if (h.order < 2 || h.order > kMaxHarmonic)
                throw std::invalid_argument("harmonic order " + std::to_string(h.order) +
                                            " is outside 2..63");
            if (seen[h.order])
                throw std::invalid_argument("harmonic order " + std::to_string(h.order) + " given twice");
            seen[h.order] = true;
            if (!finiteNonNegative(h.percent) || !std::isfinite(h.phaseDegrees))
                throw std::invalid_argument("harmonic percent must be finite and >= 0, its phase finite");
        }
    }
}

}  // namespace sim::detail
