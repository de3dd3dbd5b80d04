// The 10/12-cycle value: the half-cycle records of 10 cycles (50 Hz) or 12
// (60 Hz) gathered into one value. The RMS quantities are the square root of
// the mean of their squared one-cycle values; the unbalance is that of the
// block's phasors: its RMS voltages at the mean angle of each phase.
#pragma once

#include <complex>

#include "HalfCycleRecord.h"
#include "StatAccumulator.h"

namespace pq {

class CycleBlock {
public:
    explicit CycleBlock(bool bUnbalance) : m_bUnbalance(bUnbalance) {}
    void add(const HalfCycleRecord& record, bool bFlagged);
    uint32_t records() const { return m_stats.parts(); }
    // The value of the records added, which are then forgotten.
    Interval close();
    void clear();

private:
    bool m_bUnbalance;  // all three phases measured
    StatAccumulator m_stats;
    std::complex<double> m_angleSums[PHASES];  // unit phasors: their sum points at the mean angle
    int64_t m_llFirstMicros = 0, m_llLastMicros = 0;
};

}  // namespace pq
