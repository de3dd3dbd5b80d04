#include "PowerQualityAnalyzer.h"

#include <cmath>

namespace pq {

namespace {

constexpr double MOST_HALF_CYCLES_BETWEEN = 3.0;

bool measurable(const HalfCycleRecord& record) {
    if (!std::isfinite(record.dHz)) return false;
    for (int p = 0; p < PHASES; p++) {
        for (const PhaseValues* pValues : {&record.volts, &record.amps, &record.voltThdPercent})
            if (!((*pValues)[p] >= 0) || !std::isfinite((*pValues)[p])) return false;
        for (const PhaseValues* pValues : {&record.voltDegrees, &record.watts, &record.vars})
            if (!std::isfinite((*pValues)[p])) return false;
    }
    return true;
}

}  // namespace

Analyzer::Analyzer(const Config& config, Sink& sink)
    : m_check(checkConfig(config)),
      m_sink(sink),
      m_events(m_check.applied, sink),
      m_rvc(m_check.applied, sink),
      m_chains(m_check.applied, sink),
      m_frequency(m_check.applied.nNominalHz, sink) {}

bool Analyzer::follows(const HalfCycleRecord& record) const {
    const double dNominal = config().nNominalHz;
    const double dHz = record.dHz > dNominal / 2 && record.dHz < dNominal * 1.5 ? record.dHz : dNominal;
    const int64_t llSince = record.llTimeMicros - m_llLastMicros;
    return llSince > 0 && llSince <= MOST_HALF_CYCLES_BETWEEN * SECOND_MICROS / (2 * dHz);
}

void Analyzer::add(const HalfCycleRecord& record) {
    if (!measurable(record)) {
        m_ullDropped++;
        return;
    }
    if (m_bHaveLast && !follows(record)) {
        m_sink.discontinuity(m_llLastMicros, record.llTimeMicros);
        interrupt();
    }
    m_bHaveLast = true;
    m_llLastMicros = record.llTimeMicros;
    const bool bInEvent = m_events.add(record);
    m_rvc.add(record, bInEvent);
    m_chains.add(record, bInEvent);
    m_frequency.add(record, bInEvent);
}

void Analyzer::interrupt() {
    m_events.interrupt();
    m_rvc.interrupt();
    m_chains.interrupt();
    m_frequency.interrupt();
}

void Analyzer::finish() {
    m_events.interrupt();
    m_rvc.interrupt();
    m_chains.finish();
    m_frequency.interrupt();
    m_bHaveLast = false;
}

}  // namespace pq
