// The ticks of the UTC clock the aggregation intervals align to, and the wait
// for the next one after a start or a break in the records.
#pragma once

#include <cstdint>

namespace pq {

constexpr int64_t SECOND_MICROS = 1000000;
constexpr int64_t TEN_SECONDS_MICROS = 10 * SECOND_MICROS;
constexpr int64_t TEN_MINUTES_MICROS = 600 * SECOND_MICROS;
constexpr int64_t TWO_HOURS_MICROS = 7200 * SECOND_MICROS;

// Interval k of `llPeriod` spans [k·period, (k+1)·period). Rounded down before
// 1970 too: a clock not yet set still gives defined intervals.
inline int64_t tickIndex(int64_t llMicros, int64_t llPeriod) {
    const int64_t llIndex = llMicros / llPeriod;
    return llMicros % llPeriod < 0 ? llIndex - 1 : llIndex;
}

// A chain starts on a tick: after a (re)start it skips records until one
// falls in a later interval than the first it saw, so it never holds a part
// of an interval as if it were whole.
class TickStart {
public:
    explicit TickStart(int64_t llPeriod) : m_llPeriod(llPeriod) {}
    bool running(int64_t llMicros) {
        if (m_bRunning) return true;
        const int64_t llIndex = tickIndex(llMicros, m_llPeriod);
        if (!m_bSeen) {
            m_bSeen = true;
            m_llFirstIndex = llIndex;
        }
        m_bRunning = llIndex > m_llFirstIndex;
        return m_bRunning;
    }
    void restart() { m_bRunning = m_bSeen = false; }

private:
    int64_t m_llPeriod;
    bool m_bRunning = false, m_bSeen = false;
    int64_t m_llFirstIndex = 0;
};

}  // namespace pq
