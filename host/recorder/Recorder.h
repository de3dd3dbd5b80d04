// The host's writer: stores every recording window the module opens, whole,
// with its classification, and every completed energy and demand interval,
// in the event database. It never holds up measurement: the host's loop only
// notes a completed interval after each process call; a thread of its own
// takes each window off the ring once the module has filled it, advances the
// ring's write index under s_mutexEventIDs, and writes. A disturbance that
// outlasts its window (a swell of seconds) is one event: the window that sees
// it end is appended to the one that saw it start. A write that fails
// (full disk, locked database) is retried a few times, then dropped and
// counted.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "EventClassifier.h"
#include "EventDatabase.h"
#include "RPi.h"
#include "RecorderCounts.h"

class Recorder {
public:
    static constexpr int WRITE_ATTEMPTS = 5;
    static constexpr size_t MAX_PENDING = 64;  // beyond, the oldest is dropped

    Recorder(STATUS_AND_CONTROL& block, const VoltageThresholds& thresholds);
    ~Recorder();

    // The database: the block's s_pszActiveDB when the host set one, else
    // "qm9000.db" in the application directory.
    static std::string databasePath(const STATUS_AND_CONTROL& block);
    bool open(const std::string& path, std::string& error, const StorageLimits& limits = StorageLimits{});

    // The host's loop, after each process call: notes a completed interval.
    void afterProcess();

    // Starts and stops the writing thread (stop writes what it can first).
    void start();
    void stop();
    // One pass of the thread: takes a filled window off the ring and writes
    // what is pending. True when it did something.
    bool step();

    RecorderCounts counts() const;

private:
    struct Pending {
        bool bInterval;
        StoredEvent event;
        ACCUMULATOR_DATA interval;
        Disturbance disturbance;
        int nAttempts = 0;
    };
    // The stored event whose disturbance was still on at its last record.
    struct Ongoing {
        int64_t llId = 0;  // 0: none
        std::string classification, phases;
        double dExtreme = 0;
        int64_t llFromMicros = 0;  // where the disturbance began
    };
    bool takeWindow(StoredEvent& event, Disturbance& disturbance);
    bool storeWindow(const Pending& pending, std::string& error);
    bool writeOldest();
    void queue(Pending&& pending);

    STATUS_AND_CONTROL& m_block;
    const VoltageThresholds m_thresholds;
    EventDatabase m_database;
    mutable std::mutex m_mutex;  // the queue and the counts
    std::deque<Pending> m_pending;
    RecorderCounts m_counts;
    std::string m_lastFailure;  // told once until a write succeeds
    time_t m_ttLastInterval = 0;
    Ongoing m_ongoing;  // the writer's own
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};
