#include "StatAccumulator.h"

#include <algorithm>
#include <cmath>

namespace pq {

namespace {

bool quadratic(int nQuantity) {
    return nQuantity < pq_WATTS_A || nQuantity > pq_VARS_C;
}

}  // namespace

void StatAccumulator::add(const std::array<Stat, pq_COUNT>& part, bool bFlagged) {
    for (int q = 0; q < pq_COUNT; q++) {
        const Stat& s = part[q];
        m_sums[q] += quadratic(q) ? s.dMean * s.dMean : s.dMean;
        Stat& e = m_extremes[q];
        e.dMin = m_ulParts == 0 ? s.dMin : std::min(e.dMin, s.dMin);
        e.dMax = m_ulParts == 0 ? s.dMax : std::max(e.dMax, s.dMax);
    }
    m_ulParts++;
    m_bFlagged = m_bFlagged || bFlagged;
}

void StatAccumulator::addValues(const std::array<double, pq_COUNT>& values, bool bFlagged) {
    std::array<Stat, pq_COUNT> part;
    for (int q = 0; q < pq_COUNT; q++) part[q] = {values[q], values[q], values[q]};
    add(part, bFlagged);
}

std::array<Stat, pq_COUNT> StatAccumulator::stats() const {
    std::array<Stat, pq_COUNT> result = m_extremes;
    if (m_ulParts == 0) return result;
    for (int q = 0; q < pq_COUNT; q++) {
        const double dMean = m_sums[q] / m_ulParts;
        result[q].dMean = quadratic(q) ? std::sqrt(dMean) : dMean;
    }
    return result;
}

}  // namespace pq
