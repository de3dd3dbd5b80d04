#include "ZeroCrossings.h"

#include <cmath>

namespace sim::detail {

void ZeroCrossings::reset() {
    if (m_pending != 0) m_clock.cancel(m_pending);
    m_active = false;
    m_frequencyHz = 0;
    m_pending = 0;
    ++m_generation;
}

void ZeroCrossings::update(bool chipRunning, double frequencyHz) {
    const bool active = chipRunning && frequencyHz > 0;
    if (active == m_active && (!active || frequencyHz == m_frequencyHz)) return;
    reset();
    if (!active) return;
    m_active = true;
    m_frequencyHz = frequencyHz;
    m_originNanos = m_clock.nowNanos();
    m_count = 0;
    scheduleNext();
}

void ZeroCrossings::scheduleNext() {
    ++m_count;
    // From the origin, not the last crossing, so 60 Hz half-periods do not drift.
    const double halfPeriodNanos = 1e9 / (2.0 * m_frequencyHz);
    const auto at = m_originNanos + static_cast<uint64_t>(std::llround(m_count * halfPeriodNanos));
    m_pending =
        m_clock.schedule(at, [handler = m_onCrossing, generation = m_generation] { handler(generation); });
}

}  // namespace sim::detail
