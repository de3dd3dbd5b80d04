// A week of the supply against EN 50160's limits, from what was stored: the
// complete 10-minute values, the complete 10-second frequency values and the
// voltage events of seven days from a given start. A pure function: the same
// stored values always give the same report.
//
// Flagged 10-minute values are left out of the voltage, THD and unbalance
// statistics (a dip is judged as a dip, not again as a low 10-minute mean);
// the frequency keeps its flagged values. Each criterion gives its measured
// percentage; a week whose values are not all there says so in its verdict
// and in the counts, rather than passing on what it has.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "HalfCycleRecord.h"
#include "PqConfig.h"
#include "PqResults.h"
#include "UtcTicks.h"

namespace pq {

constexpr int64_t WEEK_MICROS = 7 * 24 * 3600 * SECOND_MICROS;
constexpr uint32_t TEN_MINUTES_PER_WEEK = 1008;
constexpr uint32_t TEN_SECONDS_PER_WEEK = 60480;

// The event table's rows: dips by residual voltage (% of the declared, each
// row's lower bound its own) 90-80, 80-70, 70-40, 40-5, below 5 (the
// interruptions among them); swells by their highest, 120 and over, 110-120.
constexpr int DIP_ROWS = 5, SWELL_ROWS = 2;
// Its columns, each upper bound its own: up to 200 ms (a 60 Hz half-cycle, the
// shortest event measured, is 8.3 ms), 0.2-0.5 s, 0.5-1 s, 1-5 s, 5-60 s,
// and a last column for those longer than 60 s, so none goes uncounted.
constexpr int DURATION_COLUMNS = 6;
template <int ROWS>
using EventTable = std::array<std::array<uint32_t, DURATION_COLUMNS>, ROWS>;

struct Criterion {
    bool bJudged = false;   // false for a phase not measured, unbalance without three phases
    uint32_t ulValues = 0;  // the values judged
    uint32_t ulWithin = 0;  // of them, within the limits
    double dPercentWithin = 0;
    double dRequiredPercent = 0;
    bool bPass = false;  // judged, with values, and enough of them within
};

enum class Verdict { pass, fail, incomplete };

struct En50160Report {
    int64_t llStartMicros = 0, llEndMicros = 0;
    uint32_t ulTenMinutesPresent = 0;  // complete 10-minute values, of TEN_MINUTES_PER_WEEK
    uint32_t ulTenMinutesFlagged = 0;  // of them, left out of the voltage, THD and unbalance statistics
    uint32_t ulTenSecondsPresent = 0;  // complete 10-second frequency values, of TEN_SECONDS_PER_WEEK
    // Per phase: 10-minute voltage within ±10 % of the declared for 95 %, and
    // within +10 %/-15 % for all; THD at most 8 % for 95 %.
    std::array<Criterion, PHASES> voltage95, voltageAll, thd95;
    // 10-second frequency within ±1 % of the nominal for 99.5 %, within
    // +4 %/-6 % for all; negative-sequence unbalance at most 2 % for 95 %.
    Criterion frequency995, frequencyAll, unbalance95;
    EventTable<DIP_ROWS> dips{};
    EventTable<SWELL_ROWS> swells{};
    // Fail when a judged criterion fails; else incomplete when a value of the
    // week is missing or a judged criterion had none to judge; else pass.
    Verdict verdict = Verdict::incomplete;
};

// The Monday 00:00 UTC that starts the last complete week before `llNowMicros`.
int64_t lastWeekStart(int64_t llNowMicros);

// Values outside [llStartMicros, llStartMicros + WEEK_MICROS), incomplete
// ones and other kinds of interval are passed over.
En50160Report en50160Report(const Config& config, int64_t llStartMicros,
                            const std::vector<Interval>& tenMinutes,
                            const std::vector<FrequencyValue>& tenSeconds,
                            const std::vector<VoltageEvent>& events);

}  // namespace pq
