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

// Fills the classification, phases, extreme value and duration of `event`
// from its records.
void classifyEvent(StoredEvent& event, const VoltageThresholds& thresholds);
