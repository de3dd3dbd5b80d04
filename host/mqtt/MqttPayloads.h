// The payloads of the state, interval, event and energy messages, as JSON
// (keys as /api/values and /api/intervals name them) or as Influx line
// protocol (measurements qm9000_state, qm9000_interval, qm9000_event and
// qm9000_energy, tagged with the meter and the phase), so a fleet's
// Telegraf reads them unchanged. Each carries the time of what it reports.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "AccumulatorTables.h"
#include "JournalTables.h"
#include "LifetimeEnergy.h"
#include "StoredEvent.h"

enum class MqttFormat { Json, Influx };

// The published record as read, with when it was read (UTC microseconds).
struct StateReading {
    int64_t llTimeMicros = 0;
    std::array<float, jrnl_MAX> journal{};
};

class MqttPayloads {
public:
    MqttPayloads(MqttFormat format, std::string meterId) : m_format(format), m_meterId(std::move(meterId)) {}

    // The catalogue's journal quantities.
    std::string state(const StateReading& reading) const;
    // A completed interval, at its end; energy and demand as /api/intervals has them.
    std::string interval(int64_t llEndMicros, const ACCUMULATOR_DATA& interval) const;
    // A stored event's summary and where its COMTRADE and CSV files are served.
    std::string event(const StoredEvent& event) const;
    // The catalogue's lifetime counters.
    std::string energy(const LifetimeTotals& totals) const;

private:
    MqttFormat m_format;
    std::string m_meterId;
};
