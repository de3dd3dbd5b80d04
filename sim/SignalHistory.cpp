#include "SignalHistory.h"

#include <algorithm>
#include <cmath>

namespace sim::detail {

namespace {

// Older segments than this are dropped: enough for the longest window (12
// cycles) and a waveform page (2 cycles) down to a few hertz.
constexpr uint64_t kKeepNanos = 5000000000ull;

}  // namespace

int voltageChannel(int phase) {
    return 2 * phase + 1;
}

int currentChannel(int phase) {
    return 2 * phase;
}

double LinePhase::cyclesAt(uint64_t nanos) const {
    const double seconds = (static_cast<double>(nanos) - static_cast<double>(baseNanos)) / 1e9;
    return baseCycles + frequencyHz * seconds;
}

uint64_t LinePhase::halfCycleTime(uint64_t index) const {
    const double seconds = (static_cast<double>(index) / 2.0 - baseCycles) / frequencyHz;
    return baseNanos + static_cast<uint64_t>(std::llround(seconds * 1e9));
}

uint64_t LinePhase::firstHalfCycleAfter(uint64_t nanos) const {
    const double halfCycles = 2.0 * cyclesAt(nanos);
    uint64_t index = halfCycles < 0 ? 0 : static_cast<uint64_t>(std::floor(halfCycles));
    while (halfCycleTime(index) <= nanos) ++index;
    return index;
}

SignalHistory::Segment SignalHistory::segmentOf(uint64_t nanos, const LineSignal& signal,
                                                const LinePhase& phase) {
    Segment segment{nanos, signal, phase, {}};
    for (int p = 0; p < kPhases; ++p) {
        segment.meanSquare[voltageChannel(p)] = meanSquare(spectrum(signal, p, Quantity::Voltage));
        segment.meanSquare[currentChannel(p)] = meanSquare(spectrum(signal, p, Quantity::Current));
    }
    segment.meanSquare[kNeutralChannel] = neutralMeanSquare(signal);
    return segment;
}

void SignalHistory::restart(uint64_t nanos, const LineSignal& signal) {
    m_segments.clear();
    LinePhase phase;
    phase.baseNanos = nanos;
    phase.frequencyHz = signal.frequencyHz;
    phase.epoch = 1;
    m_segments.push_back(segmentOf(nanos, signal, phase));
    ++m_version;
}

void SignalHistory::change(uint64_t nanos, const LineSignal& signal) {
    const Segment& last = m_segments.back();
    nanos = std::max(nanos, last.startNanos);
    LinePhase phase = last.phase;
    if (signal.frequencyHz != phase.frequencyHz) {
        // Re-based where the old frequency left the phase, so it runs on without a jump.
        const double cycles = phase.cyclesAt(nanos);
        phase.baseNanos = nanos;
        phase.baseCycles = cycles - std::floor(cycles);
        phase.frequencyHz = signal.frequencyHz;
        ++phase.epoch;
    }
    append(segmentOf(nanos, signal, phase));
}

void SignalHistory::rebasePhase(uint64_t nanos) {
    Segment segment = m_segments.back();
    segment.startNanos = std::max(nanos, segment.startNanos);
    segment.phase.baseNanos = segment.startNanos;
    segment.phase.baseCycles = 0;
    ++segment.phase.epoch;
    append(std::move(segment));
}

void SignalHistory::append(Segment segment) {
    const uint64_t nanos = segment.startNanos;
    if (m_segments.back().startNanos == nanos)
        m_segments.back() = std::move(segment);
    else
        m_segments.push_back(std::move(segment));
    while (m_segments.size() > 1 && m_segments[1].startNanos + kKeepNanos <= nanos) m_segments.pop_front();
    ++m_version;
}

const SignalHistory::Segment& SignalHistory::at(uint64_t nanos) const {
    for (auto it = m_segments.rbegin(); it != m_segments.rend(); ++it)
        if (it->startNanos <= nanos) return *it;
    return m_segments.front();
}

double SignalHistory::windowMeanSquare(int channel, uint64_t fromNanos, uint64_t toNanos) const {
    if (toNanos <= fromNanos) return m_segments.back().meanSquare[channel];
    double weighted = 0;
    uint64_t end = toNanos;
    for (auto it = m_segments.rbegin(); it != m_segments.rend() && end > fromNanos; ++it) {
        const bool first = std::next(it) == m_segments.rend();
        const uint64_t start = first ? fromNanos : std::max(it->startNanos, fromNanos);
        if (start < end) weighted += it->meanSquare[channel] * static_cast<double>(end - start);
        end = std::min(end, start);
    }
    return weighted / static_cast<double>(toNanos - fromNanos);
}

}  // namespace sim::detail
