// What the analysis gives: aggregated intervals, 10-second frequency values,
// voltage events and rapid voltage changes. Plain values, times in UTC
// microseconds since the epoch, ready to be stored as they are.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>

namespace pq {

// The aggregated quantities, per phase A, B, C where there are three; the
// voltage unbalance: negative- and zero-sequence ratios (% of the positive
// sequence), 0 unless all three phases are measured.
enum Quantity {
    pq_VOLTS_A,
    pq_VOLTS_B,
    pq_VOLTS_C,
    pq_AMPS_A,
    pq_AMPS_B,
    pq_AMPS_C,
    pq_THD_A,
    pq_THD_B,
    pq_THD_C,
    pq_WATTS_A,
    pq_WATTS_B,
    pq_WATTS_C,
    pq_VARS_A,
    pq_VARS_B,
    pq_VARS_C,
    pq_U2,
    pq_U0,
    pq_COUNT
};

// dMean is the quadratic mean (as RMS values combine) for every quantity but
// the powers, whose signs must cancel: theirs is the arithmetic mean. dMin and
// dMax are the extremes of the half-cycle values within the interval.
struct Stat {
    double dMin = 0, dMean = 0, dMax = 0;
};

// 10/12 and 150/180 cycles (by the nominal frequency), 10 minutes, 2 hours.
enum class IntervalKind { cycles10, cycles150, minutes10, hours2 };

struct Interval {
    IntervalKind kind = IntervalKind::cycles10;
    // The cycle intervals span their first to their last record; the clock
    // intervals are named by their ticks, [start, end), also when incomplete.
    int64_t llStartMicros = 0, llEndMicros = 0;
    // Half-cycles in a 10/12-cycle value; 10/12-cycle values in a 150/180-cycle
    // or a 10-minute value; complete 10-minute values in a 2-hour value.
    uint32_t ulParts = 0;
    bool bFlagged = false;  // it overlaps a dip, swell or interruption: keep it, but do not trust it
    // False for a 10-minute value cut short by a break in the records or by
    // their end, and for a 2-hour value with fewer than 12 complete 10-minute values.
    bool bComplete = true;
    std::array<Stat, pq_COUNT> stats{};
};

// The frequency over a 10-second interval of the UTC clock: whole half-cycles
// counted over their own duration; min and max of the half-cycle readings.
struct FrequencyValue {
    int64_t llStartMicros = 0, llEndMicros = 0;  // the ticks
    Stat hz;
    uint32_t ulHalfCycles = 0;
    bool bFlagged = false;
    bool bComplete = true;  // false when cut short by a break in the records or by their end
};

enum class EventKind { dip, swell, interruption };

struct VoltageEvent {
    EventKind kind = EventKind::dip;
    int64_t llStartMicros = 0;
    int64_t llDurationMicros = 0;
    double dExtremeVolts = 0;  // the lowest voltage of a dip or interruption, the highest of a swell
    int nPhase = 0;            // where that was: 0 A, 1 B, 2 C
    // For an interruption: how long every phase was below its threshold (until
    // one was back above it plus the hysteresis), summed if it happened again.
    int64_t llInterruptedMicros = 0;
    bool bCutShort = false;  // the records stopped before the voltage came back
};

struct RapidVoltageChange {
    int64_t llStartMicros = 0;
    // Until the first half-cycle of the new steady state.
    int64_t llDurationMicros = 0;
    // ΔUmax: the largest deviation from the steady mean before the change, over
    // the change and the half-cycles that made the new steady state.
    double dMaxDeltaVolts = 0;
    // ΔUss: the new steady mean less the one before, of the phase that moved most.
    double dSteadyDeltaVolts = 0;
    int nPhase = 0;  // the phase of ΔUmax
};

// The names the results are stored and served under; "unknown" for a value
// out of its enumeration (one read back from storage).
inline const char* intervalKindName(IntervalKind kind) {
    static const char* const NAMES[] = {"10/12-cycle", "150/180-cycle", "10-minute", "2-hour"};
    return static_cast<unsigned>(kind) < std::size(NAMES) ? NAMES[static_cast<unsigned>(kind)] : "unknown";
}
inline const char* eventKindName(EventKind kind) {
    static const char* const NAMES[] = {"dip", "swell", "interruption"};
    return static_cast<unsigned>(kind) < std::size(NAMES) ? NAMES[static_cast<unsigned>(kind)] : "unknown";
}

}  // namespace pq
