// What one register image is made of: one published record (request 10), the
// running interval's peak demand (request 5), the lifetime counters as last
// saved and the meter's health, each read once, so every register of an
// image comes from the same moment.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "LifetimeEnergy.h"
#include "MeasSOM.h"
#include "Requests.h"

struct MeterHealth {
    bool bMeasuring = false, bChipAnswering = false, bRecording = false;
    uint32_t ulLostWindows = 0;  // lost in the ring or dropped from the recorder's queue
    uint32_t ulLimitBits = 0;    // the module's limit status (LIMIT_* per phase)
};

struct MeterReadings {
    bool bRecord = false;  // the module answered request 10
    std::array<float, MODBUS_FLOATS> record{};
    bool bDemand = false;  // the module answered request 5
    std::array<float, accum_POWER_MAX> peakDemand{};
    bool bLifetime = false;
    LifetimeTotals lifetime;
    MeterHealth health;
};

// Who the meter is, for SunSpec's common model.
struct MeterIdentity {
    std::string serialNumber, version;
    uint8_t unUnitId = 1;
};

// Where the readings come from; each safe from any thread while the host's
// loop runs the module. Without `lifetime` there are no counters; without
// `health` the meter is said to measure while the module answers.
struct MeterSources {
    MeasSOM* pModule = nullptr;
    std::function<bool(LifetimeTotals&)> lifetime;
    std::function<MeterHealth()> health;
};

MeterReadings readMeter(const MeterSources& sources);
