// Measurement configuration: the settings of the host's configuration file
// (one { "name", "value" } element per line), written straight into the
// module object together with the values derived from them.
#pragma once

#include <cstdint>

#include "JSONFile.h"

class QM9000;

class Cfg9000 : public JSONFile {
public:
    int initialize(void* pPMU) override;
    // Starts from the defaults, applies the file's settings, then derives the
    // corrected voltage full scale, the limit thresholds and the limit mask.
    void load(const char* pszFName) override;
    void dumpAddress(uint16_t unAddress, uint16_t unSizeInBits);

    QM9000* m_pPMU = nullptr;

private:
    void setDefaults();
};
