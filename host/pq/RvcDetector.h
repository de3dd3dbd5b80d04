// Rapid voltage changes on the half-cycle values. The voltage is steady when
// the last 100/120 half-cycle values of every measured phase lie within
// ±threshold (% of the declared voltage) of their mean, short of its edges. A
// change starts at a value at or past the band's edge around the mean of the
// 100/120 before it, and ends once the values since then are steady again:
// the new steady state is made of the values after the change's first, none
// of before.
//
// A dip, swell or interruption is no rapid voltage change: one during a
// change cancels it, one that starts on the first value out of the band
// leaves none, and after any of them the steady state is sought afresh.
#pragma once

#include <vector>

#include "HalfCycleRecord.h"
#include "PqConfig.h"
#include "PqSink.h"

namespace pq {

class RvcDetector {
public:
    RvcDetector(const Config& config, Sink& sink);
    void add(const HalfCycleRecord& record, bool bInVoltageEvent);
    // The records broke off: a change in progress is dropped, the steady
    // state sought afresh.
    void interrupt() { seekSteadyState(); }
    // The voltage is steady now: no change in progress, none being sought.
    bool steady() const { return m_state == State::steady; }

private:
    enum class State { seeking, steady, changing };
    void seekSteadyState();
    void clearWindow();
    void push(const HalfCycleRecord& record);
    bool windowSteady() const;
    PhaseValues windowMeans() const;
    // A measured phase at or past the band around its steady mean.
    bool leavesBand(const HalfCycleRecord& record) const;
    void reportChange();

    const Config m_config;
    Sink& m_sink;
    const double m_dBandVolts;
    State m_state = State::seeking;
    // The last 100/120 values of each phase, and their times.
    std::vector<PhaseValues> m_window;
    std::vector<int64_t> m_times;
    size_t m_nNext = 0, m_nFilled = 0;
    PhaseValues m_sums{};
    // The change in progress.
    PhaseValues m_before{};
    int64_t m_llStartMicros = 0;
    double m_dMaxDelta = 0;
    int m_nMaxPhase = 0;
};

}  // namespace pq
