// Turns the line's phase into the chip's half-cycle events on the clock while
// the chip runs and some phase carries a voltage. Guarded by the board mutex.
#pragma once

#include <cstdint>
#include <functional>

#include "Clock.h"
#include "SignalHistory.h"

namespace sim::detail {

class ZeroCrossings {
public:
    // onCrossing(generation) runs on the clock without the board mutex; it
    // calls isCurrent() and scheduleNext() after taking the mutex.
    using Handler = std::function<void(uint64_t generation)>;

    ZeroCrossings(Clock& clock, Handler onCrossing) : m_clock(clock), m_onCrossing(std::move(onCrossing)) {}

    void reset();
    // Starts, stops or retimes the crossings after anything that may change
    // whether they run or the line's phase. A no-op when neither did.
    void update(bool active, const LinePhase& phase);
    bool isCurrent(uint64_t generation) const { return m_active && generation == m_generation; }
    void scheduleNext();

private:
    void schedule();

    Clock& m_clock;
    Handler m_onCrossing;
    bool m_active = false;
    LinePhase m_phase;
    uint64_t m_index = 0;       // half-cycle of m_phase due next
    uint64_t m_generation = 0;  // stale callbacks of an earlier run see a new generation
    EventId m_pending = 0;
};

}  // namespace sim::detail
