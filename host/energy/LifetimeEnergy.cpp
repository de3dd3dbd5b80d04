#include "LifetimeEnergy.h"

#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>

#include "EventDatabase.h"
#include "IntervalEnergy.h"
#include "MeasSOM.h"
#include "RPi.h"
#include "Requests.h"

namespace {

// Each counter's row in the database, in LifetimeCounter order. A name
// renamed would start its counter again from zero: they never change.
constexpr const char* STORED_NAMES[life_MAX] = {
    "wh_import_a",   "wh_import_b",   "wh_import_c",   "wh_import_total",
    "wh_export_a",   "wh_export_b",   "wh_export_c",   "wh_export_total",
    "varh_import_a", "varh_import_b", "varh_import_c", "varh_import_total",
    "varh_export_a", "varh_export_b", "varh_export_c", "varh_export_total",
};

int64_t wallClockMicros() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return int64_t{now.tv_sec} * 1000000 + now.tv_usec;
}

}  // namespace

LifetimeEnergy::LifetimeEnergy()
    : m_pDatabase(std::make_unique<EventDatabase>()), m_pCounted(std::make_unique<IntervalEnergy>()) {}

LifetimeEnergy::~LifetimeEnergy() {
    stop();
}

bool LifetimeEnergy::open(const std::string& path, const StorageLimits& limits, std::string& error) {
    std::map<std::string, double> stored;
    LifetimeTotals restored;
    if (!m_pDatabase->open(path, error, limits) || !m_pDatabase->checkWritable(error) ||
        !m_pDatabase->loadLifetimeEnergy(stored, restored.llTimeMicros, error)) {
        m_pDatabase->close();
        return false;
    }
    for (int c = 0; c < life_MAX; c++) {
        const auto found = stored.find(STORED_NAMES[c]);
        if (found == stored.end()) continue;  // a counter new to this database starts from zero
        if (!std::isfinite(found->second) || found->second < 0) {
            error =
                path + ": lifetime energy counter " + STORED_NAMES[c] +
                " is stored as no count of watt-hours: correct or delete its row in table lifetime_energy";
            m_pDatabase->close();
            return false;
        }
        restored.values[c] = found->second;
    }
    if (restored.llTimeMicros == 0) restored.llTimeMicros = wallClockMicros();  // none saved: zero as of now
    std::lock_guard<std::mutex> lock(m_mutex);
    m_restored = m_published = restored;
    m_bOpen = true;
    return true;
}

void LifetimeEnergy::afterProcess(MeasSOM& module, const STATUS_AND_CONTROL& block, int64_t llSteadyMicros) {
    const ACCUMULATOR_DATA* pCompleted = block.s_pLastAccumulator;
    const bool bCompleted = pCompleted && m_pCounted->isNew(*pCompleted);
    if (m_llNextSaveMicros == 0) m_llNextSaveMicros = llSteadyMicros + SAVE_PERIOD_MICROS;
    if (llSteadyMicros >= m_llNextSaveMicros) {
        m_llNextSaveMicros = llSteadyMicros + SAVE_PERIOD_MICROS;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bSaveDue = true;
        }
        m_wake.notify_all();
    }
    if (!bCompleted && llSteadyMicros < m_llNextLookMicros) return;
    m_llNextLookMicros = llSteadyMicros + LOOK_PERIOD_MICROS;
    // Within the loop the module is between process calls: the running
    // interval read now is the one after the completed one.
    float fEnergy[ENERGY_FLOATS];
    const bool bRunning = module.realtimeGet(REQ_ENERGY, fEnergy, sizeof fEnergy) == REQ_OK;
    const int64_t llNow = wallClockMicros();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (bCompleted) m_pCounted->completed(*pCompleted);
    if (bRunning) m_pCounted->running(fEnergy);
    m_llCountedAtMicros = llNow;
}

bool LifetimeEnergy::save(std::string& error) {
    LifetimeTotals totals;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bOpen) return error = "no lifetime energy: its database is not open", false;
        totals.llTimeMicros = std::max(m_restored.llTimeMicros, m_llCountedAtMicros);
        for (int c = 0; c < life_MAX; c++) totals.values[c] = m_restored.values[c] + m_pCounted->gained()[c];
    }
    std::map<std::string, double> counters;
    for (int c = 0; c < life_MAX; c++) counters[STORED_NAMES[c]] = totals.values[c];
    if (!m_pDatabase->storeLifetimeEnergy(counters, totals.llTimeMicros, error)) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_published = totals;
    return true;
}

void LifetimeEnergy::start() {
    if (m_thread.joinable() || !m_bOpen) return;
    m_bStopping = false;
    m_thread = std::thread([this] {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (true) {
            m_wake.wait(lock, [this] { return m_bSaveDue || m_bStopping; });
            if (m_bStopping) break;
            m_bSaveDue = false;
            lock.unlock();
            std::string error;
            const bool bSaved = save(error);
            if (!bSaved && error != m_lastError)
                fprintf(stderr, "qmhost: lifetime energy: cannot save it: %s; retrying\n", error.c_str());
            else if (bSaved && !m_lastError.empty())
                fprintf(stderr, "qmhost: lifetime energy: saved again\n");
            m_lastError = bSaved ? "" : error;
            lock.lock();
        }
    });
}

void LifetimeEnergy::stop() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    std::string error;
    if (!save(error))
        fprintf(stderr,
                "qmhost: lifetime energy: cannot save it at the stop: %s; what the last save held is kept\n",
                error.c_str());
}

bool LifetimeEnergy::published(LifetimeTotals& totals) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    totals = m_published;
    return m_bOpen;
}
