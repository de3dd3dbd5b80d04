#include "PqFeeder.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "JournalRecordInput.h"

namespace {

constexpr auto IDLE_WAIT = std::chrono::milliseconds(100);  // ~10 records at 50 Hz, 400 short of a lap
// On virtual time: the loop wakes the thread at an eighth of the ring
// unread, and waits at half until a quarter is left.
constexpr unsigned NUDGE_UNREAD = ACQ_BUFFER_RECORDS / 8, WAIT_UNREAD = ACQ_BUFFER_RECORDS / 2,
                   RESUME_UNREAD = ACQ_BUFFER_RECORDS / 4;

int64_t steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

PqFeeder::PqFeeder(STATUS_AND_CONTROL& block, const pq::Config& config, PqRowWriter::Clock clock)
    : m_block(block),
      m_analyzer(config, *this),
      m_reader(block),
      m_writer(
          [this](const std::vector<PqRow>& rows, std::string& error) {
              return storePqRows(m_database, rows, m_analyzer.config(), error);
          },
          clock ? std::move(clock) : steadyMicros),
      m_liveBlock(m_analyzer.config().measuresAllPhases()) {
    for (const std::string& error : m_analyzer.configErrors())
        fprintf(stderr, "qmhost: power quality: %s\n", error.c_str());
}

PqFeeder::~PqFeeder() {
    stop();
}

bool PqFeeder::open(const std::string& path, const StorageLimits& limits, std::string& error) {
    const bool bOpen = m_database.open(path, error, limits) && m_database.checkWritable(error);
    if (!bOpen) {
        m_database.close();
        m_work.lastError = error;
        publish();
    }
    return bOpen;
}

void PqFeeder::start() {
    if (m_thread.joinable()) return;
    m_bStop = false;
    step();  // the ring's place now: the records from here on are analysed
    m_thread = std::thread([this] {
        while (!m_bStop.load()) {
            if (step()) continue;
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait_for(lock, IDLE_WAIT, [this] { return m_bNudged.load() || m_bStop.load(); });
            m_bNudged = false;
        }
    });
}

void PqFeeder::stop() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
    m_read.notify_all();
    m_thread.join();
    step();
    m_analyzer.finish();
    if (m_database.isOpen()) m_writer.flush(m_work);
    publish();
}

bool PqFeeder::step() {
    m_batch.clear();
    if (m_reader.read(m_batch)) {
        m_work.ullBreaks += !m_bAfterLap;  // the analysis sees the gap as one break; counted here
        m_bAfterLap = true;
    }
    const double dHalfCycleMicros = 1e6 / (2.0 * m_analyzer.config().nNominalHz);
    for (const DATA_ACQ& record : m_batch) {
        const pq::HalfCycleRecord input = pq::halfCycleFromJournal(record);
        if (m_bAfterLap && m_llLastMicros != 0 && input.llTimeMicros > m_llLastMicros)
            m_work.ullRecordsLost += static_cast<uint64_t>(
                std::max(0.0, std::round((input.llTimeMicros - m_llLastMicros) / dHalfCycleMicros) - 1));
        m_llLastMicros = input.llTimeMicros;
        m_analyzer.add(input);
        m_liveBlock.add(input, false);
        if (m_liveBlock.records() == static_cast<uint32_t>(m_analyzer.config().halfCyclesPerBlock())) {
            const pq::Interval block = m_liveBlock.close();
            if (!m_bChainRuns) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_live.cycles10 = block;
                m_live.bHaveCycles10 = true;
            }
        }
        m_bAfterLap = false;
    }
    m_work.ullRecordsAnalysed += m_batch.size();
    m_work.ullRecordsDropped = m_analyzer.droppedRecords();
    const bool bWrote = m_database.isOpen() && m_writer.writePending(m_work);
    publish();
    return !m_batch.empty() || bWrote;
}

void PqFeeder::publish() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counts = m_work;
    m_live.bRvcSteady = m_analyzer.rvcSteady();
    m_read.notify_all();  // under the lock: a loop about to wait cannot miss it
}

unsigned PqFeeder::unread() const {
    return ringRecordsBetween(m_reader.nextToRead(), m_block.s_unAcqBufferNextIn % ACQ_BUFFER_RECORDS);
}

void PqFeeder::pace() {
    if (!m_thread.joinable()) return;
    const unsigned unUnread = unread();
    if (unUnread < NUDGE_UNREAD) return;
    if (!m_bNudged.exchange(true)) {  // once until the thread has looked
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wake.notify_one();
    }
    if (unUnread < WAIT_UNREAD) return;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (unread() >= RESUME_UNREAD && !m_bStop.load()) {
        m_bNudged = true;
        m_wake.notify_one();
        m_read.wait_for(lock, IDLE_WAIT);
    }
}

void PqFeeder::aggregate(const pq::Interval& value) {
    if (value.kind == pq::IntervalKind::cycles10 || value.kind == pq::IntervalKind::cycles150) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool bShort = value.kind == pq::IntervalKind::cycles10;
        m_bChainRuns = m_bChainRuns || bShort;
        (bShort ? m_live.cycles10 : m_live.cycles150) = value;
        (bShort ? m_live.bHaveCycles10 : m_live.bHaveCycles150) = true;
        return;
    }
    PqRow row;
    row.interval = value;
    m_writer.queue(row, m_work);
}

void PqFeeder::frequency(const pq::FrequencyValue& value) {
    PqRow row;
    row.kind = PqRow::Kind::frequency;
    row.frequency = value;
    m_writer.queue(row, m_work);
}

void PqFeeder::voltageEvent(const pq::VoltageEvent& event) {
    PqRow row;
    row.kind = PqRow::Kind::event;
    row.event = event;
    m_writer.queue(row, m_work);
}

void PqFeeder::rapidVoltageChange(const pq::RapidVoltageChange& change) {
    PqRow row;
    row.kind = PqRow::Kind::rvc;
    row.rvc = change;
    m_writer.queue(row, m_work);
}

void PqFeeder::discontinuity(int64_t, int64_t) {
    m_bChainRuns = false;
    m_liveBlock.clear();
    if (!m_bAfterLap) m_work.ullBreaks++;  // a lap was counted when it was found
}

PqCounts PqFeeder::counts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}

PqLive PqFeeder::live() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live;
}
