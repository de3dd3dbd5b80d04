// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Energy and demand: the chip's energy and power-accumulation registers folded
// into the accumulator's working interval.
#include <initializer_list>
#include <mutex>

#include "AccumulatorTables.h"
#include "QM9000.h"
#include "Tables9000.h"

void QM9000::processEnergy() {
    // The chip first, then the interval under its lock: readers never wait on the bus.
    float fEnergy[accum_ENERGY_NUM_REGS] = {};
    bool bRead[accum_ENERGY_NUM_REGS] = {};
    for (int k = 0; k < accum_ENERGY_NUM_REGS; k++) {
        const ENERGY_READ_DESCRIPTION& desc = g_engDesc[k];
        if (desc.unAddressHi == ENERGY_ADDRESS_NONE) continue;
        uint32_t ulLow = 0, ulHigh = 0;
        m_ADE9000.readReg(desc.unAddressLo, ulLow);  // read in pairs, as the chip latches them
        m_ADE9000.readReg(desc.unAddressHi, ulHigh);
        fEnergy[k] = static_cast<float>(static_cast<int32_t>(ulHigh)) * m_fEnergy_LSB;
        bRead[k] = true;
    }

    std::lock_guard<std::mutex> lock(m_mutexIntervals);
    m_Accumulator.addEnergy(fEnergy, bRead);
    ACCUMULATOR_DATA* pWorking = m_Accumulator.getWorkingInterval();
    if (m_unWiring >= WIRING_CODES) return;
    const TOTAL_CALC_TABLE* pTotals = &s_ptceTotalsByWiring[m_unWiring];
    for (float* pfValues : {pWorking->m_fEnergyAccum, pWorking->m_fEnergyTotal}) {
        processValuesTotals(pTotals, TOTAL_TABLE_ENERGY, pfValues);
        if (m_unWiring == 4 || m_unWiring == 5)
            applyVectorTotals(pfValues, accum_TOT_WATTHR, accum_TOT_VARHR, accum_TOT_VAHR, accum_TOT_FWATTHR,
                              accum_TOT_FVARHR, accum_TOT_FVAHR);
    }
}

void QM9000::processDemand() {
    float fPower[accum_NUM_REGS] = {};
    bool bRead[accum_NUM_REGS] = {};
    for (int k = accum_POWER_MAX; k < ENERGY_DESC_ROWS; k++) {
        const ENERGY_READ_DESCRIPTION& desc = g_engDesc[k];
        if (desc.unAddressHi != ENERGY_ADDRESS_NONE || desc.unAddressLo == ENERGY_ADDRESS_NONE) continue;
        const int j = k - accum_POWER_MAX;
        uint32_t ulValue = 0;
        m_ADE9000.readReg(desc.unAddressLo, ulValue);
        fPower[j] = static_cast<float>(static_cast<int32_t>(ulValue)) * m_fPMAX_LSB;
        bRead[j] = true;
    }

    m_pStat->s_unSignalValidFlags = m_pStat->s_unSignalValidFlags & ~SIGNAL_DEMAND_OVER_LIMIT;
    std::lock_guard<std::mutex> lock(m_mutexIntervals);
    m_Accumulator.addDemand(fPower, bRead);
    ACCUMULATOR_DATA* pWorking = m_Accumulator.getWorkingInterval();
    if (m_unWiring >= WIRING_CODES) return;
    const TOTAL_CALC_TABLE* pTotals = &s_ptceTotalsByWiring[m_unWiring];
    for (float* pfValues : {pWorking->m_fDemandMax, pWorking->m_fDemandAvg}) {
        processValuesTotals(pTotals, TOTAL_TABLE_DEMAND, pfValues);
        if (m_unWiring == 4 || m_unWiring == 5)
            applyVectorTotals(pfValues, accum_TOT_WATT_ACC, accum_TOT_VAR_ACC, accum_TOT_VA_ACC,
                              accum_TOT_FWATT_ACC, accum_TOT_FVAR_ACC, accum_TOT_FVA_ACC);
    }
    if (m_fDemandLimit > 0.0f && m_fDemandLimit < pWorking->m_fDemandMax[accum_TOT_WATT_ACC])
        m_pStat->s_unSignalValidFlags = m_pStat->s_unSignalValidFlags | SIGNAL_DEMAND_OVER_LIMIT;
}

// A consistent copy of the working interval for readers on other threads.
ACCUMULATOR_DATA QM9000::workingIntervalSnapshot() {
    std::lock_guard<std::mutex> lock(m_mutexIntervals);
    return *m_Accumulator.getWorkingInterval();
}
