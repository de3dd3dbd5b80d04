#include "En50160Report.h"

namespace pq {

namespace {

struct Tally {
    uint32_t ulValues = 0, ulWithin = 0;
    void count(bool bWithin) {
        ulValues++;
        ulWithin += bWithin;
    }
};

Criterion judge(const Tally& tally, double dRequiredPercent, bool bJudged) {
    Criterion c;
    c.bJudged = bJudged;
    c.ulValues = tally.ulValues;
    c.ulWithin = tally.ulWithin;
    c.dPercentWithin = tally.ulValues ? 100.0 * tally.ulWithin / tally.ulValues : 0;
    c.dRequiredPercent = dRequiredPercent;
    // In tenths of a percent, whole numbers: 99.5 % of 2000 is 1990, not a rounding away.
    c.bPass =
        bJudged && tally.ulValues > 0 &&
        uint64_t{tally.ulWithin} * 1000 >= uint64_t{tally.ulValues} * uint64_t(dRequiredPercent * 10 + 0.5);
    return c;
}

bool within(double dValue, double dLow, double dHigh) {
    return dValue >= dLow && dValue <= dHigh;
}

int dipRow(double dPercent) {
    const double dLowerBounds[DIP_ROWS - 1] = {80, 70, 40, 5};
    int nRow = 0;
    while (nRow < DIP_ROWS - 1 && dPercent < dLowerBounds[nRow]) nRow++;
    return nRow;
}

int durationColumn(int64_t llMicros) {
    const int64_t llUpperBounds[DURATION_COLUMNS - 1] = {200000, 500000, 1000000, 5000000, 60000000};
    int nColumn = 0;
    while (nColumn < DURATION_COLUMNS - 1 && llMicros > llUpperBounds[nColumn]) nColumn++;
    return nColumn;
}

}  // namespace

int64_t lastWeekStart(int64_t llNowMicros) {
    constexpr int64_t DAY_MICROS = 86400 * SECOND_MICROS;
    const int64_t llDay = tickIndex(llNowMicros, DAY_MICROS);
    // 1970-01-01 was a Thursday: day 4, the 5th, a Monday.
    const int64_t llSinceMonday = ((llDay - 4) % 7 + 7) % 7;
    return (llDay - llSinceMonday - 7) * DAY_MICROS;
}

En50160Report en50160Report(const Config& config, int64_t llStartMicros,
                            const std::vector<Interval>& tenMinutes,
                            const std::vector<FrequencyValue>& tenSeconds,
                            const std::vector<VoltageEvent>& events) {
    En50160Report report;
    report.llStartMicros = llStartMicros;
    report.llEndMicros = llStartMicros + WEEK_MICROS;
    const auto inWeek = [&](int64_t llStart, int64_t llEnd) {
        return llStart >= report.llStartMicros && llEnd <= report.llEndMicros;
    };
    const double dVolts = config.dDeclaredVolts, dHz = config.nNominalHz;

    Tally voltage95[PHASES], voltageAll[PHASES], thd95[PHASES], unbalance95;
    for (const Interval& value : tenMinutes) {
        if (value.kind != IntervalKind::minutes10 || !value.bComplete ||
            !inWeek(value.llStartMicros, value.llEndMicros))
            continue;
        report.ulTenMinutesPresent++;
        if (value.bFlagged) {
            report.ulTenMinutesFlagged++;
            continue;
        }
        for (int p = 0; p < PHASES; p++) {
            const double dPhaseVolts = value.stats[pq_VOLTS_A + p].dMean;
            voltage95[p].count(within(dPhaseVolts, 0.90 * dVolts, 1.10 * dVolts));
            voltageAll[p].count(within(dPhaseVolts, 0.85 * dVolts, 1.10 * dVolts));
            thd95[p].count(value.stats[pq_THD_A + p].dMean <= 8.0);
        }
        unbalance95.count(value.stats[pq_U2].dMean <= 2.0);
    }
    for (int p = 0; p < PHASES; p++) {
        report.voltage95[p] = judge(voltage95[p], 95, config.measures(p));
        report.voltageAll[p] = judge(voltageAll[p], 100, config.measures(p));
        report.thd95[p] = judge(thd95[p], 95, config.measures(p));
    }
    report.unbalance95 = judge(unbalance95, 95, config.measuresAllPhases());

    Tally frequency995, frequencyAll;
    for (const FrequencyValue& value : tenSeconds) {
        if (!value.bComplete || !inWeek(value.llStartMicros, value.llEndMicros)) continue;
        report.ulTenSecondsPresent++;
        frequency995.count(within(value.hz.dMean, 0.99 * dHz, 1.01 * dHz));
        frequencyAll.count(within(value.hz.dMean, 0.94 * dHz, 1.04 * dHz));
    }
    report.frequency995 = judge(frequency995, 99.5, true);
    report.frequencyAll = judge(frequencyAll, 100, true);

    for (const VoltageEvent& event : events) {
        if (!inWeek(event.llStartMicros, event.llStartMicros + 1)) continue;
        const double dPercent = 100.0 * event.dExtremeVolts / dVolts;
        const int nColumn = durationColumn(event.llDurationMicros);
        if (event.kind == EventKind::swell)
            report.swells[dPercent >= 120 ? 0 : 1][nColumn]++;
        else
            report.dips[dipRow(dPercent)][nColumn]++;
    }

    bool bFailed = false, bMissing = report.ulTenMinutesPresent < TEN_MINUTES_PER_WEEK ||
                                     report.ulTenSecondsPresent < TEN_SECONDS_PER_WEEK;
    std::vector<const Criterion*> criteria = {&report.frequency995, &report.frequencyAll,
                                              &report.unbalance95};
    for (int p = 0; p < PHASES; p++)
        criteria.insert(criteria.end(), {&report.voltage95[p], &report.voltageAll[p], &report.thd95[p]});
    for (const Criterion* pCriterion : criteria) {
        if (!pCriterion->bJudged) continue;
        bFailed = bFailed || (pCriterion->ulValues > 0 && !pCriterion->bPass);
        bMissing = bMissing || pCriterion->ulValues == 0;
    }
    report.verdict = bFailed ? Verdict::fail : bMissing ? Verdict::incomplete : Verdict::pass;
    return report;
}

}  // namespace pq
