#include "Recorder.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr auto PASS_INTERVAL = std::chrono::milliseconds(20);

int64_t recordMicros(const DATA_ACQ& record) {
    return int64_t{record.m_tvSeconds} * 1000000 + record.m_tvMicroSeconds;
}

// Records from `from` up to the one before `to`, modulo the ring.
unsigned ringDistance(unsigned from, unsigned to) {
    return (to + ACQ_BUFFER_RECORDS - from) % ACQ_BUFFER_RECORDS;
}

}  // namespace

Recorder::Recorder(STATUS_AND_CONTROL& block, const VoltageThresholds& thresholds)
    : m_block(block), m_thresholds(thresholds) {}

Recorder::~Recorder() {
    stop();
}

std::string Recorder::databasePath(const STATUS_AND_CONTROL& block) {
    if (block.s_pszActiveDB[0] != '\0')
        return std::string(block.s_pszActiveDB, strnlen(block.s_pszActiveDB, sizeof(block.s_pszActiveDB)));
    return defaultEventDatabasePath();
}

bool Recorder::open(const std::string& path, std::string& error, const StorageLimits& limits) {
    return m_database.open(path, error, limits);
}

void Recorder::afterProcess() {
    const ACCUMULATOR_DATA* pInterval = m_block.s_pLastAccumulator;
    if (!pInterval || pInterval->m_ttStartTime == m_ttLastInterval) return;
    m_ttLastInterval = pInterval->m_ttStartTime;
    Pending pending{true, {}, *pInterval, {}};
    queue(std::move(pending));
}

// A window is taken once the module has filled its last record. Its records
// stay in the ring for thousands of records more, so they are copied without
// a lock; only the indexes are read and moved under the block's mutex.
bool Recorder::takeWindow(StoredEvent& event, Disturbance& disturbance) {
    pthread_mutex_lock(&m_block.s_mutexEventIDs);
    const unsigned unNext = m_block.s_unAcqBufferNextWrite, unLast = m_block.s_unAcqBufferLastWrite;
    pthread_mutex_unlock(&m_block.s_mutexEventIDs);
    if (unNext == unLast) return false;
    pthread_mutex_lock(&m_block.s_mutexAcqBuffer);
    const unsigned unNextIn = m_block.s_unAcqBufferNextIn;
    pthread_mutex_unlock(&m_block.s_mutexAcqBuffer);
    if (ringDistance(unNext, unNextIn) < ringDistance(unNext, unLast)) return false;  // still filling

    event = StoredEvent{};
    for (unsigned n = unNext; n != unLast; n = (n + 1) % ACQ_BUFFER_RECORDS) {
        const DATA_ACQ& record = m_block.s_AcquisitionBuffer[n];
        StoredRecord stored{recordMicros(record), record.m_ulLimitStatusBits, {}};
        std::copy(std::begin(record.m_fJournal), std::end(record.m_fJournal), stored.values.begin());
        event.records.push_back(stored);
        if (event.llTriggerMicros == 0 && stored.ulLimitStatus != 0)
            event.llTriggerMicros = stored.llTimeMicros;
    }
    pthread_mutex_lock(&m_block.s_mutexLastEventInfo);
    const EVENT_INFO info = m_block.s_eiLastEventInfo;
    pthread_mutex_unlock(&m_block.s_mutexLastEventInfo);
    event.ulTriggerStatus = info.ulLimitStatus;
    if (event.llTriggerMicros == 0) event.llTriggerMicros = int64_t{info.ttEvent} * 1000000;
    event.llStartMicros = event.records.front().llTimeMicros;
    event.llEndMicros = event.records.back().llTimeMicros;
    disturbance = classifyEvent(event, m_thresholds);

    pthread_mutex_lock(&m_block.s_mutexEventIDs);
    if (m_block.s_unAcqBufferNextWrite == unNext)
        m_block.s_unAcqBufferNextWrite = static_cast<uint16_t>(unLast);
    pthread_mutex_unlock(&m_block.s_mutexEventIDs);
    return true;
}

void Recorder::queue(Pending&& pending) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pending.size() >= MAX_PENDING) {
        m_pending.pop_front();
        m_counts.unDroppedWindows++;
        fprintf(stderr, "qmhost: recorder: %zu writes waiting; the oldest is dropped (%u dropped)\n",
                MAX_PENDING, m_counts.dropped());
    }
    m_pending.push_back(std::move(pending));
}

bool Recorder::writeOldest() {
    Pending pending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending.empty()) return false;
        pending = std::move(m_pending.front());
        m_pending.pop_front();
    }
    std::string error;
    const bool bStored =
        pending.bInterval ? m_database.storeInterval(pending.interval, error) : storeWindow(pending, error);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (bStored) {
        if (pending.bInterval) {
            m_counts.unIntervals++;
        } else {
            m_counts.unWindows++;
            m_counts.ulRecords += pending.event.records.size();
        }
        m_lastFailure.clear();
        return true;
    }
    m_counts.unRetriedWrites++;
    if (error != m_lastFailure)
        fprintf(stderr, "qmhost: recorder: cannot store a %s: %s; retrying\n",
                pending.bInterval ? "interval" : "window", error.c_str());
    m_lastFailure = error;
    if (++pending.nAttempts >= WRITE_ATTEMPTS) {
        m_counts.unDroppedWindows++;
        if (!pending.bInterval) m_ongoing = Ongoing{};  // what follows cannot be joined to it
        fprintf(stderr, "qmhost: recorder: a %s dropped after %d attempts (%u dropped)\n",
                pending.bInterval ? "interval" : "window", WRITE_ATTEMPTS, m_counts.dropped());
    } else {
        m_pending.push_front(std::move(pending));
    }
    return true;
}

bool Recorder::storeWindow(const Pending& pending, std::string& error) {
    const Disturbance& disturbance = pending.disturbance;
    const bool bContinues = m_ongoing.llId != 0 && disturbance.bFromFirstRecord &&
                            pending.event.classification == m_ongoing.classification;
    // A copy: a failed write is retried from the window as it was taken.
    StoredEvent event = pending.event;
    const int64_t llFromMicros = bContinues ? m_ongoing.llFromMicros : disturbance.llFromMicros;
    if (bContinues) {
        // One event from the disturbance's start to its end: the phases of
        // both windows, the worse extreme, the whole duration.
        for (const char phase : m_ongoing.phases)
            if (event.phases.find(phase) == std::string::npos) event.phases += phase;
        std::sort(event.phases.begin(), event.phases.end());
        event.dExtreme = event.classification == "swell" ? std::max(event.dExtreme, m_ongoing.dExtreme)
                                                         : std::min(event.dExtreme, m_ongoing.dExtreme);
        event.llDurationMicros += disturbance.llFromMicros - llFromMicros;
        if (!m_database.extendEvent(m_ongoing.llId, event, error)) return false;
        event.llId = m_ongoing.llId;
    } else if (!m_database.storeEvent(event, error)) {
        return false;
    }
    m_ongoing = Ongoing{};
    if (disturbance.bToLastRecord)
        m_ongoing = {event.llId, event.classification, event.phases, event.dExtreme, llFromMicros};
    return true;
}

bool Recorder::step() {
    StoredEvent event;
    Disturbance disturbance;
    const bool bTook = takeWindow(event, disturbance);
    if (bTook) queue(Pending{false, std::move(event), {}, disturbance});
    return writeOldest() || bTook;
}

void Recorder::start() {
    if (m_thread.joinable()) return;
    m_bStop = false;
    m_thread = std::thread([this] {
        while (!m_bStop.load()) {
            if (!step()) std::this_thread::sleep_for(PASS_INTERVAL);
        }
    });
}

void Recorder::stop() {
    if (!m_thread.joinable()) return;
    m_bStop = true;
    m_thread.join();
    while (writeOldest()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_lastFailure.empty()) break;  // the disk refuses: what is left is lost
    }
}

RecorderCounts Recorder::counts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}
