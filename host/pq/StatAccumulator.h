// Min, mean and max of every quantity over the parts of an interval: the
// half-cycles of a 10/12-cycle value, the 10/12-cycle values of the longer
// ones. Every part weighs the same, as the aggregation intervals define it.
#pragma once

#include <cstdint>

#include "PqResults.h"

namespace pq {

class StatAccumulator {
public:
    void add(const std::array<Stat, pq_COUNT>& part, bool bFlagged);
    // The half-cycle values of one record: each its own min, mean and max.
    void addValues(const std::array<double, pq_COUNT>& values, bool bFlagged);
    std::array<Stat, pq_COUNT> stats() const;
    uint32_t parts() const { return m_ulParts; }
    bool flagged() const { return m_bFlagged; }
    void clear() { *this = StatAccumulator(); }

private:
    std::array<double, pq_COUNT> m_sums{};  // of squares for the quadratic means
    std::array<Stat, pq_COUNT> m_extremes{};
    uint32_t m_ulParts = 0;
    bool m_bFlagged = false;
};

}  // namespace pq
