// The journal values a record export carries: the measured voltages,
// currents, powers and frequencies, each with its name, phase and unit.
// Power factors, distortion (%) and phase angles are left out: they are
// ratios and angles, not the quantities a recording is read for.
#pragma once

#include <string>
#include <vector>

#include "JournalTables.h"

struct ExportChannel {
    eJrnl index;        // where the value is in StoredRecord::values
    std::string name;   // "VRMS_A", "NIRMS", "TOT_WATT"
    std::string phase;  // "A", "B", "C", "N" (neutral) or "" (three-phase totals)
    std::string unit;   // "V", "A", "W", "VA", "var" or "Hz"
};

// In journal order.
const std::vector<ExportChannel>& exportChannels();
