// The meter's MQTT publisher: a thread of its own, beside the library's
// network thread, that reads the published record each second for `state`,
// the database (its own connection) for new events and intervals, the
// lifetime totals each minute for `energy`, and the meter's health for
// `status`. The interval, event and energy messages go through the outbox
// (MqttOutbox.h) and leave it only when the broker has acknowledged them;
// `state` and `status` are sent only while connected. Nothing here is ever
// waited on by the host's loop.
#pragma once

#include <array>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "HomeAssistantDiscovery.h"
#include "JournalTables.h"
#include "LifetimeEnergy.h"
#include "MeterStatus.h"
#include "MqttConnection.h"
#include "MqttOutbox.h"
#include "MqttPayloads.h"

struct MqttOptions {
    MqttConnectionSettings connection;  // the client id and will are made from the meter id
    DeviceIdentity device;
    MqttFormat format = MqttFormat::Json;
    bool bDiscovery = true;  // false: the discovery topics are emptied once connected
    std::string databasePath;
    size_t maxQueued = MqttOutbox::DEFAULT_MAX_MESSAGES;
    // Periods, milliseconds.
    int nStateMillis = 1000, nPollMillis = 1000, nStatusMillis = 10000, nEnergyMillis = 60000;
    int nInFlight = 10;  // outbox messages sent and not yet acknowledged, at most
};

// Where the publisher reads from; each safe to call from its thread.
struct MqttSources {
    // The published record whole (jrnl_MAX floats, totals included); false when the module did not answer.
    std::function<bool(std::array<float, jrnl_MAX>&)> readJournal;
    std::function<LifetimeTotals()> lifetime;  // llTimeMicros 0: not known yet, no energy sent
    MeterStatusSource status;
};

class MqttPublisher {
public:
    MqttPublisher(MqttOptions options, MqttSources sources);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Opens the outbox and starts connecting. Without the database it still
    // sends state and status, and says why nothing is queued (counts()).
    // False with `error` set when it cannot start at all.
    bool start(std::string& error);
    // Tells the broker "offline" (retained) and waits up to a few seconds
    // for its acknowledgement; what is queued stays for the next start.
    void stop();
    MqttCounts counts() const;
    const MqttTopics& topics() const { return m_topics; }

private:
    void run();
    void handle(const ConnectionNews& news);
    void announce();
    void publishState(int64_t llNow);
    void publishStatus(bool bForce);
    void queueRecordings();
    // False while the lifetime totals are not known.
    bool queueEnergy();
    void sendQueued();
    void publishDirect(const MqttMessage& message);
    void note(const std::string& error);

    MqttOptions m_options;
    MqttSources m_sources;
    MqttTopics m_topics;
    MqttPayloads m_payloads;
    MqttOutbox m_outbox;
    std::unique_ptr<MqttConnection> m_pConnection;
    std::thread m_thread;

    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_bWoken = false, m_bStop = false;

    mutable std::mutex m_countsMutex;
    MqttCounts m_counts;

    // The publisher's thread only.
    bool m_bConnected = false;
    std::map<int, int64_t> m_inFlight;  // message id -> outbox id
    int64_t m_llLastSent = 0;           // the outbox id sent last in this connection
    std::string m_lastStatusKey;
    std::string m_outboxError;  // why nothing is queued, said again after each connection
};
