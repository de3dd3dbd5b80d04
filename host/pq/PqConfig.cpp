#include "PqConfig.h"

#include <cmath>
#include <cstdio>

namespace pq {

namespace {

// Keeps `dValue` when `bWithin`, else says so and puts `dDefault` in its place.
void keep(double& dValue, bool bWithin, double dDefault, const char* pszName, const char* pszRange,
          std::vector<std::string>& errors) {
    if (bWithin && std::isfinite(dValue)) return;
    char szMessage[160];
    snprintf(szMessage, sizeof szMessage, "%s %g is outside %s: %g is used", pszName, dValue, pszRange,
             dDefault);
    errors.emplace_back(szMessage);
    dValue = dDefault;
}

}  // namespace

ConfigCheck checkConfig(const Config& config) {
    const Config defaults;
    ConfigCheck check{config, {}};
    Config& c = check.applied;
    auto& errors = check.errors;
    keep(c.dDeclaredVolts, c.dDeclaredVolts > 0 && c.dDeclaredVolts <= 1e6, defaults.dDeclaredVolts,
         "declared voltage (V)", "0 to 1000000", errors);
    double dHz = c.nNominalHz;
    keep(dHz, c.nNominalHz == 50 || c.nNominalHz == 60, defaults.nNominalHz, "nominal frequency (Hz)",
         "50 or 60", errors);
    c.nNominalHz = static_cast<int>(dHz);
    keep(c.dInterruptionPercent, c.dInterruptionPercent > 0 && c.dInterruptionPercent <= 50,
         defaults.dInterruptionPercent, "interruption threshold (%)", "0 to 50", errors);
    // Below 95 % and above 105 %, so that no hysteresis allowed keeps an
    // event going at the declared voltage.
    keep(c.dDipPercent, c.dDipPercent > c.dInterruptionPercent && c.dDipPercent <= 95, defaults.dDipPercent,
         "dip threshold (%)", "the interruption threshold to 95", errors);
    keep(c.dSwellPercent, c.dSwellPercent >= 105 && c.dSwellPercent <= 200, defaults.dSwellPercent,
         "swell threshold (%)", "105 to 200", errors);
    keep(c.dHysteresisPercent, c.dHysteresisPercent >= 0 && c.dHysteresisPercent < 5,
         defaults.dHysteresisPercent, "hysteresis (%)", "0 to under 5", errors);
    keep(c.dRvcPercent, c.dRvcPercent >= 1 && c.dRvcPercent <= 6, defaults.dRvcPercent,
         "rapid voltage change threshold (%)", "1 to 6", errors);
    double dPhases = c.unMeasuredPhases;
    keep(dPhases, c.unMeasuredPhases >= 1 && c.unMeasuredPhases <= 7, defaults.unMeasuredPhases,
         "measured phases (bits A, B, C)", "1 to 7", errors);
    c.unMeasuredPhases = static_cast<unsigned>(dPhases);
    return check;
}

}  // namespace pq
