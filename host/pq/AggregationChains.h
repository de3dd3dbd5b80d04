// The aggregation chains on the half-cycle records: 10/12-cycle values, from
// them 150/180-cycle values (15 each) and 10-minute values, from those
// 2-hour values (12 each).
//
// The 10-minute and 2-hour values are aligned to the UTC clock's ticks. The
// 10/12-cycle values follow each other without gaps; one that straddles a
// 10-minute tick goes with the interval it began in, the one the tick ends,
// and the 150/180-cycle chain starts over at the tick: the last 150/180-cycle
// value before it may hold fewer than 15. As the records' own times decide,
// records of another length (another frequency, 60 Hz records under a 50 Hz
// setting) change how many 10/12-cycle values an interval holds, not where it
// begins or ends.
//
// Every value overlapping a dip, swell or interruption is flagged, and so is
// each value built from a flagged one.
#pragma once

#include "CycleBlock.h"
#include "PqConfig.h"
#include "PqSink.h"
#include "UtcTicks.h"

namespace pq {

class AggregationChains {
public:
    AggregationChains(const Config& config, Sink& sink);
    // One record of an unbroken series; `bFlagged`: it lies within an event.
    void add(const HalfCycleRecord& record, bool bFlagged);
    // The series broke off (records lost, the clock stepped): the 10-minute
    // value in progress is given as it is, marked incomplete (it holds what
    // was measured, not the whole interval); the 10/12- and 150/180-cycle
    // values in progress are dropped, as parts of them are no such values;
    // the chains start again at the next 10-minute tick. The 2-hour value in
    // progress waits for the 10-minute values still to come in its interval.
    void interrupt();
    // The records end: as a break, and the 2-hour value in progress is given too.
    void finish();

private:
    void addBlock(const Interval& block);
    void closeCycles150();
    void closeTenMinutes(bool bComplete);
    void addToTwoHours(const Interval& tenMinutes);
    void closeTwoHours();

    Sink& m_sink;
    const uint32_t m_ulRecordsPerBlock;
    TickStart m_start{TEN_MINUTES_MICROS};
    bool m_bOpen = false;  // a 10-minute interval is in progress
    int64_t m_llTenMinuteIndex = 0;
    CycleBlock m_block;
    StatAccumulator m_cycles150, m_tenMinutes, m_twoHours;
    int64_t m_llCycles150Start = 0, m_llCycles150End = 0;
    int64_t m_llTwoHourIndex = 0, m_llTwoHourLastEnd = 0;
};

}  // namespace pq
