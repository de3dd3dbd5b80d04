// Calibration and register-test modes of the process cycle.
#include <cstdio>

#include "QM9000.h"

int QM9000::processTest() {
    m_ADE9000.writeReg(reg9000::AVGAIN, 0x00012345);
    uint32_t ulValue = 0;
    m_ADE9000.readReg(reg9000::AVGAIN, ulValue);
    printf("Address: 0x%04X, Value: 0x%08X\r\n", reg9000::AVGAIN, ulValue);
    return 0;
}

// TEMPORARY: the calibration command dispatch lands with the calibration
// procedures; until then a calibration-mode call does nothing and succeeds.
int QM9000::processCalibrate() {
    return 0;
}
