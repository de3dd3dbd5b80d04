// Where the analysis delivers its results, as each is complete; a host
// overrides what it keeps.
#pragma once

#include <cstdint>

#include "PqResults.h"

namespace pq {

class Sink {
public:
    virtual ~Sink() = default;
    virtual void aggregate(const Interval&) {}
    virtual void frequency(const FrequencyValue&) {}
    virtual void voltageEvent(const VoltageEvent&) {}
    virtual void rapidVoltageChange(const RapidVoltageChange&) {}
    // The records broke off between these two: records were lost or the
    // clock stepped. The intervals in progress were closed; worth a log line.
    virtual void discontinuity(int64_t /*llLastMicros*/, int64_t /*llNextMicros*/) {}
};

}  // namespace pq
