// What the recorder stores and the exporters write: the records of one
// recording window with what started it, and a waveform snapshot.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "JournalTables.h"

// One half-cycle record of a window, whole.
struct StoredRecord {
    int64_t llTimeMicros;    // its wall-clock time stamp, microseconds since the epoch
    uint32_t ulLimitStatus;  // the limit bits the module set on it
    std::array<float, jrnl_MAX> values;
};

struct StoredEvent {
    int64_t llId = 0;
    int64_t llStartMicros = 0, llEndMicros = 0;  // the first and the last record
    int64_t llTriggerMicros = 0;                 // when the limit event happened
    uint32_t ulTriggerStatus = 0;                // its limit status bits
    std::string classification;                  // "interruption", "dip", "swell" or "limit"
    std::string phases;                          // the phases involved: "A", "BC", ...; "" for a limit
    double dExtreme = 0;                         // volts: residual (dip, interruption), peak (swell)
    int64_t llDurationMicros = 0;                // how long the voltage stayed beyond the threshold
    bool bOpen = false;                          // its disturbance went on past its last stored record
    bool bIncomplete = false;                    // the recorder stopped (or crashed) while it was open
    // Its records were deleted to keep the database within its bound.
    bool bRecordsPruned = false;
    std::vector<StoredRecord> records;
    size_t storedRecords = 0;  // how many the database holds, also when `records` is not loaded
    size_t recordCount() const { return records.empty() ? storedRecords : records.size(); }
};

// One cycle of the six inputs as the module's snapshot gives them: 128
// samples each of voltage A, B, C (volts) and current A, B, C (amps).
constexpr int SNAPSHOT_SAMPLES = 128, SNAPSHOT_CHANNELS = 6;
struct StoredSnapshot {
    int64_t llId = 0;
    int64_t llTimeMicros = 0;  // when it was taken
    double dFrequency = 0;     // of the line then, hertz (the samples span one cycle)
    std::array<std::array<float, SNAPSHOT_SAMPLES>, SNAPSHOT_CHANNELS> samples{};
};
