#include "Recorder.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "HostBlock.h"

namespace {

constexpr int64_t IDLE_WAIT_MICROS = 1000000;  // the ring is looked at at least this often
// The module says when a window is filled, but only while it monitors.
constexpr int64_t FILLING_WAIT_MICROS = 100000;
constexpr const char* OVERWRITTEN = "overwritten in the ring";
constexpr const char* QUEUE_FULL = "pending queue full";
constexpr const char* REFUSED_AT_STOP = "refused by the database at stop";

int64_t recordMicros(const DATA_ACQ& record) {
    return int64_t{record.m_tvSeconds} * 1000000 + record.m_tvMicroSeconds;
}

// Records from `from` up to the one before `to`, modulo the ring.
unsigned ringDistance(unsigned from, unsigned to) {
    return (to + ACQ_BUFFER_RECORDS - from) % ACQ_BUFFER_RECORDS;
}

unsigned ringIndex(int64_t llIndex) {
    return static_cast<unsigned>(llIndex % ACQ_BUFFER_RECORDS);
}

}  // namespace

Recorder::Recorder(STATUS_AND_CONTROL& block, const VoltageThresholds& thresholds, Clock clock)
    : m_block(block), m_thresholds(thresholds), m_clock(std::move(clock)) {}

Recorder::~Recorder() {
    stop();
}

Recorder::Clock Recorder::steadyClock() {
    return [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
}

std::string Recorder::databasePath(const STATUS_AND_CONTROL& block) {
    if (block.s_pszActiveDB[0] != '\0')
        return std::string(block.s_pszActiveDB, strnlen(block.s_pszActiveDB, sizeof(block.s_pszActiveDB)));
    return defaultEventDatabasePath();
}

bool Recorder::open(const std::string& path, std::string& error, const StorageLimits& limits) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_counts.databasePath = path;
        m_counts.bRecording = false;
    }
    // A database that will refuse the writes is found now, not at the first event.
    if (!m_database.open(path, error, limits) || !m_database.checkWritable(error)) {
        m_database.close();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_counts.lastError = error;
        return false;
    }
    // Those it cannot close now (another program holds the database) are closed at the stop.
    std::string closeError;
    if (!m_database.closeOpenEvents(closeError))
        fprintf(stderr, "qmhost: recorder: cannot close the events left open: %s\n", closeError.c_str());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counts.bRecording = true;
    m_counts.lastError.clear();
    m_bClosed = false;
    return true;
}

void Recorder::afterProcess() {
    const ACCUMULATOR_DATA* pInterval = m_block.s_pLastAccumulator;
    if (!m_database.isOpen() || !pInterval || pInterval->m_ttStartTime == m_ttLastInterval) return;
    m_ttLastInterval = pInterval->m_ttStartTime;
    queue(Pending{true, {}, *pInterval, {}});
    m_bWake = true;
    pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexEventIDs));
    pthread_cond_broadcast(QM_BLOCK_COND(m_block, s_condDataAvailable));
    pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexEventIDs));
}

bool Recorder::lookAtRing(unsigned unNextIn) {
    bool bFollowed = true;
    if (m_ring.bSeen) {
        // The module stamps every record it makes: the newest of the last
        // look keeps its stamp until the module comes round to it again.
        const unsigned unThenNewest = (m_ring.unNextIn + ACQ_BUFFER_RECORDS - 1) % ACQ_BUFFER_RECORDS;
        bFollowed = recordMicros(m_block.s_AcquisitionBuffer[unThenNewest]) == m_ring.llNewestStamp;
        m_ring.llRecords += ringDistance(m_ring.unNextIn, unNextIn) + (bFollowed ? 0 : ACQ_BUFFER_RECORDS);
    }
    m_ring.bSeen = true;
    m_ring.unNextIn = unNextIn;
    m_ring.llNewestStamp =
        recordMicros(m_block.s_AcquisitionBuffer[(unNextIn + ACQ_BUFFER_RECORDS - 1) % ACQ_BUFFER_RECORDS]);
    return bFollowed;
}

// A window is taken once the module has filled its last record and before
// it comes round to its first: the records are copied without a lock (the
// module writes only the record at NextIn), the indexes read and moved under
// the block's mutexes.
bool Recorder::takeWindows() {
    pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexEventIDs));
    const unsigned unFirst = m_block.s_unAcqBufferNextWrite, unEnd = m_block.s_unAcqBufferLastWrite;
    pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexEventIDs));
    pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
    const unsigned unNextIn = m_block.s_unAcqBufferNextIn;
    pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
    m_unLookedAt = unNextIn;
    const bool bFirstLook = !m_ring.bSeen;
    const unsigned unSince = bFirstLook ? 0 : ringDistance(m_ring.unNextIn, unNextIn);
    const bool bFollowed = lookAtRing(unNextIn);
    if (unFirst == unEnd) {  // none pending (a monitor start withdraws one)
        m_window = RingWindow{};
        return false;
    }
    const unsigned unLength = ringDistance(unFirst, unEnd);
    if (unFirst != m_window.unFirst || unEnd != m_window.unEnd) {
        // Opened since the last look, so its first slot is the one before
        // NextIn by less than a lap when the look before was less than a lap
        // minus its length ago.
        m_window = {unFirst, unEnd, bFollowed && unSince + unLength < ACQ_BUFFER_RECORDS,
                    m_ring.llRecords - ringDistance(unFirst, unNextIn)};
        m_window.llStartMicros = recordMicros(m_block.s_AcquisitionBuffer[unFirst]);
    }
    const int64_t llMade = m_ring.llRecords - m_window.llFirstRecord;  // of its slots, made or being made
    if (!m_window.bSure || llMade >= ACQ_BUFFER_RECORDS) {
        loseWindow();
        return true;
    }
    if (llMade > 0)
        m_window.llEndMicros = recordMicros(
            m_block.s_AcquisitionBuffer[ringIndex(unFirst + std::min<int64_t>(llMade, unLength) - 1)]);
    if (llMade < unLength) return false;  // still filling

    StoredEvent event;
    if (!copyWindow(event)) {
        loseWindow();
        return true;
    }
    pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexLastEventInfo));
    const EVENT_INFO info = m_block.s_eiLastEventInfo;
    pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexLastEventInfo));
    event.ulTriggerStatus = info.ulLimitStatus;
    if (event.llTriggerMicros == 0) event.llTriggerMicros = int64_t{info.ttEvent} * 1000000;
    event.llStartMicros = event.records.front().llTimeMicros;
    event.llEndMicros = event.records.back().llTimeMicros;
    const Disturbance disturbance = classifyEvent(event, m_thresholds);
    releaseWindow();
    queue(Pending{false, std::move(event), {}, disturbance});
    return true;
}

bool Recorder::copyWindow(StoredEvent& event) {
    event = StoredEvent{};
    for (unsigned n = m_window.unFirst; n != m_window.unEnd; n = (n + 1) % ACQ_BUFFER_RECORDS) {
        const DATA_ACQ& record = m_block.s_AcquisitionBuffer[n];
        StoredRecord stored{recordMicros(record), record.m_ulLimitStatusBits, {}};
        std::copy(std::begin(record.m_fJournal), std::end(record.m_fJournal), stored.values.begin());
        event.records.push_back(stored);
        if (event.llTriggerMicros == 0 && stored.ulLimitStatus != 0)
            event.llTriggerMicros = stored.llTimeMicros;
    }
    // Whole when the module had not reached its first slot again once copied.
    pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
    const unsigned unNextIn = m_block.s_unAcqBufferNextIn;
    pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
    lookAtRing(unNextIn);
    return m_ring.llRecords - m_window.llFirstRecord < ACQ_BUFFER_RECORDS;
}

void Recorder::loseWindow() {
    LostWindow lost{m_window.llStartMicros, m_window.llEndMicros, OVERWRITTEN};
    if (!m_window.bSure) {  // its slots tell nothing: the trigger's time is all there is
        pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexLastEventInfo));
        lost.llStartMicros = lost.llEndMicros = int64_t{m_block.s_eiLastEventInfo.ttEvent} * 1000000;
        pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexLastEventInfo));
    }
    unsigned unLost;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        unLost = ++m_counts.unLostWindows;
        listLost(lost);
        m_bNextAfterGap = true;
    }
    fprintf(stderr, "qmhost: recorder: a recording window was %s before it could be taken (%u lost)\n",
            OVERWRITTEN, unLost);
    releaseWindow();
}

void Recorder::releaseWindow() {
    pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexEventIDs));
    if (m_block.s_unAcqBufferNextWrite == m_window.unFirst &&
        m_block.s_unAcqBufferLastWrite == m_window.unEnd)
        m_block.s_unAcqBufferNextWrite = static_cast<uint16_t>(m_window.unEnd);
    pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexEventIDs));
    m_window = RingWindow{};
}

void Recorder::listLost(const LostWindow& lost) {
    m_counts.lost.push_back(lost);
    while (m_counts.lost.size() > RecorderCounts::MAX_LOST_LISTED) m_counts.lost.pop_front();
}

void Recorder::queue(Pending&& pending) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!pending.bInterval) {
        pending.bAfterGap = m_bNextAfterGap;
        m_bNextAfterGap = false;
    }
    const size_t records = pending.event.records.size();
    while (!m_pending.empty() &&
           (m_pending.size() >= MAX_PENDING || m_pendingRecords + records > MAX_PENDING_RECORDS)) {
        if (!m_bToldDrop)
            fprintf(stderr, "qmhost: recorder: %zu writes waiting; the oldest are dropped\n", MAX_PENDING);
        m_bToldDrop = true;
        dropOldest(QUEUE_FULL);
    }
    (pending.bInterval ? m_counts.unPendingIntervals : m_counts.unPendingWindows)++;
    m_pendingRecords += records;
    m_pending.push_back(std::move(pending));
}

void Recorder::dropOldest(const char* pszReason) {
    const Pending& oldest = m_pending.front();
    m_pendingRecords -= oldest.event.records.size();
    if (oldest.bInterval) {
        m_counts.unDroppedIntervals++;
        m_counts.unPendingIntervals--;
    } else {
        m_counts.unDroppedWindows++;
        m_counts.unPendingWindows--;
        listLost({oldest.event.llStartMicros, oldest.event.llEndMicros, pszReason});
        const auto next = std::find_if(m_pending.begin() + 1, m_pending.end(),
                                       [](const Pending& p) { return !p.bInterval; });
        (next == m_pending.end() ? m_bNextAfterGap : next->bAfterGap) = true;
    }
    m_pending.pop_front();
}

bool Recorder::writeOldest() {
    Pending pending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending.empty() || m_clock() < m_llRetryAtMicros) return false;
        pending = std::move(m_pending.front());
        m_pending.pop_front();
        m_pendingRecords -= pending.event.records.size();
    }
    std::string error;
    const bool bStored =
        pending.bInterval ? m_database.storeInterval(pending.interval, error) : storeWindow(pending, error);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (bStored) {
        if (pending.bInterval) {
            m_counts.unIntervals++;
            m_counts.unPendingIntervals--;
        } else {
            m_counts.unWindows++;
            m_counts.unPendingWindows--;
            m_counts.ulRecords += pending.event.records.size();
        }
        if (m_llBackoffMicros != 0)
            fprintf(stderr, "qmhost: recorder: writing again; %u windows waited\n",
                    m_counts.unPendingWindows + !pending.bInterval);
        m_llBackoffMicros = m_llRetryAtMicros = 0;
        m_counts.lastError.clear();
        m_counts.bRecording = true;
        m_bToldDrop = false;
        return true;
    }
    m_counts.unRetriedWrites++;
    if (error != m_counts.lastError)
        fprintf(stderr, "qmhost: recorder: cannot store a%s: %s; retrying\n",
                pending.bInterval ? "n interval" : " window", error.c_str());
    m_counts.lastError = error;
    m_llBackoffMicros =
        m_llBackoffMicros == 0 ? FIRST_RETRY_MICROS : std::min(2 * m_llBackoffMicros, LAST_RETRY_MICROS);
    m_llRetryAtMicros = m_clock() + m_llBackoffMicros;
    m_pendingRecords += pending.event.records.size();
    m_pending.push_front(std::move(pending));
    while (m_pending.size() > MAX_PENDING || m_pendingRecords > MAX_PENDING_RECORDS)
        dropOldest(QUEUE_FULL);  // the queue filled meanwhile
    return true;
}

bool Recorder::storeWindow(const Pending& pending, std::string& error) {
    if (pending.bAfterGap) m_ongoing = Ongoing{};  // what follows a lost window is not joined across it
    const Disturbance& disturbance = pending.disturbance;
    const bool bContinues = m_ongoing.llId != 0 && disturbance.bFromFirstRecord &&
                            pending.event.classification == m_ongoing.classification;
    // A copy: a failed write is retried from the window as it was taken.
    StoredEvent event = pending.event;
    event.bOpen = disturbance.bToLastRecord;
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
    const bool bTook = takeWindows();
    return writeOldest() || bTook;
}

int64_t Recorder::waitMicros() {
    int64_t llWait = IDLE_WAIT_MICROS;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pending.empty()) llWait = std::min(llWait, m_llRetryAtMicros - m_clock());
    }
    if (m_window.unFirst != m_window.unEnd) llWait = std::min(llWait, FILLING_WAIT_MICROS);
    return llWait;
}

bool Recorder::wakeUp() {
    if (m_bStop.load() || m_bWake.exchange(false)) return true;
    const unsigned unFirst = m_block.s_unAcqBufferNextWrite, unEnd = m_block.s_unAcqBufferLastWrite;
    const bool bKnown = m_window.unFirst != m_window.unEnd;
    if ((unFirst != unEnd) != bKnown || (bKnown && (unFirst != m_window.unFirst || unEnd != m_window.unEnd)))
        return true;  // opened (or withdrawn) since the pass
    if (!bKnown) return false;
    pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
    const unsigned unNextIn = m_block.s_unAcqBufferNextIn;
    pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
    return ringDistance(unFirst, unNextIn) >= ringDistance(unFirst, unEnd);  // filled since the pass
}

void Recorder::pace() {
    pthread_mutex_t* pMutex = QM_BLOCK_MUTEX(m_block, s_mutexEventIDs);
    while (m_thread.joinable() && !m_bStop.load()) {
        pthread_mutex_lock(pMutex);
        const unsigned unFirst = m_block.s_unAcqBufferNextWrite, unEnd = m_block.s_unAcqBufferLastWrite;
        pthread_mutex_unlock(pMutex);
        pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
        const unsigned unNextIn = m_block.s_unAcqBufferNextIn;
        pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
        const bool bFilled =
            unFirst != unEnd && ringDistance(unFirst, unNextIn) >= ringDistance(unFirst, unEnd);
        // A window is known whole only when the thread looked less than a lap before it opened.
        const bool bUnseen = ringDistance(m_unLookedAt.load(), unNextIn) >= ACQ_BUFFER_RECORDS / 4;
        if (!bFilled && !bUnseen) return;
        m_bWake = true;
        pthread_mutex_lock(pMutex);
        pthread_cond_broadcast(QM_BLOCK_COND(m_block, s_condDataAvailable));
        pthread_mutex_unlock(pMutex);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

void Recorder::start() {
    if (m_thread.joinable()) return;
    m_bStop = false;
    m_thread = std::thread([this] {
        pthread_mutex_t* pMutex = QM_BLOCK_MUTEX(m_block, s_mutexEventIDs);
        while (!m_bStop.load()) {
            if (step()) continue;
            const int64_t llWait = waitMicros();
            if (llWait <= 0) continue;
            timespec deadline{};
            clock_gettime(CLOCK_MONOTONIC, &deadline);
            const int64_t llNanos = deadline.tv_nsec + llWait % 1000000 * 1000;
            deadline.tv_sec += static_cast<time_t>(llWait / 1000000 + llNanos / 1000000000);
            deadline.tv_nsec = static_cast<long>(llNanos % 1000000000);
            pthread_mutex_lock(pMutex);
            if (!wakeUp())
                pthread_cond_clockwait(QM_BLOCK_COND(m_block, s_condDataAvailable), pMutex, CLOCK_MONOTONIC,
                                       &deadline);
            pthread_mutex_unlock(pMutex);
        }
    });
}

void Recorder::stop() {
    if (m_thread.joinable()) {
        m_bStop = true;
        pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexEventIDs));
        pthread_cond_broadcast(QM_BLOCK_COND(m_block, s_condDataAvailable));
        pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexEventIDs));
        m_thread.join();
    }
    if (m_bClosed) return;
    m_bClosed = true;
    takeWindows();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_llRetryAtMicros = 0;
    }
    while (writeOldest()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_llRetryAtMicros == 0) continue;
        if (!m_pending.empty())
            fprintf(stderr, "qmhost: recorder: stopped with %zu writes the database refused; dropped\n",
                    m_pending.size());
        while (!m_pending.empty()) dropOldest(REFUSED_AT_STOP);
    }
    std::string error;
    if (!m_database.closeOpenEvents(error))
        fprintf(stderr, "qmhost: recorder: cannot close the events left open: %s\n", error.c_str());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counts.bRecording = false;
}

RecorderCounts Recorder::counts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}
