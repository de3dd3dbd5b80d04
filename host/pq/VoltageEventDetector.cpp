#include "VoltageEventDetector.h"

namespace pq {

VoltageEventDetector::VoltageEventDetector(const Config& config, Sink& sink)
    : m_config(config), m_sink(sink) {}

bool VoltageEventDetector::add(const HalfCycleRecord& record) {
    const Config& c = m_config;
    const double dHysteresis = c.voltsAt(c.dHysteresisPercent);
    const double dDip = c.voltsAt(c.dDipPercent), dSwell = c.voltsAt(c.dSwellPercent);
    const double dInterruption = c.voltsAt(c.dInterruptionPercent);
    bool bAnyBelowDip = false, bAllBackFromDip = true, bAnyAboveSwell = false, bAllBackFromSwell = true;
    bool bAllInterrupted = true, bAnyBackFromInterruption = false;
    for (int p = 0; p < PHASES; p++) {
        if (!c.measures(p)) continue;
        const double dVolts = record.volts[p];
        bAnyBelowDip = bAnyBelowDip || dVolts < dDip;
        bAllBackFromDip = bAllBackFromDip && dVolts >= dDip + dHysteresis;
        bAnyAboveSwell = bAnyAboveSwell || dVolts > dSwell;
        bAllBackFromSwell = bAllBackFromSwell && dVolts <= dSwell - dHysteresis;
        bAllInterrupted = bAllInterrupted && dVolts < dInterruption;
        bAnyBackFromInterruption = bAnyBackFromInterruption || dVolts >= dInterruption + dHysteresis;
    }
    const int64_t llNow = record.llTimeMicros;
    m_llLastMicros = llNow;
    track(m_dip, bAnyBelowDip, true, record);
    track(m_swell, bAnyAboveSwell, false, record);
    if (m_dip.bActive) {
        if (!m_bInterrupted && bAllInterrupted) {
            m_bInterrupted = m_bWasInterrupted = true;
            m_llInterruptedSince = llNow;
        } else if (m_bInterrupted && bAnyBackFromInterruption) {
            m_bInterrupted = false;
            m_llInterruptedMicros += llNow - m_llInterruptedSince;
        }
        if (bAllBackFromDip) end(m_dip, EventKind::dip, llNow, false);
    }
    if (m_swell.bActive && bAllBackFromSwell) end(m_swell, EventKind::swell, llNow, false);
    return m_dip.bActive || m_swell.bActive;
}

void VoltageEventDetector::track(Ongoing& ongoing, bool bStarts, bool bLowest,
                                 const HalfCycleRecord& record) {
    if (!ongoing.bActive && bStarts) ongoing = {true, record.llTimeMicros, 0, -1};
    if (!ongoing.bActive) return;
    for (int p = 0; p < PHASES; p++) {
        const double dVolts = record.volts[p];
        if (!m_config.measures(p)) continue;
        if (ongoing.nPhase < 0 ||
            (bLowest ? dVolts < ongoing.dExtremeVolts : dVolts > ongoing.dExtremeVolts)) {
            ongoing.dExtremeVolts = dVolts;
            ongoing.nPhase = p;
        }
    }
}

void VoltageEventDetector::end(Ongoing& ongoing, EventKind kind, int64_t llEndMicros, bool bCutShort) {
    VoltageEvent event;
    event.kind = kind;
    event.llStartMicros = ongoing.llStartMicros;
    event.llDurationMicros = llEndMicros - ongoing.llStartMicros;
    event.dExtremeVolts = ongoing.dExtremeVolts;
    event.nPhase = ongoing.nPhase;
    event.bCutShort = bCutShort;
    if (kind == EventKind::dip) {
        if (m_bInterrupted) m_llInterruptedMicros += llEndMicros - m_llInterruptedSince;
        if (m_bWasInterrupted) event.kind = EventKind::interruption;
        event.llInterruptedMicros = m_llInterruptedMicros;
        m_bInterrupted = m_bWasInterrupted = false;
        m_llInterruptedMicros = 0;
    }
    ongoing = Ongoing();
    m_sink.voltageEvent(event);
}

void VoltageEventDetector::interrupt() {
    if (m_dip.bActive) end(m_dip, EventKind::dip, m_llLastMicros, true);
    if (m_swell.bActive) end(m_swell, EventKind::swell, m_llLastMicros, true);
}

}  // namespace pq
