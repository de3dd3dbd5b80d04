#include "SequenceComponents.h"

#include <cmath>
#include <complex>

namespace pq {

UnbalanceRatios unbalanceRatios(const PhaseValues& volts, const PhaseValues& degrees) {
    using Phasor = std::complex<double>;
    const double dRadiansPerDegree = std::acos(-1.0) / 180.0;
    const Phasor a = std::polar(1.0, 120.0 * dRadiansPerDegree);
    Phasor v[PHASES];
    for (int p = 0; p < PHASES; p++) v[p] = std::polar(volts[p], degrees[p] * dRadiansPerDegree);
    const double dPositive = std::abs(v[0] + a * v[1] + a * a * v[2]);
    // Against the sum's own scale: rounding leaves a positive sequence of
    // about 1e-16 of it where there is none.
    if (!(dPositive > 1e-9 * (volts[0] + volts[1] + volts[2]))) return {};
    return {100.0 * std::abs(v[0] + a * a * v[1] + a * v[2]) / dPositive,
            100.0 * std::abs(v[0] + v[1] + v[2]) / dPositive};
}

}  // namespace pq
