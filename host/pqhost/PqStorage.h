// The power-quality results in the event database (layout version 4's
// pq_intervals, pq_frequency and pq_events): written as rows, read back as
// the analysis gave them, for the API and the week's report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EventDatabase.h"
#include "PqConfig.h"
#include "PqResults.h"

// One result of the analysis, waiting to be stored.
struct PqRow {
    enum class Kind { interval, frequency, event, rvc } kind = Kind::interval;
    pq::Interval interval;  // 10-minute and 2-hour only
    pq::FrequencyValue frequency;
    pq::VoltageEvent event;
    pq::RapidVoltageChange rvc;
};

// A stored voltage event or rapid voltage change.
struct StoredPqEvent {
    int64_t llId = 0;
    std::string kind;  // "dip", "swell", "interruption", "rvc"
    int64_t llStartMicros = 0, llDurationMicros = 0;
    int nPhase = 0;
    double dExtremeVolts = 0;  // none (NaN) for a rapid voltage change
    int64_t llInterruptedMicros = 0;
    double dMaxDeltaVolts = 0, dSteadyDeltaVolts = 0;  // rapid voltage changes only
    bool bCutShort = false;
    double dDeclaredVolts = 0;
    int64_t llRecorderEventId = 0;  // 0: the recorder stored no window over it
};

// The rows in one transaction, each event linked to the recorder's event
// overlapping it when there is one; false with `error` (none stored).
bool storePqRows(EventDatabase& database, const std::vector<PqRow>& rows, const pq::Config& config,
                 std::string& error);

// The 10-minute (600) or 2-hour (7200) values starting at or after `llFrom`
// and ending at or before `llTo`, oldest first, at most `nMax`; of two for
// one tick (the clock stepped back) the complete one.
bool loadPqIntervals(EventDatabase& database, int nPeriodSeconds, int64_t llFrom, int64_t llTo, int nMax,
                     std::vector<pq::Interval>& intervals, std::string& error);
// The 10-second frequency values within [llFrom, llTo), oldest first.
bool loadPqFrequency(EventDatabase& database, int64_t llFrom, int64_t llTo,
                     std::vector<pq::FrequencyValue>& values, std::string& error);
// The events starting within [llFrom, llTo), newest first, at most `nMax`.
bool loadPqEvents(EventDatabase& database, int64_t llFrom, int64_t llTo, int nMax,
                  std::vector<StoredPqEvent>& events, std::string& error);

// A stored dip, swell or interruption as the report takes it; false for a
// rapid voltage change or an unknown kind.
bool voltageEventOf(const StoredPqEvent& stored, pq::VoltageEvent& event);
