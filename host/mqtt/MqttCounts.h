// The publisher's queue and connection, as /api/status, the live view, the
// MQTT status message and the metrics show them.
#pragma once

#include <cstdint>
#include <string>

struct MqttCounts {
    bool bConnected = false;
    uint64_t ullQueued = 0;     // in the outbox now, waiting for the broker
    uint64_t ullDelivered = 0;  // acknowledged by the broker since the start
    uint64_t ullDropped = 0;    // deleted unsent since the start: the outbox was full
    std::string lastError;      // the latest failure; "" once connected again
};
