// The board's one clock: virtual or real time, with its event queue and the
// wall-clock mapping. Everything here is guarded by the board mutex, which the
// clock shares so that it can drop it around event callbacks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "Sim.h"

namespace sim::detail {

class Clock {
public:
    explicit Clock(std::mutex& boardMutex) : m_mutex(boardMutex) {}
    ~Clock() { setMode(ClockMode::Virtual); }
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    // ---- Called with the board mutex held ----
    uint64_t nowNanos() const;
    ClockMode mode() const { return m_mode; }
    // Power-on: virtual mode at startNanos, no events, wall clock on the
    // system's time. The interrupt thread must already be stopped.
    void restart(uint64_t startNanos);
    EventId schedule(uint64_t atNanos, std::function<void()> fn);
    void cancel(EventId id);
    void setWallClock(int64_t epochNanos);
    int64_t wallNanos() const { return static_cast<int64_t>(nowNanos()) + m_wallOffsetNanos; }

    // ---- Called without the board mutex ----
    // Virtual mode: moves time on by `nanos`, running due events in time order
    // (the clock reads each event's time while its callback runs). Real-time
    // mode: sleeps that long.
    void advance(uint64_t nanos);
    // Starts or stops the interrupt thread. Not from an event callback.
    void setMode(ClockMode mode);

private:
    using Key = std::pair<uint64_t, EventId>;  // (time, id): same-time events in scheduling order

    void interruptThread();
    std::chrono::steady_clock::time_point steadyAt(uint64_t nanos) const;

    std::mutex& m_mutex;
    ClockMode m_mode = ClockMode::Virtual;
    uint64_t m_nowNanos = 0;  // virtual time; in real-time mode the time of the switch
    std::chrono::steady_clock::time_point m_steadyAtSwitch{};
    int64_t m_wallOffsetNanos = 0;

    std::map<Key, std::function<void()>> m_events;
    std::unordered_map<EventId, uint64_t> m_eventTimes;
    EventId m_nextId = 1;

    std::thread m_thread;
    std::condition_variable m_wake;
    bool m_stopThread = false;
};

}  // namespace sim::detail
