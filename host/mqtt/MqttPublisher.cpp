#include "MqttPublisher.h"

#include <algorithm>
#include <chrono>

#include "NewRecordings.h"
#include "WebJson.h"

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr int RECORDINGS_A_POLL = 100;
constexpr Millis OFFLINE_WAIT{3000};

int64_t wallMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The parts of the health whose change is worth a status message at once
// (not the uptime or the rates, which change every second).
std::string healthKey(const MeterStatus& status, const MqttCounts& counts) {
    const MeasurementStatus& m = status.measurement;
    const RecorderCounts& r = status.recorder;
    return std::to_string(m.bMeasuring) + m.fault + "|" + std::to_string(m.bChipAnswering) +
           std::to_string(r.bRecording) + "|" + r.lastError + "|" + std::to_string(r.dropped()) + "|" +
           status.databaseError + "|" + std::to_string(counts.ullDropped) + "|" + counts.lastError;
}

}  // namespace

MqttPublisher::MqttPublisher(MqttOptions options, MqttSources sources)
    : m_options(std::move(options)),
      m_sources(std::move(sources)),
      m_topics{m_options.device.meterId},
      m_payloads(m_options.format, m_options.device.meterId) {}

MqttPublisher::~MqttPublisher() {
    stop();
}

bool MqttPublisher::start(std::string& error) {
    std::string outboxError;
    if (!m_outbox.open(m_options.databasePath, m_options.maxQueued, outboxError))
        m_outboxError = "nothing is queued for the broker: " + outboxError;
    note(m_outboxError);
    m_pConnection = std::make_unique<MqttConnection>([this] {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_bWoken = true;
        m_wake.notify_one();
    });
    MqttConnectionSettings settings = m_options.connection;
    if (settings.clientId.empty()) settings.clientId = "qm9000-" + m_options.device.meterId;
    settings.willTopic = m_topics.availability();
    if (!m_pConnection->start(settings, error)) {
        m_pConnection.reset();
        return false;
    }
    m_thread = std::thread([this] { run(); });
    return true;
}

void MqttPublisher::stop() {
    if (!m_pConnection) return;
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_bStop = true;
        m_wake.notify_one();
    }
    if (m_thread.joinable()) m_thread.join();
    m_pConnection->stop(m_topics.availability(), "offline", OFFLINE_WAIT);
    m_pConnection.reset();
    std::lock_guard<std::mutex> lock(m_countsMutex);
    m_counts.bConnected = false;
}

MqttCounts MqttPublisher::counts() const {
    std::lock_guard<std::mutex> lock(m_countsMutex);
    return m_counts;
}

void MqttPublisher::note(const std::string& error) {
    std::lock_guard<std::mutex> lock(m_countsMutex);
    m_counts.lastError = error;
}

void MqttPublisher::run() {
    const Clock::time_point start = Clock::now();
    Clock::time_point nextState = start, nextPoll = start, nextEnergy = start,
                      nextStatus = start + Millis(m_options.nStatusMillis);
    const auto advance = [](Clock::time_point& next, int nMillis, Clock::time_point now) {
        next += Millis(nMillis);
        if (next <= now) next = now + Millis(nMillis);  // after a stall, no burst to catch up
    };
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_wakeMutex);
            m_wake.wait_until(lock, std::min({nextState, nextPoll, nextEnergy, nextStatus}),
                              [this] { return m_bWoken || m_bStop; });
            if (m_bStop) break;
            m_bWoken = false;
        }
        m_pConnection->keepTrying();
        handle(m_pConnection->take());
        const Clock::time_point now = Clock::now();
        if (now >= nextState) {
            publishState(wallMicros());
            advance(nextState, m_options.nStateMillis, now);
        }
        if (now >= nextPoll) {
            queueRecordings();
            publishStatus(false);
            advance(nextPoll, m_options.nPollMillis, now);
        }
        if (now >= nextEnergy) {
            // Until the totals are known, asked again at the next poll.
            const bool bQueued = queueEnergy();
            advance(nextEnergy, bQueued ? m_options.nEnergyMillis : m_options.nPollMillis, now);
        }
        if (now >= nextStatus) {
            publishStatus(true);
            advance(nextStatus, m_options.nStatusMillis, now);
        }
        sendQueued();
        std::lock_guard<std::mutex> lock(m_countsMutex);
        m_counts.bConnected = m_bConnected;
        m_counts.ullQueued = m_outbox.size();
    }
}

void MqttPublisher::handle(const ConnectionNews& news) {
    if (!news.error.empty()) note(news.error);
    for (const int nMid : news.acknowledged) {
        const auto found = m_inFlight.find(nMid);
        if (found == m_inFlight.end()) continue;  // a state or a status message
        std::string error;
        if (!m_outbox.remove(found->second, error)) note("the outbox: " + error);
        m_inFlight.erase(found);
        std::lock_guard<std::mutex> lock(m_countsMutex);
        m_counts.ullDelivered++;
    }
    m_bConnected = news.bConnected;
    if (news.unConnects > 0 && m_bConnected) {
        note(m_outboxError);
        announce();
    }
}

// After each connection: a broker restarted without its store has lost the
// retained messages.
void MqttPublisher::announce() {
    publishDirect({m_topics.availability(), "online", true});
    for (const MqttMessage& message : discoveryMessages(m_options.device, !m_options.bDiscovery))
        publishDirect(message);
    publishStatus(true);
}

void MqttPublisher::publishDirect(const MqttMessage& message) {
    int nMid = 0;
    std::string error;
    if (m_bConnected && !m_pConnection->publish(message.topic, message.payload, message.bRetain, nMid, error))
        note(error);
}

void MqttPublisher::publishState(int64_t llNow) {
    StateReading reading;
    reading.llTimeMicros = llNow;
    // Not measuring, the record holds nothing worth showing.
    if (!m_bConnected || !m_sources.readJournal ||
        (m_sources.status && !m_sources.status().measurement.bMeasuring) ||
        !m_sources.readJournal(reading.journal))
        return;
    publishDirect({m_topics.state(), m_payloads.state(reading), false});
}

void MqttPublisher::publishStatus(bool bForce) {
    if (!m_bConnected || !m_sources.status) return;
    MeterStatus status = m_sources.status();
    if (!status.mqtt) status.mqtt = counts();
    const std::string key = healthKey(status, *status.mqtt);
    if (!bForce && key == m_lastStatusKey) return;
    m_lastStatusKey = key;
    publishDirect({m_topics.status(), jsonOfStatus(status), false});
}

void MqttPublisher::queueRecordings() {
    if (!m_outbox.isOpen()) return;
    std::vector<StoredEvent> events;
    std::vector<StoredInterval> intervals;
    std::string error;
    RecordingCursor cursor = m_outbox.cursor();
    if (!closedEventsAfter(m_outbox.connection(), cursor.llEventId, RECORDINGS_A_POLL, events, error) ||
        !intervalsAfter(m_outbox.connection(), cursor.llIntervalId, RECORDINGS_A_POLL, intervals, error))
        return note("reading the database: " + error);
    if (events.empty() && intervals.empty()) return;
    std::vector<OutboxMessage> messages;
    for (const StoredEvent& event : events) {
        messages.push_back({0, event.llStartMicros, {m_topics.event(), m_payloads.event(event), false}});
        cursor.llEventId = event.llId;
    }
    for (const StoredInterval& interval : intervals) {
        messages.push_back(
            {0,
             interval.llEndMicros,
             {m_topics.interval(), m_payloads.interval(interval.llEndMicros, interval.data), false}});
        cursor.llIntervalId = interval.llId;
    }
    size_t dropped = 0;
    if (!m_outbox.queue(messages, cursor, dropped, error)) return note("the outbox: " + error);
    std::lock_guard<std::mutex> lock(m_countsMutex);
    m_counts.ullDropped += dropped;
}

bool MqttPublisher::queueEnergy() {
    const LifetimeTotals totals = m_sources.lifetime ? m_sources.lifetime() : LifetimeTotals{};
    if (totals.llTimeMicros == 0) return false;
    const MqttMessage message{m_topics.energy(), m_payloads.energy(totals), true};
    size_t dropped = 0;
    std::string error;
    if (!m_outbox.isOpen()) {
        publishDirect(message);
    } else if (!m_outbox.queue({{0, totals.llTimeMicros, message}}, m_outbox.cursor(), dropped, error)) {
        note("the outbox: " + error);
    }
    std::lock_guard<std::mutex> lock(m_countsMutex);
    m_counts.ullDropped += dropped;
    return true;
}

// In the order queued, a few at a time: the library resends those it has
// sent after a reconnection, so each is sent once by this process; a new
// process sends again whatever the last one left unacknowledged.
void MqttPublisher::sendQueued() {
    if (!m_bConnected || !m_outbox.isOpen()) return;
    const int nRoom = m_options.nInFlight - static_cast<int>(m_inFlight.size());
    if (nRoom <= 0) return;
    std::vector<OutboxMessage> messages;
    std::string error;
    if (!m_outbox.next(m_llLastSent, nRoom, messages, error)) return note("the outbox: " + error);
    for (const OutboxMessage& queued : messages) {
        int nMid = 0;
        if (!m_pConnection->publish(queued.message.topic, queued.message.payload, queued.message.bRetain,
                                    nMid, error))
            return note(error);
        m_inFlight[nMid] = queued.llId;
        m_llLastSent = queued.llId;
    }
}
