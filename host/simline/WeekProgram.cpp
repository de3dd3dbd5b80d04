#include "WeekProgram.h"

namespace {

constexpr int64_t DAY = 86400, HOUR = 3600, MINUTE = 60;

// Each dip and swell lies within one 10-minute interval, a few minutes past a
// tick, on one phase, its depth and duration well inside a row and a column of
// the report's event table; the long changes start and end on ticks.
const std::vector<WeekEvent> PROGRAM = {
    // Below 99 % of the nominal: half an hour of 10-second values outside the
    // ±1 % band, within the +4/-6 % one.
    {WeekChange::frequency, 3 * HOUR, 1800, 0, 49.4},
    {WeekChange::dip, DAY + 10 * HOUR + 3 * MINUTE, 0.1, 0, 0.85},
    {WeekChange::dip, DAY + 14 * HOUR + 3 * MINUTE, 0.3, 1, 0.60},
    {WeekChange::unbalance, 2 * DAY + 13 * HOUR, 4 * HOUR, 1, 0.93, 4.0},
    {WeekChange::harmonics, 3 * DAY + 18 * HOUR, 4 * HOUR, 0, 9.0},
    {WeekChange::dip, 4 * DAY + 9 * HOUR + 3 * MINUTE, 2.0, 2, 0.30},
    {WeekChange::swell, 5 * DAY + 12 * HOUR + 3 * MINUTE, 10.0, 0, 1.15},
    {WeekChange::swell, 6 * DAY + 8 * HOUR + 3 * MINUTE, 0.7, 2, 1.25},
};

}  // namespace

const std::vector<WeekEvent>& weekProgram() {
    return PROGRAM;
}
