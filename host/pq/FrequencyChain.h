// The 10-second frequency values, aligned to the UTC clock's 10-second ticks.
//
// The value is the number of whole half-cycles over their total duration, as
// a frequency meter counts cycles: each half-cycle lasts 1/(2f) by its own
// reading f, so the value is the harmonic mean of the readings, not their
// mean, which would weigh the faster half-cycles too much. Half-cycles
// without a reading, or with one beyond half or one and a half times the
// nominal frequency (no voltage, a period register read as 0), count for nothing.
#pragma once

#include "HalfCycleRecord.h"
#include "PqSink.h"
#include "UtcTicks.h"

namespace pq {

class FrequencyChain {
public:
    FrequencyChain(double dNominalHz, Sink& sink) : m_dNominalHz(dNominalHz), m_sink(sink) {}
    void add(const HalfCycleRecord& record, bool bFlagged);
    // The series broke off: the value in progress is given, marked
    // incomplete, and the chain starts again at the next 10-second tick.
    void interrupt();

private:
    void close(bool bComplete);

    const double m_dNominalHz;
    Sink& m_sink;
    TickStart m_start{TEN_SECONDS_MICROS};
    bool m_bOpen = false;
    int64_t m_llIndex = 0;
    FrequencyValue m_value;
    double m_dPeriods = 0;  // the readings' 1/f summed
};

}  // namespace pq
