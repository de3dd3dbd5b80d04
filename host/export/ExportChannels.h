// The journal's values by name, phase and unit, and those a record export
// carries: the measured voltages, currents, powers and frequencies. Power
// factors, distortion (%) and phase angles are left out of exports: they are
// ratios and angles, not the quantities a recording is read for.
#pragma once

#include <string>
#include <vector>

#include "JournalTables.h"

struct ExportChannel {
    eJrnl index;        // where the value is in StoredRecord::values
    std::string name;   // "VRMS_A", "NIRMS", "TOT_WATT"
    std::string phase;  // "A", "B", "C", "N" (neutral) or "" (three-phase totals)
    std::string
        unit;  // "V", "A", "W", "VA", "var", "Hz"; "%" (distortion), "deg" (angles), "" (power factors)
};

// Every journal value, in journal order: what the journal's names are.
const std::vector<ExportChannel>& journalChannels();
// The exported ones, in journal order.
const std::vector<ExportChannel>& exportChannels();
