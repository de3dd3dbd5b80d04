// Turns the line frequency into the chip's half-cycle events on the clock
// while the chip runs. Guarded by the board mutex.
#pragma once

#include <cstdint>
#include <functional>

#include "Clock.h"

namespace sim::detail {

class ZeroCrossings {
public:
    // onCrossing(generation) runs on the clock without the board mutex; it
    // calls isCurrent() and scheduleNext() after taking the mutex.
    using Handler = std::function<void(uint64_t generation)>;

    ZeroCrossings(Clock& clock, Handler onCrossing) : m_clock(clock), m_onCrossing(std::move(onCrossing)) {}

    void reset();
    // Starts, stops or retimes the crossings after anything that may change
    // whether the chip runs or the line frequency. A no-op when neither did.
    void update(bool chipRunning, double frequencyHz);
    bool isCurrent(uint64_t generation) const { return m_active && generation == m_generation; }
    void scheduleNext();

private:
    Clock& m_clock;
    Handler m_onCrossing;
    bool m_active = false;
    double m_frequencyHz = 0;
    uint64_t m_originNanos = 0;  // crossing k falls at origin + k half-periods
    uint64_t m_count = 0;
    uint64_t m_generation = 0;  // stale callbacks of an earlier run see a new generation
    EventId m_pending = 0;
};

}  // namespace sim::detail
