#include "RvcDetector.h"

#include <cmath>

namespace pq {

RvcDetector::RvcDetector(const Config& config, Sink& sink)
    : m_config(config),
      m_sink(sink),
      m_dBandVolts(config.voltsAt(config.dRvcPercent)),
      m_window(static_cast<size_t>(config.halfCyclesPerSecond())),
      m_times(m_window.size()) {}

void RvcDetector::seekSteadyState() {
    m_state = State::seeking;
    clearWindow();
}

void RvcDetector::clearWindow() {
    m_nNext = m_nFilled = 0;
    m_sums = {};
}

void RvcDetector::push(const HalfCycleRecord& record) {
    const PhaseValues& leaving = m_window[m_nNext];
    for (int p = 0; p < PHASES; p++)
        m_sums[p] += record.volts[p] - (m_nFilled == m_window.size() ? leaving[p] : 0);
    m_window[m_nNext] = record.volts;
    m_times[m_nNext] = record.llTimeMicros;
    m_nNext = (m_nNext + 1) % m_window.size();
    if (m_nFilled < m_window.size()) m_nFilled++;
    // The running sums are made afresh each round, so no rounding piles up over the years.
    if (m_nNext == 0) {
        m_sums = {};
        for (const PhaseValues& values : m_window)
            for (int p = 0; p < PHASES; p++) m_sums[p] += values[p];
    }
}

PhaseValues RvcDetector::windowMeans() const {
    PhaseValues means;
    for (int p = 0; p < PHASES; p++) means[p] = m_sums[p] / static_cast<double>(m_nFilled);
    return means;
}

bool RvcDetector::windowSteady() const {
    if (m_nFilled < m_window.size()) return false;
    const PhaseValues means = windowMeans();
    for (const PhaseValues& values : m_window)
        for (int p = 0; p < PHASES; p++)
            if (m_config.measures(p) && std::fabs(values[p] - means[p]) >= m_dBandVolts) return false;
    return true;
}

bool RvcDetector::leavesBand(const HalfCycleRecord& record) const {
    const PhaseValues means = windowMeans();
    for (int p = 0; p < PHASES; p++)
        if (m_config.measures(p) && std::fabs(record.volts[p] - means[p]) >= m_dBandVolts) return true;
    return false;
}

void RvcDetector::add(const HalfCycleRecord& record, bool bInVoltageEvent) {
    if (bInVoltageEvent) {
        seekSteadyState();
        return;
    }
    if (m_state == State::steady && leavesBand(record)) {
        m_state = State::changing;
        m_before = windowMeans();
        m_llStartMicros = record.llTimeMicros;
        m_dMaxDelta = 0;
        clearWindow();  // the new steady state is made of the values after this one
    } else {
        push(record);
    }
    if (m_state == State::changing) {
        for (int p = 0; p < PHASES; p++) {
            const double dDelta = std::fabs(record.volts[p] - m_before[p]);
            if (m_config.measures(p) && dDelta > m_dMaxDelta) m_dMaxDelta = dDelta, m_nMaxPhase = p;
        }
    }
    if (m_state == State::steady || !windowSteady()) return;
    if (m_state == State::changing) reportChange();
    m_state = State::steady;
}

void RvcDetector::reportChange() {
    RapidVoltageChange change;
    change.llStartMicros = m_llStartMicros;
    change.llDurationMicros = m_times[m_nNext] - m_llStartMicros;  // to the oldest in the window
    change.dMaxDeltaVolts = m_dMaxDelta;
    change.nPhase = m_nMaxPhase;
    const PhaseValues after = windowMeans();
    for (int p = 0; p < PHASES; p++) {
        const double dDelta = after[p] - m_before[p];
        if (m_config.measures(p) && std::fabs(dDelta) > std::fabs(change.dSteadyDeltaVolts))
            change.dSteadyDeltaVolts = dDelta;
    }
    m_sink.rapidVoltageChange(change);
}

}  // namespace pq
