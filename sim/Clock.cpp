#include "Clock.h"

#include <algorithm>
#include <stdexcept>

namespace sim::detail {

uint64_t Clock::nowNanos() const {
    if (m_mode == ClockMode::Virtual) return m_nowNanos;
    const auto elapsed = std::chrono::steady_clock::now() - m_steadyAtSwitch;
    return m_nowNanos +
           static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

std::chrono::steady_clock::time_point Clock::steadyAt(uint64_t nanos) const {
    const uint64_t ahead = nanos > m_nowNanos ? nanos - m_nowNanos : 0;
    return m_steadyAtSwitch + std::chrono::nanoseconds(ahead);
}

void Clock::restart(uint64_t startNanos) {
    m_mode = ClockMode::Virtual;
    m_nowNanos = startNanos;
    m_events.clear();
    m_eventTimes.clear();
    const auto system = std::chrono::system_clock::now().time_since_epoch();
    m_wallOffsetNanos = std::chrono::duration_cast<std::chrono::nanoseconds>(system).count() -
                        static_cast<int64_t>(startNanos);
}

EventId Clock::schedule(uint64_t atNanos, std::function<void()> fn) {
    const EventId id = m_nextId++;
    m_events.emplace(Key{atNanos, id}, std::move(fn));
    m_eventTimes.emplace(id, atNanos);
    if (m_mode == ClockMode::RealTime) m_wake.notify_one();
    return id;
}

void Clock::cancel(EventId id) {
    const auto it = m_eventTimes.find(id);
    if (it == m_eventTimes.end()) return;
    m_events.erase(Key{it->second, id});
    m_eventTimes.erase(it);
}

void Clock::setWallClock(int64_t epochNanos) {
    m_wallOffsetNanos = epochNanos - static_cast<int64_t>(nowNanos());
}

void Clock::advance(uint64_t nanos) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_mode == ClockMode::RealTime) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::nanoseconds(nanos));
        return;
    }
    const uint64_t target = m_nowNanos + nanos;
    while (m_mode == ClockMode::Virtual) {
        if (m_events.empty() || m_events.begin()->first.first > target) {
            // A callback may itself have advanced the clock past target.
            m_nowNanos = std::max(m_nowNanos, target);
            return;
        }
        auto event = m_events.extract(m_events.begin());
        m_eventTimes.erase(event.key().second);
        m_nowNanos = std::max(m_nowNanos, event.key().first);
        lock.unlock();
        event.mapped()();
        lock.lock();
    }
}

void Clock::setMode(ClockMode mode) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (mode == m_mode) return;
    if (mode == ClockMode::RealTime) {
        m_steadyAtSwitch = std::chrono::steady_clock::now();
        m_mode = ClockMode::RealTime;
        m_stopThread = false;
        m_thread = std::thread([this] { interruptThread(); });
        return;
    }
    if (std::this_thread::get_id() == m_thread.get_id())
        throw std::logic_error("the clock mode cannot change from the interrupt thread");
    m_nowNanos = nowNanos();  // virtual time continues from the real time reached
    m_mode = ClockMode::Virtual;
    m_stopThread = true;
    m_wake.notify_all();
    lock.unlock();
    m_thread.join();
}

// Real-time mode: fires events as the steady clock reaches them, on this
// thread, as the board's interrupt dispatcher does.
void Clock::interruptThread() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopThread) {
        if (m_events.empty()) {
            m_wake.wait(lock);
            continue;
        }
        const uint64_t due = m_events.begin()->first.first;
        if (due > nowNanos()) {
            m_wake.wait_until(lock, steadyAt(due));
            continue;
        }
        auto event = m_events.extract(m_events.begin());
        m_eventTimes.erase(event.key().second);
        lock.unlock();
        event.mapped()();
        lock.lock();
    }
}

}  // namespace sim::detail
