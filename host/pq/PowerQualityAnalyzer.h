// Power-quality analysis of the half-cycle records, fed one by one in time
// order on one thread: aggregation (10/12-cycle, 150/180-cycle, 10-minute,
// 2-hour, 10-second frequency), voltage events, rapid voltage changes. The
// results go to the sink as each is complete. It keeps no clock of its own:
// the records' times are the only time it knows.
//
// Records are contiguous while each follows the one before by more than
// nothing and by at most three half-cycles of its own frequency (the nominal
// one's when it reads none, or nothing near it): a record lost now and then
// is bridged, the 10/12-cycle value spanning the half-cycle missing. Anything
// else (records lost, the clock stepped back, or forward) is a break: the
// events and intervals in progress are closed as their classes say, and the
// chains start again at their next tick. A record that cannot be measured
// (a value not finite, a negative RMS value or THD) is dropped as if lost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AggregationChains.h"
#include "FrequencyChain.h"
#include "RvcDetector.h"
#include "VoltageEventDetector.h"

namespace pq {

class Analyzer {
public:
    // `config` is checked first: the analysis runs on what checkConfig applies.
    Analyzer(const Config& config, Sink& sink);
    const Config& config() const { return m_check.applied; }
    const std::vector<std::string>& configErrors() const { return m_check.errors; }

    void add(const HalfCycleRecord& record);
    // The records end (the host stops): what is in progress is given as
    // incomplete, events as cut short. Records added later start afresh.
    void finish();
    uint64_t droppedRecords() const { return m_ullDropped; }
    // The rapid voltage changes' view of the voltage: steady, or changing (or
    // not yet steady after a start, a break or a voltage event).
    bool rvcSteady() const { return m_rvc.steady(); }

private:
    bool follows(const HalfCycleRecord& record) const;
    void interrupt();

    const ConfigCheck m_check;
    Sink& m_sink;
    VoltageEventDetector m_events;
    RvcDetector m_rvc;
    AggregationChains m_chains;
    FrequencyChain m_frequency;
    bool m_bHaveLast = false;
    int64_t m_llLastMicros = 0;
    uint64_t m_ullDropped = 0;
};

}  // namespace pq
