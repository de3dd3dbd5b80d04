#include "EventClassifier.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int PHASES = 3;

float oneCycleVolts(const StoredRecord& record, int nPhase) {
    return record.values[jrnl_VRMS1_A + nPhase];
}

struct Kind {
    const char* pszName;
    // Whether a phase's voltage is beyond this kind's threshold.
    bool (*beyond)(float fVolts, float fLimit);
    double dLimitPercent;
    uint32_t ulLimitBit;  // the module's bit for a phase beyond it, 0: none
    bool bAllPhases;      // the record counts only when every phase is beyond
    bool bHighest;        // the extreme is the peak, else the residual
};

bool below(float fVolts, float fLimit) {
    return fVolts < fLimit;
}
bool above(float fVolts, float fLimit) {
    return fVolts > fLimit;
}

// Fills `event` and `disturbance` when a record of the window shows `kind`;
// false otherwise.
bool findKind(StoredEvent& event, Disturbance& disturbance, const Kind& kind,
              const VoltageThresholds& thresholds) {
    const float fLimit =
        percentOf(static_cast<float>(thresholds.dNominalVolts), static_cast<float>(kind.dLimitPercent));
    int nMeasured = 0;
    for (int p = 0; p < PHASES; p++) nMeasured += (thresholds.unPhases >> p) & 1;
    const auto isBeyond = [&](const StoredRecord& record, int nPhase) {
        if (!((thresholds.unPhases >> nPhase) & 1)) return false;
        const uint32_t ulBits = record.ulLimitStatus >> (LIMIT_BITS_PER_PHASE * nPhase);
        return (ulBits & kind.ulLimitBit) != 0 || kind.beyond(oneCycleVolts(record, nPhase), fLimit);
    };
    const auto recordBeyond = [&](const StoredRecord& record) {
        int nBeyond = 0;
        for (int p = 0; p < PHASES; p++) nBeyond += isBeyond(record, p);
        return kind.bAllPhases ? nBeyond == nMeasured : nBeyond > 0;
    };
    const auto first = std::find_if(event.records.begin(), event.records.end(), recordBeyond);
    if (first == event.records.end()) return false;
    const auto last = std::find_if(event.records.rbegin(), event.records.rend(), recordBeyond).base() - 1;
    bool bPhase[PHASES] = {};
    // A phase the module's bit marks may lie just within the threshold.
    double dExtreme = (kind.bHighest ? -1 : 1) * std::numeric_limits<double>::infinity();
    for (auto it = first; it <= last; ++it)
        for (int p = 0; p < PHASES; p++) {
            if (!isBeyond(*it, p)) continue;
            bPhase[p] = true;
            const double dVolts = oneCycleVolts(*it, p);
            dExtreme = kind.bHighest ? std::max(dExtreme, dVolts) : std::min(dExtreme, dVolts);
        }
    event.classification = kind.pszName;
    event.phases.clear();
    for (int p = 0; p < PHASES; p++)
        if (bPhase[p]) event.phases += static_cast<char>('A' + p);
    event.dExtreme = dExtreme;
    // Until the first record back within the threshold, or the window's end.
    const auto back = last + 1;
    event.llDurationMicros =
        (back == event.records.end() ? event.llEndMicros : back->llTimeMicros) - first->llTimeMicros;
    disturbance = {first == event.records.begin(), back == event.records.end(), first->llTimeMicros};
    return true;
}

}  // namespace

VoltageThresholds voltageThresholds(const LineSettings& line, double dInterruptionPercent) {
    return {line.fNominalVolts, dInterruptionPercent, line.fVLowPercent, line.fVHighPercent,
            line.measuredPhases()};
}

Disturbance classifyEvent(StoredEvent& event, const VoltageThresholds& thresholds) {
    const Kind kinds[] = {
        {"interruption", below, thresholds.dInterruptionPercent, 0, true, false},
        {"dip", below, thresholds.dDipPercent, LIMIT_VOLTS_LOW, false, false},
        {"swell", above, thresholds.dSwellPercent, LIMIT_VOLTS_HIGH, false, true},
    };
    Disturbance disturbance;
    for (const Kind& kind : kinds)
        if (findKind(event, disturbance, kind, thresholds)) return disturbance;
    event.classification = "limit";
    event.phases.clear();
    event.dExtreme = 0;
    event.llDurationMicros = 0;
    return disturbance;
}
