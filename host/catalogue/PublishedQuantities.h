// The quantities the meter publishes, in one table: the MQTT state message,
// the Home Assistant discovery messages and the Prometheus metrics are all
// made from it, so a quantity added here appears everywhere at once.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "JournalTables.h"
#include "LifetimeEnergy.h"
#include "MeasSOM.h"

// Where a quantity's value comes from.
enum class QuantitySource {
    Journal,   // the published record's journal field `nJournal`
    Lifetime,  // a lifetime energy counter, `nLifetime` (LifetimeEnergy.h)
};

// How a register map carries a value: an IEEE 754 single or an unsigned
// integer, in big-endian registers, the most significant first.
enum class ModbusType { Uint16, Uint32, Float32, Uint64 };

// Where a quantity sits in the meter's own Modbus map (docs/modbus.md).
struct ModbusPlace {
    int nAddress = -1;  // the first of its registers (0-based protocol address); -1: not on Modbus
    ModbusType type = ModbusType::Float32;
    double dScale = 1;  // an integer carries the value times this (energy: Wh to mWh)
};

struct PublishedQuantity {
    std::string key;          // the JSON key (MQTT state, /api/values "lifetime"), e.g. "VRMS_A"
    std::string name;         // for people and Home Assistant, e.g. "Voltage A"
    std::string unit;         // "V", "A", "W", "VA", "var", "Hz", "%", "Wh", "varh" or "" (power factor)
    std::string deviceClass;  // Home Assistant's, "" for none (THD)
    std::string stateClass;   // "measurement" or "total_increasing"
    std::string metric;       // Prometheus metric name, e.g. "qm9000_voltage_volts"
    std::string phase;        // "A", "B", "C", "N" or "" for totals: a metric label
    QuantitySource source = QuantitySource::Journal;
    int nIndex = 0;  // the journal field (jrnl_*) or the lifetime counter
    // The metric is in base units: the quantity times this (THD: % to a
    // ratio; energy: Wh to joules, varh to var-seconds).
    double dMetricScale = 1.0;
    ModbusPlace modbus;
};

// Every published quantity, in a fixed order.
const std::vector<PublishedQuantity>& publishedQuantities();

// The journal of the module's published record (request 10's first
// jrnl_MAX floats); false when the module did not answer.
bool readPublishedJournal(MeasSOM& module, std::array<float, jrnl_MAX>& journal);
// A quantity's value from the journal or the lifetime counters.
double publishedValue(const PublishedQuantity& quantity, const std::array<float, jrnl_MAX>& journal,
                      const LifetimeTotals& lifetime);
