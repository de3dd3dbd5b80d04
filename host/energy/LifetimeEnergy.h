// The meter's lifetime energy: import and export, active and reactive, per
// phase and in total, accumulated from the completed intervals and the one
// running, kept in the event database and restored at start, so that a value
// once published is never followed by a lower one.
#pragma once

#include <array>
#include <cstdint>

// The counters, in watt-hours (active) and var-hours (reactive).
enum LifetimeCounter {
    life_WH_IMPORT_A,
    life_WH_IMPORT_B,
    life_WH_IMPORT_C,
    life_WH_IMPORT_TOT,
    life_WH_EXPORT_A,
    life_WH_EXPORT_B,
    life_WH_EXPORT_C,
    life_WH_EXPORT_TOT,
    life_VARH_IMPORT_A,
    life_VARH_IMPORT_B,
    life_VARH_IMPORT_C,
    life_VARH_IMPORT_TOT,
    life_VARH_EXPORT_A,
    life_VARH_EXPORT_B,
    life_VARH_EXPORT_C,
    life_VARH_EXPORT_TOT,
    life_MAX
};

struct LifetimeTotals {
    int64_t llTimeMicros = 0;  // when they were last brought up to date (UTC)
    std::array<double, life_MAX> values{};
};
