// What the recorder stored after the publisher's cursor: events once closed
// (an event still open holds back those after it, so they go out in order)
// and completed intervals, each with its id, read from the publisher's own
// connection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AccumulatorTables.h"
#include "StoredEvent.h"

struct sqlite3;

struct StoredInterval {
    int64_t llId = 0;
    int64_t llEndMicros = 0;
    ACCUMULATOR_DATA data{};
};

// Up to `nMax` closed events after id `llAfterId`, without their records,
// stopping at the first still open. False with `error` set.
bool closedEventsAfter(sqlite3* pDb, int64_t llAfterId, int nMax, std::vector<StoredEvent>& events,
                       std::string& error);
// Up to `nMax` intervals after id `llAfterId`.
bool intervalsAfter(sqlite3* pDb, int64_t llAfterId, int nMax, std::vector<StoredInterval>& intervals,
                    std::string& error);
