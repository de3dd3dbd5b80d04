#include "ZeroCrossings.h"

namespace sim::detail {

void ZeroCrossings::reset() {
    if (m_pending != 0) m_clock.cancel(m_pending);
    m_active = false;
    m_pending = 0;
    ++m_generation;
}

void ZeroCrossings::update(bool active, const LinePhase& phase) {
    active = active && phase.frequencyHz > 0;
    if (active == m_active && (!active || phase.epoch == m_phase.epoch)) return;
    reset();
    if (!active) return;
    m_active = true;
    m_phase = phase;
    m_index = phase.firstHalfCycleAfter(m_clock.nowNanos());
    schedule();
}

void ZeroCrossings::scheduleNext() {
    ++m_index;
    schedule();
}

// Each crossing is timed from the phase's base, not from the last crossing,
// so 60 Hz half-periods do not drift.
void ZeroCrossings::schedule() {
    m_pending =
        m_clock.schedule(m_phase.halfCycleTime(m_index),
                         [handler = m_onCrossing, generation = m_generation] { handler(generation); });
}

}  // namespace sim::detail
