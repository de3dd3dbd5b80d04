// What a recording window shows, as power-quality meters report it: the
// worst one-cycle RMS voltage of the window against the nominal voltage. An
// interruption when every phase falls below the interruption threshold, a dip
// when any phase falls below the dip threshold, a swell when any rises above
// the swell threshold; any other window (current limits, the realtime
// trigger) is a "limit" event.
//
// The thresholds are the module's own (its configuration's VNominal,
// VLowPercent and VHighPercent), compared as the module compares them, so a
// window agrees with what triggered it. A phase of a record is also below the
// dip threshold when the module set its voltage-low bit on it, and above the
// swell threshold when it set its voltage-high bit: the bits say what the
// module judged, also against thresholds of an earlier configuration. With
// the voltage limits disabled the bits stay 0 and the voltages alone decide.
// No bit marks an interruption: the voltages decide it. Only the phases the
// wiring measures are judged: an unconnected input reads 0 V.
#pragma once

#include "LineSettings.h"
#include "StoredEvent.h"

struct VoltageThresholds {
    double dNominalVolts = LineSettings{}.fNominalVolts;
    double dInterruptionPercent = 5.0;
    double dDipPercent = LineSettings{}.fVLowPercent;
    double dSwellPercent = LineSettings{}.fVHighPercent;
    unsigned unPhases =
        LineSettings{}.measuredPhases();  // those the wiring measures; the others are not judged
};

// The thresholds of the line's configuration.
VoltageThresholds voltageThresholds(const LineSettings& line, double dInterruptionPercent);

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
