// What a recording window shows, as power-quality meters report it: the
// worst one-cycle RMS voltage of the window against the nominal voltage. An
// interruption when every phase falls below the interruption threshold, a dip
// when any phase falls below the dip threshold, a swell when any rises above
// the swell threshold; any other window (current limits, the realtime
// trigger) is a "limit" event.
#pragma once

#include "StoredEvent.h"

struct VoltageThresholds {
    double dNominalVolts = 230.0;
    double dInterruptionPercent = 5.0;
    double dDipPercent = 90.0;
    double dSwellPercent = 110.0;
};

// Where the disturbance lies in its window, so that the recorder can join a
// disturbance that outlasts one window to the window that sees its end.
struct Disturbance {
    bool bFromFirstRecord = false;  // the window starts beyond the threshold
    bool bToLastRecord = false;     // and ends beyond it
    int64_t llFromMicros = 0;       // the first record beyond it
};

// Fills the classification, phases, extreme value and duration of `event`
// from its records; for a "limit" event the disturbance is empty.
Disturbance classifyEvent(StoredEvent& event, const VoltageThresholds& thresholds);
