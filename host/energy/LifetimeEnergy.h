// The meter's lifetime energy: import and export, active and reactive, per
// phase and in total, accumulated from the completed intervals and the one
// running, kept in the event database and restored at start, so that a value
// once published is never followed by a lower one.
//
// Only what is saved is published: the totals restored at start plus what
// the intervals gained up to the latest save, every SAVE_PERIOD_MICROS and at
// a clean stop, each save on disk before it is shown. A crash or a power cut
// loses at most the energy since the last save (never counted, never shown),
// and nothing is counted twice: the module starts its intervals from zero at
// each start.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class EventDatabase;
class IntervalEnergy;
class MeasSOM;
struct STATUS_AND_CONTROL;
struct StorageLimits;

// The counters, in watt-hours (active) and var-hours (reactive).
enum LifetimeCounter {
    life_WH_IMPORT_A,
    life_WH_IMPORT_B,
    life_WH_IMPORT_C,
    life_WH_IMPORT_TOT,
    life_WH_EXPORT_A,
    life_WH_EXPORT_B,
    life_WH_EXPORT_C,
    life_WH_EXPORT_TOT,
    life_VARH_IMPORT_A,
    life_VARH_IMPORT_B,
    life_VARH_IMPORT_C,
    life_VARH_IMPORT_TOT,
    life_VARH_EXPORT_A,
    life_VARH_EXPORT_B,
    life_VARH_EXPORT_C,
    life_VARH_EXPORT_TOT,
    life_MAX
};

struct LifetimeTotals {
    int64_t llTimeMicros = 0;  // when they were last brought up to date (UTC)
    std::array<double, life_MAX> values{};
};

class LifetimeEnergy {
public:
    static constexpr int64_t SAVE_PERIOD_MICROS = 10000000;
    static constexpr int64_t LOOK_PERIOD_MICROS = 1000000;  // the running interval looked at

    LifetimeEnergy();
    ~LifetimeEnergy();
    LifetimeEnergy(const LifetimeEnergy&) = delete;
    LifetimeEnergy& operator=(const LifetimeEnergy&) = delete;

    // Restores the totals from the event database (the recorder made it):
    // they are published from now on. False with `error`, for a database that
    // cannot be written or holds a counter that is no number of watt-hours:
    // nothing is published or saved then.
    bool open(const std::string& path, const StorageLimits& limits, std::string& error);
    // The host's loop, after each process call, on its thread: counts what
    // the module's intervals gained, all of what they hold at the first call
    // (the module's first process since monitorStart). `llSteadyMicros`
    // (the loop's clock: virtual time on --fast) paces the looks and the saves.
    void afterProcess(MeasSOM& module, const STATUS_AND_CONTROL& block, int64_t llSteadyMicros);
    // Saves the totals as counted now; once on disk they are published.
    // False with `error` (what is published stays as it was).
    bool save(std::string& error);
    // Saves every SAVE_PERIOD_MICROS of the loop's clock on a thread of its
    // own, so a save never holds up the loop; stop() ends it and saves a last
    // time, saying on standard error when it cannot.
    void start();
    void stop();
    // The totals last saved; false when there are none (not opened).
    // Safe from any thread.
    bool published(LifetimeTotals& totals) const;

private:
    const std::unique_ptr<EventDatabase> m_pDatabase;  // the saving thread's, or the caller's of save()
    mutable std::mutex m_mutex;
    const std::unique_ptr<IntervalEnergy> m_pCounted;  // with m_mutex
    int64_t m_llCountedAtMicros = 0;                   // with m_mutex: the latest look (UTC)
    LifetimeTotals m_restored;                         // as opened
    LifetimeTotals m_published;                        // with m_mutex
    bool m_bOpen = false;
    int64_t m_llNextLookMicros = 0;  // the loop's own
    int64_t m_llNextSaveMicros = 0;  // the loop's own
    std::string m_lastError;         // the saving thread's: said once until a save succeeds
    std::condition_variable m_wake;  // with m_mutex
    bool m_bStopping = false;        // with m_mutex
    bool m_bSaveDue = false;         // with m_mutex
    std::thread m_thread;
};
