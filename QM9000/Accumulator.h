// Energy and demand gathered per wall-clock-aligned interval: a working record
// and the last completed one, switched when the interval ends.
#pragma once

#include <cstdint>
#include <ctime>

#include "AccumulatorTables.h"

class CAccumulator {
public:
    CAccumulator();

    bool initialize();
    bool isOn() const { return m_bOn; }
    void updateConfig(bool bEnable, uint32_t ulInterval);
    bool start();
    bool stop();
    void process();
    bool switchInterval();
    void clearAccum(uint16_t nIndex, bool bCarryOver);
    ACCUMULATOR_DATA* getWorkingInterval() { return &m_AccumData[m_unAccumIndex]; }
    ACCUMULATOR_DATA* getCompletedInterval() { return &m_AccumData[m_unAccumIndex ^ 1]; }

    ACCUMULATOR_DATA m_AccumData[2];
    bool m_bEnable;
    uint32_t m_ulAccumInterval;  // seconds
    time_t m_ttEndInterval;
    bool m_bOn;
    uint16_t m_unAccumIndex;
    char m_pszAccumName[24][32];
};
