// The chain of SunSpec models from protocol address 40000, for clients that find a
// meter by SunSpec: "SunS", the common model (1), the three-phase meter model
// with float points (213) and the end marker. Points this meter does not
// measure carry SunSpec's "not implemented" (NaN for a float).
#pragma once

#include <cstdint>
#include <string>

#include "MeterReadings.h"

constexpr int SUNSPEC_BASE = 40000;
constexpr int SUNSPEC_COMMON_LENGTH = 66, SUNSPEC_METER_LENGTH = 124;
// "SunS", then each model's ID and length before it, then the end marker.
constexpr int SUNSPEC_REGISTERS = 2 + 2 + SUNSPEC_COMMON_LENGTH + 2 + SUNSPEC_METER_LENGTH + 2;

// Writes the block to pRegisters[0 .. SUNSPEC_REGISTERS).
void writeSunSpec(uint16_t* pRegisters, const MeterReadings& readings, const MeterIdentity& identity);

// The meter model's points as a Markdown table (address, name, unit, what
// it carries), for docs/modbus.md.
std::string sunSpecMeterTable();
