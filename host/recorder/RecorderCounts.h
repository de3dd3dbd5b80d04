// What the recorder has stored, has waiting and has lost, as the live view,
// the stop line and the web page's status report show it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

// A recording window that never reached the database, with its time.
struct LostWindow {
    int64_t llStartMicros = 0, llEndMicros = 0;  // its first and last record
    std::string reason;                          // "overwritten in the ring", "pending queue full", ...
};

struct RecorderCounts {
    static constexpr size_t MAX_LOST_LISTED = 32;  // the latest lost windows kept with their times

    unsigned unWindows = 0;  // stored
    unsigned long ulRecords = 0;
    unsigned unIntervals = 0;
    unsigned unPendingWindows = 0, unPendingIntervals = 0;  // taken, waiting for the database
    unsigned unRetriedWrites = 0;                           // writes that failed and were tried again
    unsigned unDroppedWindows = 0, unDroppedIntervals = 0;  // the pending queue overflowed, oldest first
    unsigned unLostWindows = 0;   // overwritten in the ring before they could be taken
    std::deque<LostWindow> lost;  // the latest lost or dropped windows, oldest first

    std::string databasePath;
    bool bRecording = false;  // the database is open and took the start-up write
    std::string lastError;    // the latest failure; "" once a write succeeds again

    unsigned dropped() const { return unDroppedWindows + unDroppedIntervals + unLostWindows; }
};
