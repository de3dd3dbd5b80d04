#include "SequenceComponents.h"

#include <cmath>

namespace pq {

namespace {

constexpr double RADIANS_PER_DEGREE = 3.14159265358979323846 / 180.0;

// |z| without hypot's care for overflow: volts are far from it, and this runs
// for every half-cycle.
double magnitude(std::complex<double> z) {
    return std::sqrt(std::norm(z));
}

}  // namespace

UnbalanceRatios unbalanceRatios(const Phasors& v) {
    const std::complex<double> a(-0.5, std::sqrt(3.0) / 2);  // 120 degrees
    const double dPositive = magnitude(v[0] + a * v[1] + a * a * v[2]);
    // Against the sum's own scale: rounding leaves a positive sequence of
    // about 1e-16 of it where there is none.
    if (!(dPositive > 1e-9 * (magnitude(v[0]) + magnitude(v[1]) + magnitude(v[2])))) return {};
    return {100.0 * magnitude(v[0] + a * a * v[1] + a * v[2]) / dPositive,
            100.0 * magnitude(v[0] + v[1] + v[2]) / dPositive};
}

UnbalanceRatios unbalanceRatios(const PhaseValues& volts, const PhaseValues& degrees) {
    Phasors v;
    for (int p = 0; p < PHASES; p++) v[p] = std::polar(volts[p], degrees[p] * RADIANS_PER_DEGREE);
    return unbalanceRatios(v);
}

}  // namespace pq
