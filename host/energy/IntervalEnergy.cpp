#include "IntervalEnergy.h"

#include <cmath>

namespace {

// The interval quantities counted, and the counters their rises and falls go to.
struct Counted {
    eEnergyAccum quantity;
    LifetimeCounter import, exported;
};
constexpr Counted COUNTED[] = {
    {accum_AWATTHR, life_WH_IMPORT_A, life_WH_EXPORT_A},
    {accum_BWATTHR, life_WH_IMPORT_B, life_WH_EXPORT_B},
    {accum_CWATTHR, life_WH_IMPORT_C, life_WH_EXPORT_C},
    {accum_TOT_WATTHR, life_WH_IMPORT_TOT, life_WH_EXPORT_TOT},
    {accum_AVARHR, life_VARH_IMPORT_A, life_VARH_EXPORT_A},
    {accum_BVARHR, life_VARH_IMPORT_B, life_VARH_EXPORT_B},
    {accum_CVARHR, life_VARH_IMPORT_C, life_VARH_EXPORT_C},
    {accum_TOT_VARHR, life_VARH_IMPORT_TOT, life_VARH_EXPORT_TOT},
};

// Apparent energy only rises within an interval: a fall means the module
// started its intervals over (monitorStart again) without completing one.
constexpr eEnergyAccum APPARENT[] = {accum_AVAHR, accum_BVAHR, accum_CVAHR, accum_TOT_VAHR};

}  // namespace

void IntervalEnergy::completed(const ACCUMULATOR_DATA& interval) {
    m_ttLastEnd = interval.m_ttStartTime;
    count(interval.m_fEnergyAccum);
    m_counted.fill(0);
}

void IntervalEnergy::running(const float* pfEnergy) {
    for (const eEnergyAccum q : APPARENT)
        if (pfEnergy[q] < m_counted[q]) m_counted.fill(0);
    count(pfEnergy);
}

void IntervalEnergy::count(const float* pfEnergy) {
    for (const Counted& c : COUNTED) {
        const double dNow = pfEnergy[c.quantity];
        if (!std::isfinite(dNow)) continue;  // not read this time: its energy counts at the next look
        const double dMoved = dNow - m_counted[c.quantity];
        m_gained[dMoved >= 0 ? c.import : c.exported] += std::fabs(dMoved);
    }
    for (int q = 0; q < accum_ENERGY_MAX; q++)
        if (std::isfinite(pfEnergy[q])) m_counted[q] = pfEnergy[q];
}
