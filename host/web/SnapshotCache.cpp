#include "SnapshotCache.h"

#include <cstdio>

#include "LiveSnapshot.h"

namespace {
// Beyond a capture's wait, for its last poll and copy.
constexpr std::chrono::milliseconds SLACK{250};

std::string seconds(std::chrono::milliseconds time) {
    char szText[32];
    snprintf(szText, sizeof(szText), "%.1f s", static_cast<double>(time.count()) / 1000);
    return szText;
}
}  // namespace

SnapshotCache::SnapshotCache(MeasSOM& module, std::chrono::milliseconds period,
                             std::chrono::milliseconds wait, std::chrono::milliseconds backOff)
    : m_module(module), m_period(period), m_wait(wait), m_backOff(backOff) {}

bool SnapshotCache::latest(StoredSnapshot& snapshot, std::string& why) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_bCapturing) {
        // A module that does not answer holds its capture: nobody waits for
        // it longer than a capture may take.
        const unsigned unCapture = m_unStarted;
        if (!m_finished.wait_until(lock, m_started + m_wait + SLACK,
                                   [&] { return m_unEnded >= unCapture; })) {
            why = "the module has not answered a waveform capture for " +
                  seconds(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_started));
            return false;
        }
        return answer(snapshot, why);
    }
    const Clock::time_point now = Clock::now();
    const bool bFresh = m_bTaken ? now - m_started < m_period : now - m_ended < m_backOff;
    if (m_unEnded > 0 && bFresh) return answer(snapshot, why);

    m_bCapturing = true;
    m_started = now;
    m_unStarted++;
    lock.unlock();
    StoredSnapshot taken;
    const bool bTaken = takeSnapshot(m_module, taken, m_wait);
    lock.lock();
    m_bCapturing = false;
    m_ended = Clock::now();
    m_unEnded++;
    m_bTaken = bTaken;
    if (bTaken)
        m_snapshot = taken;
    else
        m_why = "the module gave no waveform capture within " + seconds(m_wait);
    m_finished.notify_all();
    return answer(snapshot, why);
}

unsigned SnapshotCache::captures() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unStarted;
}

bool SnapshotCache::answer(StoredSnapshot& snapshot, std::string& why) const {
    if (m_bTaken)
        snapshot = m_snapshot;
    else
        why = m_why;
    return m_bTaken;
}
