// GET /metrics: the meter in Prometheus' text exposition format (0.0.4). The
// live quantities and the lifetime energy counters come from the catalogue
// of published quantities, in base units; beside them the meter's health: the
// records made a second, the recorder's and the database's counts, and the
// MQTT publisher's queue.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "JournalTables.h"
#include "LifetimeEnergy.h"
#include "MeterStatus.h"

// What the web server publishes that it does not own; each may be left empty.
struct PublishedSources {
    std::function<bool(LifetimeTotals&)> lifetime;  // false: none saved (LifetimeEnergy::published)
    std::string serialNumber;                       // the module's, for qm9000_info
};

struct MetricsInputs {
    const std::array<float, jrnl_MAX>* pJournal =
        nullptr;                                // the published record; none: the module did not answer
    const LifetimeTotals* pLifetime = nullptr;  // none: no lifetime energy saved
    MeterStatus status;                         // its MQTT counts, when it has them, as well
    std::string serialNumber, version;
};

// The exposition: a # HELP and # TYPE line before each metric's samples, a
// metric's samples together, counters ending in _total. Quantities the
// inputs lack are left out.
std::string metricsText(const MetricsInputs& inputs);
