// One module object for the loader targets, bound to a zeroed host block and
// to the simulated board, built once per process and kept until it ends.
#pragma once

#include <cstdlib>

#include "BoardIO.h"
#include "QM9000.h"
#include "RPi.h"
#include "Sim.h"

namespace fuzz {

struct ModuleUnderTest {
    STATUS_AND_CONTROL* pBlock;
    QM9000* pModule;

    ModuleUnderTest() {
        sim::reset();
        pBlock = static_cast<STATUS_AND_CONTROL*>(calloc(1, sizeof(STATUS_AND_CONTROL)));
        if (!pBlock) abort();
        pModule = new QM9000;
        pModule->m_pStat = pBlock;
        pModule->m_Cfg9000.initialize(pModule);
        pModule->m_Cal9000.initialize(pModule);
        pModule->m_jsonInit.initialize(pModule);
    }
    // A fresh chip for each input, so the board's logs do not grow without end.
    void resetBoard() {
        sim::reset();
        wiringPiSPISetup(0, 2500000);
    }
};

inline ModuleUnderTest& moduleUnderTest() {
    static ModuleUnderTest* pUnit = new ModuleUnderTest;
    return *pUnit;
}

}  // namespace fuzz
