// The meter's health as GET /api/status and the page's status strip give it:
// the measurement as the host's loop last saw it, the recorder's counts and
// the database's state.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "PqCounts.h"
#include "RecorderCounts.h"
#include "StorageLimits.h"

struct MeasurementStatus {
    double dRecordsPerSecond = 0;  // over the last second
    bool bMeasuring = false;
    bool bChipAnswering = false;
    std::string fault = "starting";  // what stops it measuring; "" while it measures
    double dUptimeSeconds = 0;
    uint32_t ulLimitStatusBits = 0;  // the module's, as the loop last saw them
};

// Written by the host's loop each second, read by the web server's threads.
class MeasurementHealth {
public:
    void set(const MeasurementStatus& status) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = status;
    }
    MeasurementStatus get() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_status;
    }

private:
    mutable std::mutex m_mutex;
    MeasurementStatus m_status;
};

// The MQTT publisher's connection and store-and-forward queue.
struct MqttCounts {
    bool bConnected = false;
    uint64_t ullQueued = 0;     // in the outbox now, waiting for the broker
    uint64_t ullDelivered = 0;  // acknowledged by the broker since the start
    uint64_t ullDropped = 0;    // deleted unsent since the start: the outbox was full
    std::string lastError;      // the latest failure; "" once connected again
};

struct MeterStatus {
    MeasurementStatus measurement;
    RecorderCounts recorder;
    StorageStatus database;
    std::string databaseError;       // why this server cannot read it, if it cannot
    std::optional<MqttCounts> mqtt;  // none: the meter publishes to no broker
    std::optional<PqCounts> pq;      // none: no power-quality analysis runs
};

// What the web server asks for its status report; safe from any thread.
using MeterStatusSource = std::function<MeterStatus()>;
