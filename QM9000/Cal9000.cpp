#include "Cal9000.h"

int Cal9000::initialize(void* pPMU) {
    m_pPMU = static_cast<QM9000*>(pPMU);
    return 0;
}

// TEMPORARY: loading, pushing and dumping the calibration file land with the
// JSON configuration files.
void Cal9000::load(const char*) {}

bool Cal9000::pushCal() {
    return true;
}

void Cal9000::readAndDumpCal() {}
