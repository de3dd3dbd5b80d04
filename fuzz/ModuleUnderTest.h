// One module object for the loader targets, bound to a zeroed host block and
// to the simulated board, built once per process and kept until it ends.
#pragma once

#include <cstdlib>

#include "BoardIO.h"
#include "FuzzInput.h"
#include "QM9000.h"
#include "Sim.h"

namespace fuzz {

struct ModuleUnderTest {
    STATUS_AND_CONTROL* pBlock = static_cast<STATUS_AND_CONTROL*>(calloc(1, sizeof(STATUS_AND_CONTROL)));
    QM9000* pModule = new QM9000;

    ModuleUnderTest() {
        pModule->m_pStat = pBlock;
        pModule->m_Cfg9000.initialize(pModule);
        pModule->m_Cal9000.initialize(pModule);
        pModule->m_jsonInit.initialize(pModule);
    }
};

// The module on a fresh chip for each input, so the board's logs do not grow without end.
inline ModuleUnderTest& moduleUnderTest() {
    setUp();
    sim::reset();
    static ModuleUnderTest* pUnit = new ModuleUnderTest;
    wiringPiSPISetup(0, 2500000);
    return *pUnit;
}

}  // namespace fuzz
