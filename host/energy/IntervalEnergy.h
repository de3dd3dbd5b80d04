// The energy the module's intervals gained, split into import and export.
//
// The module sums the chip's signed energy readings (export negative) into
// the running interval's m_fEnergyAccum, from zero at monitorStart and at
// each new interval; the completed interval keeps its final sums, stamped
// with its end. Each look at the running interval counts what its sums moved
// since the last look: a rise is import, a fall export, so a flow that turns
// within an interval is split at the resolution of the looks. When an interval
// completes, its final sums count the rest of it and the next one starts from
// nothing: nothing is counted twice. Its own sums are used, not the running
// totals (m_fEnergyTotal), which are floats of everything since the start and
// lose watt-hours within months. A running interval whose apparent energy
// falls was started over without completing: it is counted from nothing.
#pragma once

#include <array>
#include <ctime>

#include "AccumulatorTables.h"
#include "LifetimeEnergy.h"

class IntervalEnergy {
public:
    // True for a completed interval not yet seen (the module's first, all
    // zeros at time 0, is none).
    bool isNew(const ACCUMULATOR_DATA& completed) const { return completed.m_ttStartTime != m_ttLastEnd; }
    // The part of a new completed interval not yet counted; the running
    // interval starts from nothing.
    void completed(const ACCUMULATOR_DATA& interval);
    // The running interval's sums so far (m_fEnergyAccum, request 5's first
    // accum_ENERGY_MAX floats).
    void running(const float* pfEnergy);
    // Watt-hours and var-hours counted since this run began: never less than before.
    const std::array<double, life_MAX>& gained() const { return m_gained; }

private:
    void count(const float* pfEnergy);

    time_t m_ttLastEnd = 0;
    std::array<double, accum_ENERGY_MAX> m_counted{};  // the running interval's sums at the last look
    std::array<double, life_MAX> m_gained{};
};
