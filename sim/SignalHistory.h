// The line signal over time: piecewise constant, with the line's phase kept
// continuous through frequency changes. Windowed RMS readings and waveform
// pages look back into it; zero crossings follow its phase. Guarded by the
// board mutex.
#pragma once

#include <array>
#include <cstdint>
#include <deque>

#include "LineSignal.h"

namespace sim::detail {

// Channels of the mean squares kept per segment, as sim::Channel numbers them.
constexpr int kChannels = 7;
constexpr int kNeutralChannel = 6;
int voltageChannel(int phase);
int currentChannel(int phase);

// The line's phase in cycles: phase A's voltage (lag 0) rises through zero at
// whole cycles.
struct LinePhase {
    uint64_t baseNanos = 0;
    double baseCycles = 0;  // phase at baseNanos, in [0, 1)
    double frequencyHz = 0;
    uint64_t epoch = 0;  // changes whenever the phase is re-based

    double cyclesAt(uint64_t nanos) const;
    // Half-cycle k counted from the base's last whole cycle: baseNanos when
    // k / 2 equals baseCycles.
    uint64_t halfCycleTime(uint64_t index) const;
    // The first half-cycle index whose time is later than `nanos`.
    uint64_t firstHalfCycleAfter(uint64_t nanos) const;
};

class SignalHistory {
public:
    struct Segment {
        uint64_t startNanos;
        LineSignal signal;
        LinePhase phase;
        std::array<double, kChannels> meanSquare;  // of the true signal, volts^2 or amps^2
    };

    void restart(uint64_t nanos, const LineSignal& signal);
    // The signal from `nanos` on (not before the last change).
    void change(uint64_t nanos, const LineSignal& signal);
    // Phase A's voltage rises through zero at `nanos`: the chip starting to
    // run synchronises to the line there.
    void rebasePhase(uint64_t nanos);

    const LineSignal& current() const { return m_segments.back().signal; }
    const LinePhase& phase() const { return m_segments.back().phase; }
    const Segment& at(uint64_t nanos) const;
    // Counts changes, so derived values know when to recompute.
    uint64_t version() const { return m_version; }

    // Time-weighted mean square of a channel over [from, to); the first
    // segment stands for all time before it.
    double windowMeanSquare(int channel, uint64_t fromNanos, uint64_t toNanos) const;

private:
    static Segment segmentOf(uint64_t nanos, const LineSignal& signal, const LinePhase& phase);
    void append(Segment segment);

    std::deque<Segment> m_segments;
    uint64_t m_version = 0;
};

}  // namespace sim::detail
