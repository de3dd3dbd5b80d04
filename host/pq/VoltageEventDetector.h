// Dips, swells and interruptions on every half-cycle's one-cycle RMS voltages,
// polyphase: a dip starts when any measured phase falls below the dip
// threshold and ends when every one is back at or above it plus the
// hysteresis; a swell likewise above its threshold, ending at or below it
// less the hysteresis.
//
// An interruption is a dip during which every measured phase was below the
// interruption threshold at once: the interruption in the polyphase sense
// starts when the last phase goes below it and ends when any is back at or
// above it plus the hysteresis. Such a dip is reported once, as an
// interruption, with the dip's start, duration and residual voltage and the
// time spent interrupted; a dip that took only some phases that low stays a
// dip with a residual below the interruption threshold.
//
// A dip and a swell (one phase low, another high) are two events.
#pragma once

#include "HalfCycleRecord.h"
#include "PqConfig.h"
#include "PqSink.h"

namespace pq {

class VoltageEventDetector {
public:
    VoltageEventDetector(const Config& config, Sink& sink);
    // True while the record lies within a dip, swell or interruption: from
    // the half-cycle that started it to the last before the one that ended it.
    bool add(const HalfCycleRecord& record);
    // The records broke off: an event in progress ends at the last record
    // seen, marked cut short, as nothing says how long it went on.
    void interrupt();

private:
    struct Ongoing {
        bool bActive = false;
        int64_t llStartMicros = 0;
        double dExtremeVolts = 0;
        int nPhase = 0;  // -1 until the first record's phases are looked at
    };
    // Starts `ongoing` when `bStarts`, and follows its lowest (or highest) voltage.
    void track(Ongoing& ongoing, bool bStarts, bool bLowest, const HalfCycleRecord& record);
    void end(Ongoing& ongoing, EventKind kind, int64_t llEndMicros, bool bCutShort);

    const Config m_config;
    Sink& m_sink;
    Ongoing m_dip, m_swell;
    bool m_bInterrupted = false, m_bWasInterrupted = false;
    int64_t m_llInterruptedSince = 0, m_llInterruptedMicros = 0;
    int64_t m_llLastMicros = 0;
};

}  // namespace pq
