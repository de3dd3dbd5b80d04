// Register initialization file ("Init9000.json", in the working directory):
// raw register writes applied to the chip at configuration time, after the
// module's own set-up and the calibration constants, so that chip settings can
// be changed in the field. One write per line: "address", "value" and "bits"
// (0x10 or 0x20), each a hexadecimal number with a "0x" prefix.
#pragma once

#include <cstdint>

#include "JSONFile.h"

class ADE_9000;
class QM9000;

class Init9000 : public JSONFile {
public:
    int initialize(void* pPMU) override;
    // Applies the file's writes in file order; each one prints the request and
    // the register as read back.
    void load(const char* pszFName) override;
    void dumpAddress(uint16_t unAddress, uint16_t unSizeInBits);

    QM9000* m_pPMU = nullptr;
};

// Prints "0x<address> = 0x" and the register as read back (read twice, the
// second reading shown) with 4 or 8 digits by width; other widths print no value.
void dumpChipRegister(ADE_9000& chip, uint16_t unAddress, uint16_t unSizeInBits);
