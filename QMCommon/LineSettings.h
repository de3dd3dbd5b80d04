// The line's settings in the measurement configuration that both the module
// and its host act on: the wiring, the nominal voltage with its limits, and
// the full scales. Their defaults stand here once, and both read them with the
// same reader, so the host judges the line by the thresholds the module
// triggers on.
#pragma once

#include <cstdint>

#include "JSONBuffer.h"

// The configuration's "Wiring" codes (see the module's totals tables).
constexpr uint16_t WIRING_SINGLE = 1, WIRING_SPLIT = 2, WIRING_WYE = 3, WIRING_DELTA2 = 4, WIRING_DELTA3 = 5;

struct LineSettings {
    uint16_t unWiring = 0;
    float fNominalVolts = 120.0f;
    float fNominalHz = 50.0f;      // the line's nominal frequency
    float fVHighPercent = 105.0f;  // the voltage's high limit, % of nominal
    float fVLowPercent = 90.0f;    // and its low limit
    float fFullScaleVolts = 1077.11f;
    float fFSVM_Wye = 0.90045f;   // the voltage full scale's factor for wye and split-phase wiring
    float fFSVM_Delta = 0.9012f;  // and for delta wiring
    // As the file states it, 0 when it does not: the module may take a probe's
    // rating instead (its own reading of the probe settings decides that).
    float fFullScaleAmps = 0.0f;

    // The phases the wiring measures, bit 0 for A, 1 for B, 2 for C: a single
    // phase measures A, split-phase and delta A and C, wye (or none named) all.
    unsigned measuredPhases() const;
    // The voltage full scale corrected for the wiring.
    float correctedFullScaleVolts() const;
    float vHighVolts() const;
    float vLowVolts() const;

    // Takes the value of the configuration line `pszLine`, whose setting is
    // named `pszName`, when it is one of these; false when it is not.
    bool apply(const JSONBuffer& json, const char* pszName, char* pszLine);
};

// `fPercent` % of `fNominal`, rounded as the module compares against it.
float percentOf(float fNominal, float fPercent);

// Reads the line's settings from the configuration file over `settings`.
// False when the file cannot be opened: `settings` then stay as they were.
bool readLineSettings(const char* pszFile, LineSettings& settings);
