// What the power-quality feeder has analysed, missed and stored, as
// /api/status, the page's status strip and the stop line show it.
#pragma once

#include <cstdint>
#include <string>

struct PqCounts {
    uint64_t ullRecordsAnalysed = 0;
    uint64_t ullRecordsLost = 0;     // overwritten in the ring before they were read (from their times)
    uint64_t ullRecordsDropped = 0;  // not measurable (a value not finite, a negative RMS)
    uint64_t ullBreaks = 0;          // the series broke off: records lost, the clock stepped
    uint64_t ullRowsWritten = 0, ullRowsPending = 0, ullRowsDropped = 0;  // the results' rows
    uint64_t ullRetriedWrites = 0;
    std::string lastError;  // the latest failure; "" once a write succeeds again
};
