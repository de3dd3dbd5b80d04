// The host's writer: stores every recording window the module opens, whole,
// with its classification, and every completed energy and demand interval,
// in the event database. It never holds up measurement: the host's loop only
// notes a completed interval after each process call; a thread of its own
// waits on s_condDataAvailable and takes each window off the ring into its
// own memory as soon as the module has filled it, whatever the database is
// doing, then writes what is pending, one item a pass.
//
// A write that fails (full disk, locked database) is retried with a back-off
// from 50 ms doubling to 2 s for as long as the pending queue has room; only
// when MAX_PENDING windows and intervals wait is the oldest dropped, counted
// and listed. A window whose slots the module overwrote before it could be
// taken (the thread starved for a lap of the ring, ~41 s) is never stored:
// it is counted lost and the ring moves on. The recorder follows the ring
// from pass to pass by its records' time stamps; a window it first sees
// after the ring may have gone round cannot be told from its overwritten
// slots and counts as lost too. The recorder is started with the module.
//
// A disturbance that outlasts its window (a swell of seconds) is one event:
// the window that sees it end is appended to the one that saw it start. An
// event whose disturbance runs to its last record is stored open; open and
// stop close what an earlier run or this one left open (as incomplete).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "EventClassifier.h"
#include "EventDatabase.h"
#include "RPi.h"
#include "RecorderCounts.h"

class Recorder {
public:
    static constexpr size_t MAX_PENDING = 256;  // windows and intervals; beyond, the oldest is dropped
    // And their records (~300 bytes each), for windows configured thousands of records long.
    static constexpr size_t MAX_PENDING_RECORDS = 65536;
    static constexpr int64_t FIRST_RETRY_MICROS = 50000, LAST_RETRY_MICROS = 2000000;
    using Clock = std::function<int64_t()>;  // microseconds, monotonic

    // `clock` times the back-off (tests pass a virtual one).
    Recorder(STATUS_AND_CONTROL& block, const VoltageThresholds& thresholds, Clock clock = steadyClock());
    ~Recorder();

    // The database: the block's s_pszActiveDB when the host set one, else
    // "qm9000.db" in the application directory.
    static std::string databasePath(const STATUS_AND_CONTROL& block);
    static Clock steadyClock();
    bool open(const std::string& path, std::string& error, const StorageLimits& limits = StorageLimits{});

    // The host's loop, after each process call: notes a completed interval.
    void afterProcess();

    // On virtual time, after each process call: waits while a filled window
    // waits for the thread, or it has not looked at the ring for a quarter of
    // a lap, so a line faster than real time cannot lap it.
    void pace();
    // Starts and stops the writing thread (stop takes and writes what it can
    // first; what the database still refuses is counted dropped).
    void start();
    void stop();
    // One pass of the thread: takes every filled window off the ring, then
    // writes the oldest pending item unless writes are backing off. True when
    // it took or tried to write something.
    bool step();

    RecorderCounts counts() const;

private:
    struct Pending {
        bool bInterval;
        StoredEvent event;
        ACCUMULATOR_DATA interval;
        Disturbance disturbance;
        bool bAfterGap = false;  // a window before it was lost: it cannot continue an event
    };
    // The stored event whose disturbance was still on at its last record.
    struct Ongoing {
        int64_t llId = 0;  // 0: none
        std::string classification, phases;
        double dExtreme = 0;
        int64_t llFromMicros = 0;  // where the disturbance began
    };
    // Where the recorder last saw the ring: records are counted from pass to
    // pass while the record then newest keeps its time stamp (the module has
    // not come round to it again).
    struct RingView {
        bool bSeen = false;
        unsigned unNextIn = 0;
        int64_t llNewestStamp = 0;
        int64_t llRecords = 0;  // records made since the recorder first looked
    };
    // The window pending in the ring, as the recorder first saw it.
    struct RingWindow {
        unsigned unFirst = 0, unEnd = 0;  // [NextWrite, LastWrite); equal: none
        bool bSure = false;               // the ring had not gone round before it was seen
        int64_t llFirstRecord = 0;        // its first slot, counted like RingView::llRecords
        int64_t llStartMicros = 0, llEndMicros = 0;
    };

    // Moves the ring view on; false when the module may have come round
    // since the last look (the count starts again).
    bool lookAtRing(unsigned unNextIn);
    bool takeWindows();
    // Copies the window's records; false when the module reached its slots.
    bool copyWindow(StoredEvent& event);
    void loseWindow();
    void releaseWindow();
    bool storeWindow(const Pending& pending, std::string& error);
    bool writeOldest();
    void queue(Pending&& pending);
    void dropOldest(const char* pszReason);  // with m_mutex held
    void listLost(const LostWindow& lost);   // with m_mutex held
    int64_t waitMicros();                    // how long the thread may sleep
    bool wakeUp();                           // with s_mutexEventIDs held: the thread has work

    STATUS_AND_CONTROL& m_block;
    const VoltageThresholds m_thresholds;
    const Clock m_clock;
    EventDatabase m_database;
    RingView m_ring;             // the thread's own
    RingWindow m_window;         // the thread's own
    Ongoing m_ongoing;           // the thread's own
    mutable std::mutex m_mutex;  // the queue, the counts and the back-off
    std::deque<Pending> m_pending;
    size_t m_pendingRecords = 0;  // of the pending windows
    RecorderCounts m_counts;
    bool m_bNextAfterGap = false;  // the next window queued follows a lost one
    bool m_bToldDrop = false;      // once until writes succeed again
    bool m_bClosed = true;         // stopped, or never opened
    int64_t m_llBackoffMicros = 0, m_llRetryAtMicros = 0;
    time_t m_ttLastInterval = 0;
    std::atomic<bool> m_bStop{false}, m_bWake{false};
    std::atomic<unsigned> m_unLookedAt{0};  // NextIn at the thread's last look, for pace()
    std::thread m_thread;
};
