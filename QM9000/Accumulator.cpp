#include "Accumulator.h"

#include <cstdio>
#include <cstring>

CAccumulator::CAccumulator()
    : m_AccumData{},
      m_bEnable(false),
      m_ulAccumInterval(300),
      m_ttEndInterval(0),
      m_bOn(false),
      m_unAccumIndex(0),
      m_pszAccumName{},
      m_Sums{} {}

bool CAccumulator::initialize() {
    m_bOn = false;
    m_unAccumIndex = 0;
    clearAccum(0, false);
    clearAccum(1, false);
    return true;
}

void CAccumulator::updateConfig(bool bEnable, uint32_t ulInterval) {
    m_bEnable = bEnable;
    m_ulAccumInterval = ulInterval * 60;
}

bool CAccumulator::start() {
    initialize();
    // An interval of zero length has no boundaries to align to; stay off.
    if (!m_bEnable || m_ulAccumInterval == 0) return true;
    time_t ttEnd = time(nullptr) + m_ulAccumInterval;
    ttEnd -= ttEnd % m_ulAccumInterval;
    getWorkingInterval()->m_ttStartTime = ttEnd;
    m_ttEndInterval = ttEnd + m_ulAccumInterval;
    m_bOn = true;
    return true;
}

bool CAccumulator::stop() {
    m_bOn = false;
    return true;
}

void CAccumulator::process() {
    if (m_bOn && time(nullptr) > m_ttEndInterval) switchInterval();
}

bool CAccumulator::switchInterval() {
    ACCUMULATOR_DATA* pWorking = getWorkingInterval();
    printf("ACCUM/DEMAND COUNT: %d/%d\r\n", pWorking->m_9000AccumCount, pWorking->m_9000DemandCount);
    pWorking->m_ttStartTime += m_ulAccumInterval;  // the completed record carries its end time
    m_unAccumIndex ^= 1;
    clearAccum(m_unAccumIndex, true);
    getWorkingInterval()->m_ttStartTime = m_ttEndInterval;
    m_ttEndInterval += m_ulAccumInterval;
    return false;
}

void CAccumulator::clearAccum(uint16_t nIndex, bool bCarryOver) {
    ACCUMULATOR_DATA& record = m_AccumData[nIndex & 1];
    record.m_9000AccumCount = 0;
    record.m_9000DemandCount = 0;
    memset(record.m_fDemandMax, 0, sizeof(record.m_fDemandMax));
    memset(record.m_fDemandAvg, 0, sizeof(record.m_fDemandAvg));
    memset(record.m_fEnergyAccum, 0, sizeof(record.m_fEnergyAccum));
    INTERVAL_SUMS& sums = m_Sums[nIndex & 1];
    memset(sums.dEnergyAccum, 0, sizeof(sums.dEnergyAccum));
    memset(sums.dDemandAvg, 0, sizeof(sums.dDemandAvg));
    sums.ulDemandUpdates = 0;
    if (bCarryOver) {
        memcpy(record.m_fEnergyTotal, m_AccumData[(nIndex & 1) ^ 1].m_fEnergyTotal,
               sizeof(record.m_fEnergyTotal));
        memcpy(sums.dEnergyTotal, m_Sums[(nIndex & 1) ^ 1].dEnergyTotal, sizeof(sums.dEnergyTotal));
    } else {
        memset(record.m_fEnergyTotal, 0, sizeof(record.m_fEnergyTotal));
        memset(sums.dEnergyTotal, 0, sizeof(sums.dEnergyTotal));
    }
}

void CAccumulator::addEnergy(const float* pfEnergy, const bool* pbRead) {
    ACCUMULATOR_DATA& record = m_AccumData[m_unAccumIndex];
    INTERVAL_SUMS& sums = m_Sums[m_unAccumIndex];
    if (record.m_9000AccumCount < UINT16_MAX) record.m_9000AccumCount++;
    for (int k = 0; k < accum_ENERGY_NUM_REGS; k++) {
        if (!pbRead[k]) continue;
        sums.dEnergyAccum[k] += pfEnergy[k];
        sums.dEnergyTotal[k] += pfEnergy[k];
        record.m_fEnergyAccum[k] = static_cast<float>(sums.dEnergyAccum[k]);
        record.m_fEnergyTotal[k] = static_cast<float>(sums.dEnergyTotal[k]);
    }
}

void CAccumulator::addDemand(const float* pfPower, const bool* pbRead) {
    ACCUMULATOR_DATA& record = m_AccumData[m_unAccumIndex];
    INTERVAL_SUMS& sums = m_Sums[m_unAccumIndex];
    const double n = ++sums.ulDemandUpdates;
    record.m_9000DemandCount =
        static_cast<uint16_t>(sums.ulDemandUpdates < UINT16_MAX ? sums.ulDemandUpdates : UINT16_MAX);
    for (int j = 0; j < accum_NUM_REGS; j++) {
        if (!pbRead[j]) continue;
        sums.dDemandAvg[j] = (sums.dDemandAvg[j] * (n - 1) + pfPower[j]) / n;
        record.m_fDemandAvg[j] = static_cast<float>(sums.dDemandAvg[j]);
        if (pfPower[j] > record.m_fDemandMax[j]) record.m_fDemandMax[j] = pfPower[j];
    }
}
