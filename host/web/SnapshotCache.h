// The waveform snapshot every viewer of the page shares. Each capture re-arms
// the chip's waveform buffer, so the page's viewers do not each take one: a
// new capture is armed only when the last is older than the period.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "MeasSOM.h"
#include "StoredEvent.h"

class SnapshotCache {
public:
    // `wait`: how long one capture may take; `backOff`: how long after a
    // failed capture its failure is the answer, before the next caller tries.
    SnapshotCache(MeasSOM& module, std::chrono::milliseconds period = std::chrono::seconds(5),
                  std::chrono::milliseconds wait = std::chrono::milliseconds(1500),
                  std::chrono::milliseconds backOff = std::chrono::seconds(1));
    SnapshotCache(const SnapshotCache&) = delete;
    SnapshotCache& operator=(const SnapshotCache&) = delete;

    // The latest snapshot, capturing a new one only when the last is older
    // than the period: at most one capture per period whatever the number of
    // viewers. Callers during a capture share it, none waits longer than one
    // capture may take. False with `why` when none could be taken. Safe from
    // any thread while the host's loop runs the module.
    bool latest(StoredSnapshot& snapshot, std::string& why);
    // How many captures it armed.
    unsigned captures() const;

private:
    using Clock = std::chrono::steady_clock;
    bool answer(StoredSnapshot& snapshot, std::string& why) const;

    MeasSOM& m_module;
    const std::chrono::milliseconds m_period, m_wait, m_backOff;
    mutable std::mutex m_mutex;
    std::condition_variable m_finished;
    StoredSnapshot m_snapshot;
    bool m_bTaken = false;  // the last capture gave m_snapshot; else m_why says why not
    std::string m_why;
    bool m_bCapturing = false;
    Clock::time_point m_started, m_ended;  // of the last capture
    unsigned m_unStarted = 0, m_unEnded = 0;
};
