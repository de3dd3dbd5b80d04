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

    // One energy update of the per-phase quantities (pbRead false: not read
    // this time) into the working record's interval and running sums.
    void addEnergy(const float* pfEnergy, const bool* pbRead);
    // One power update of the per-phase quantities into the working record's
    // average and peak demand.
    void addDemand(const float* pfPower, const bool* pbRead);

    ACCUMULATOR_DATA m_AccumData[2];
    bool m_bEnable;
    uint32_t m_ulAccumInterval;  // seconds
    time_t m_ttEndInterval;
    bool m_bOn;
    uint16_t m_unAccumIndex;
    char m_pszAccumName[24][32];

private:
    // The sums behind each record, in double precision: one-second increments
    // added into a float drift by a percent within weeks and stop counting
    // near 4,194,304. The record's float fields are these sums rounded, and
    // its 16-bit counts saturate while the true count of power updates (the
    // divisor of the average) goes on.
    struct INTERVAL_SUMS {
        double dEnergyAccum[accum_ENERGY_NUM_REGS];
        double dEnergyTotal[accum_ENERGY_NUM_REGS];
        double dDemandAvg[accum_NUM_REGS];
        uint32_t ulDemandUpdates;
    };
    INTERVAL_SUMS m_Sums[2];
};
