#include "CycleBlock.h"

#include <cmath>

#include "SequenceComponents.h"

namespace pq {

namespace {

constexpr double RADIANS_PER_DEGREE = 3.14159265358979323846 / 180.0;

}  // namespace

void CycleBlock::add(const HalfCycleRecord& record, bool bFlagged) {
    std::array<double, pq_COUNT> values{};
    Phasors voltages;  // each angle's sine and cosine taken once: the costliest part of a record
    for (int p = 0; p < PHASES; p++) {
        values[pq_VOLTS_A + p] = record.volts[p];
        values[pq_AMPS_A + p] = record.amps[p];
        values[pq_THD_A + p] = record.voltThdPercent[p];
        values[pq_WATTS_A + p] = record.watts[p];
        values[pq_VARS_A + p] = record.vars[p];
        const std::complex<double> unit = std::polar(1.0, record.voltDegrees[p] * RADIANS_PER_DEGREE);
        m_angleSums[p] += unit;
        voltages[p] = record.volts[p] * unit;
    }
    if (m_bUnbalance) {
        const UnbalanceRatios ratios = unbalanceRatios(voltages);
        values[pq_U2] = ratios.dU2Percent;
        values[pq_U0] = ratios.dU0Percent;
    }
    if (records() == 0) m_llFirstMicros = record.llTimeMicros;
    m_llLastMicros = record.llTimeMicros;
    m_stats.addValues(values, bFlagged);
}

Interval CycleBlock::close() {
    Interval block;
    block.kind = IntervalKind::cycles10;
    block.llStartMicros = m_llFirstMicros;
    block.llEndMicros = m_llLastMicros;
    block.ulParts = records();
    block.bFlagged = m_stats.flagged();
    block.stats = m_stats.stats();
    if (m_bUnbalance) {
        PhaseValues volts, degrees;
        for (int p = 0; p < PHASES; p++) {
            volts[p] = block.stats[pq_VOLTS_A + p].dMean;
            degrees[p] = std::arg(m_angleSums[p]) / RADIANS_PER_DEGREE;
        }
        const UnbalanceRatios ratios = unbalanceRatios(volts, degrees);
        block.stats[pq_U2].dMean = ratios.dU2Percent;
        block.stats[pq_U0].dMean = ratios.dU0Percent;
    }
    clear();
    return block;
}

void CycleBlock::clear() {
    m_stats.clear();
    for (auto& sum : m_angleSums) sum = 0;
}

}  // namespace pq
