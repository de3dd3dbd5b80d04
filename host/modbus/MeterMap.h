// The meter's own Modbus map, one table: the published quantities at the
// addresses the catalogue gives them and, beside them, what only Modbus
// carries (the status, the phase angles, the running interval's energy and
// peak demand). The register image is filled and docs/modbus.md is printed
// from it, so neither can drift from the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PublishedQuantities.h"

enum class PointSource {
    Status,          // the status word (StatusBit)
    LimitBits,       // the module's limit status bits
    LostWindows,     // recording windows lost or dropped since the start
    Journal,         // the published record's journal field nIndex
    Lifetime,        // lifetime counter nIndex
    IntervalEnergy,  // the running interval's energy quantity nIndex (eEnergyAccum)
    PeakDemand,      // the running interval's peak demand nIndex (ePowerAccum)
};

// The status word's bits.
enum StatusBit : uint16_t {
    status_MEASURING = 0x0001,       // records made over the last second
    status_CHIP_ANSWERING = 0x0002,  // the measuring chip answers
    status_RECORDING = 0x0004,       // the event database takes the recorder's writes
    status_LOSSES = 0x0008,          // recording windows lost or dropped since the start
    status_LIFETIME = 0x0010,        // the lifetime energy counters are kept (else all ones)
    status_RECORD = 0x0020,          // the module answered the record read (else NaN)
};

struct MapPoint {
    std::string key, name, unit;
    PointSource source = PointSource::Journal;
    int nIndex = 0;
    ModbusPlace place;
};

// Every point, by address.
const std::vector<MapPoint>& meterMap();

// How many registers a value of `type` takes.
int registerCount(ModbusType type);
const char* typeName(ModbusType type);
