// The week scenario's program: what happens to the simulated line in a week
// from Monday 00:00 UTC, with depths and durations known, so the week's
// EN 50160 report can be told in advance. The scenario plays it and the
// tests read it; nothing else states it.
#pragma once

#include <cstdint>
#include <vector>

enum class WeekChange {
    dip,        // the phase's voltage times dValue for dSeconds
    swell,      // likewise, dValue above 1
    frequency,  // the line at dValue Hz for dSeconds
    unbalance,  // the phase's voltage times dValue and dDegrees later for dSeconds
    harmonics,  // the phase's voltage with a 5th harmonic of dValue % for dSeconds
};

struct WeekEvent {
    WeekChange change;
    int64_t llOffsetSeconds;  // from Monday 00:00 UTC
    double dSeconds;
    int nPhase;  // 0 A, 1 B, 2 C; none for the frequency
    double dValue;
    double dDegrees = 0;
};

const std::vector<WeekEvent>& weekProgram();

constexpr int64_t WEEK_SECONDS = 7 * 86400;
// The line starts this long before the Monday, so the week's first 10-minute
// and 10-second intervals are whole, and runs this long past its end.
constexpr int64_t WEEK_LEAD_SECONDS = 60, WEEK_TAIL_SECONDS = 30;
