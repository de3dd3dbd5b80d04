#include "EventClassifier.h"

#include <algorithm>

namespace {

constexpr int PHASES = 3;

float oneCycleVolts(const StoredRecord& record, int nPhase) {
    return record.values[jrnl_VRMS1_A + nPhase];
}

struct Kind {
    const char* pszName;
    // Whether a phase's voltage is beyond this kind's threshold.
    bool (*beyond)(double dVolts, double dLimit);
    double dLimitPercent;
    bool bAllPhases;  // the record counts only when every phase is beyond
    bool bHighest;    // the extreme is the peak, else the residual
};

bool below(double dVolts, double dLimit) {
    return dVolts < dLimit;
}
bool above(double dVolts, double dLimit) {
    return dVolts > dLimit;
}

// Fills `event` and `disturbance` when a record of the window shows `kind`;
// false otherwise.
bool findKind(StoredEvent& event, Disturbance& disturbance, const Kind& kind, double dNominal) {
    const double dLimit = dNominal * kind.dLimitPercent / 100.0;
    const auto isBeyond = [&](const StoredRecord& record, int nPhase) {
        return kind.beyond(oneCycleVolts(record, nPhase), dLimit);
    };
    const auto recordBeyond = [&](const StoredRecord& record) {
        int nBeyond = 0;
        for (int p = 0; p < PHASES; p++) nBeyond += isBeyond(record, p);
        return kind.bAllPhases ? nBeyond == PHASES : nBeyond > 0;
    };
    const auto first = std::find_if(event.records.begin(), event.records.end(), recordBeyond);
    if (first == event.records.end()) return false;
    const auto last = std::find_if(event.records.rbegin(), event.records.rend(), recordBeyond).base() - 1;
    bool bPhase[PHASES] = {};
    double dExtreme = dLimit;  // every voltage beyond it moves it further
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

Disturbance classifyEvent(StoredEvent& event, const VoltageThresholds& thresholds) {
    const Kind kinds[] = {
        {"interruption", below, thresholds.dInterruptionPercent, true, false},
        {"dip", below, thresholds.dDipPercent, false, false},
        {"swell", above, thresholds.dSwellPercent, false, true},
    };
    Disturbance disturbance;
    for (const Kind& kind : kinds)
        if (findKind(event, disturbance, kind, thresholds.dNominalVolts)) return disturbance;
    event.classification = "limit";
    event.phases.clear();
    event.dExtreme = 0;
    event.llDurationMicros = 0;
    return disturbance;
}
