#include "FrequencyChain.h"

#include <algorithm>

namespace pq {

void FrequencyChain::add(const HalfCycleRecord& record, bool bFlagged) {
    if (!m_start.running(record.llTimeMicros)) return;
    const int64_t llIndex = tickIndex(record.llTimeMicros, TEN_SECONDS_MICROS);
    if (m_bOpen && llIndex != m_llIndex) close(true);
    if (!m_bOpen) {
        m_bOpen = true;
        m_llIndex = llIndex;
    }
    m_value.bFlagged = m_value.bFlagged || bFlagged;
    const double dHz = record.dHz;
    if (!(dHz > m_dNominalHz / 2 && dHz < m_dNominalHz * 1.5)) return;
    Stat& hz = m_value.hz;
    hz.dMin = m_value.ulHalfCycles == 0 ? dHz : std::min(hz.dMin, dHz);
    hz.dMax = m_value.ulHalfCycles == 0 ? dHz : std::max(hz.dMax, dHz);
    m_value.ulHalfCycles++;
    m_dPeriods += 1.0 / dHz;
}

void FrequencyChain::close(bool bComplete) {
    if (m_value.ulHalfCycles > 0) {
        m_value.llStartMicros = m_llIndex * TEN_SECONDS_MICROS;
        m_value.llEndMicros = m_value.llStartMicros + TEN_SECONDS_MICROS;
        m_value.hz.dMean = m_value.ulHalfCycles / m_dPeriods;
        m_value.bComplete = bComplete;
        m_sink.frequency(m_value);
    }
    m_value = FrequencyValue();
    m_dPeriods = 0;
    m_bOpen = false;
}

void FrequencyChain::interrupt() {
    if (m_bOpen) close(false);
    m_start.restart();
}

}  // namespace pq
