// Whether the meter is measuring, judged from what the host sees after each
// process call: the ring's next-in index, the chip's health in the block's
// signal flags, and a microsecond clock. It decides when the service manager
// hears the meter is ready, when its watchdog is fed, what is wrong, and when
// the host gives up so that the meter is restarted.
#pragma once

#include <cstdint>

enum class MeasuringFault { None, NoRecords, SpiFailing, ChipNotAnswering };

// The fault in words, for the one line that says it.
const char* describeFault(MeasuringFault fault);

struct MeasuringLimits {
    uint64_t ullNoRecordMicros = 5000000;  // no record this long: not measuring
    uint64_t ullGraceMicros = 30000000;    // not measuring this long: give up
};

// What one look found.
struct MeasuringState {
    MeasuringFault fault = MeasuringFault::None;
    bool bFaultChanged = false;  // a new fault, or measuring again: say so
    bool bReady = false;         // measuring for the first time since the start
    bool bRecording = false;     // records made lately and nothing wrong: feed the watchdog
    bool bGiveUp = false;        // a fault that has lasted the grace period
};

class MeasuringWatch {
public:
    MeasuringWatch(const MeasuringLimits& limits, uint64_t ullStartMicros, uint16_t unNextIn);
    MeasuringState look(uint64_t ullNowMicros, uint16_t unNextIn, uint16_t unSignalFlags);
    // Records made since the start (looks must come at least once per ring).
    uint64_t records() const { return m_ullRecords; }

private:
    MeasuringLimits m_limits;
    uint64_t m_ullLastRecordMicros;  // or the start, before the first record
    uint16_t m_unNextIn;
    uint64_t m_ullRecords = 0;
    bool m_bRecordsSeen = false;
    bool m_bReadySaid = false;
    MeasuringFault m_fault = MeasuringFault::None;
    uint64_t m_ullFaultSinceMicros = 0;
};
