// Power quality in the running meter: a thread of its own follows the
// module's ring, feeds every half-cycle record to one pq::Analyzer in ring
// order, keeps the latest 10/12- and 150/180-cycle values in memory and
// sends the rest (10-minute and 2-hour values, 10-second frequency values,
// voltage events, rapid voltage changes) to the event database through a
// bounded, retrying queue. It never holds up the module: on a lap of the ring
// (the thread starved) the records lost reach the analysis as a break,
// counted. Only on virtual time (--fast) does the host's loop wait for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CycleBlock.h"
#include "EventDatabase.h"
#include "PowerQualityAnalyzer.h"
#include "PqCounts.h"
#include "PqRowWriter.h"
#include "RPi.h"
#include "RingReader.h"

// What /api/pq shows: the latest short values and the voltage's state.
struct PqLive {
    bool bHaveCycles10 = false, bHaveCycles150 = false;
    pq::Interval cycles10, cycles150;
    bool bRvcSteady = false;
};

class PqFeeder : private pq::Sink {
public:
    // `clock` (microseconds, monotonic; the steady clock when empty) times the
    // retries of a failed write: the simulated line's on virtual time.
    PqFeeder(STATUS_AND_CONTROL& block, const pq::Config& config, PqRowWriter::Clock clock = {});
    ~PqFeeder() override;
    // The settings the analysis replaced, one message each.
    const std::vector<std::string>& configErrors() const { return m_analyzer.configErrors(); }
    const pq::Config& config() const { return m_analyzer.config(); }

    // The database the rows go to (the recorder's); false with `error`, and
    // the analysis then runs for /api/pq only.
    bool open(const std::string& path, const StorageLimits& limits, std::string& error);
    void start();
    // Reads what the module left, stores what is in progress as incomplete
    // and writes what it can.
    void stop();
    // One pass: the new records analysed, pending rows written. True when it
    // found records or wrote.
    bool step();
    // The host's loop on virtual time, after each process call: wakes the
    // thread once records wait, and waits while half the ring is unread.
    void pace();

    PqCounts counts() const;
    PqLive live() const;

private:
    void aggregate(const pq::Interval& value) override;
    void frequency(const pq::FrequencyValue& value) override;
    void voltageEvent(const pq::VoltageEvent& event) override;
    void rapidVoltageChange(const pq::RapidVoltageChange& change) override;
    void discontinuity(int64_t llLastMicros, int64_t llNextMicros) override;
    void publish();  // m_work to what counts() answers
    unsigned unread() const;

    STATUS_AND_CONTROL& m_block;
    pq::Analyzer m_analyzer;  // the thread's own, as the rest below but the mutex's
    RingReader m_reader;
    EventDatabase m_database;
    PqRowWriter m_writer;
    std::vector<DATA_ACQ> m_batch;
    PqCounts m_work;
    bool m_bAfterLap = false;
    // The analysis's 10/12-cycle values begin at a 10-minute tick; until they
    // do (after a start or a break) /api/pq shows blocks of its own.
    pq::CycleBlock m_liveBlock;
    bool m_bChainRuns = false;
    int64_t m_llLastMicros = 0;  // the record analysed last

    mutable std::mutex m_mutex;  // what the others read, and the thread's wake-up
    std::condition_variable m_wake, m_read;
    PqCounts m_counts;
    PqLive m_live;
    std::atomic<bool> m_bNudged{false};  // records wait: the thread is to look
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};
