#include "AggregationChains.h"

namespace pq {

namespace {

constexpr uint32_t BLOCKS_PER_CYCLES150 = 15;
constexpr uint32_t TEN_MINUTES_PER_TWO_HOURS = 12;

Interval interval(IntervalKind kind, int64_t llStart, int64_t llEnd, const StatAccumulator& parts,
                  bool bComplete) {
    Interval value;
    value.kind = kind;
    value.llStartMicros = llStart;
    value.llEndMicros = llEnd;
    value.ulParts = parts.parts();
    value.bFlagged = parts.flagged();
    value.bComplete = bComplete;
    value.stats = parts.stats();
    return value;
}

}  // namespace

AggregationChains::AggregationChains(const Config& config, Sink& sink)
    : m_sink(sink),
      m_ulRecordsPerBlock(static_cast<uint32_t>(config.halfCyclesPerBlock())),
      m_block(config.measuresAllPhases()) {}

void AggregationChains::add(const HalfCycleRecord& record, bool bFlagged) {
    if (!m_start.running(record.llTimeMicros)) return;
    if (!m_bOpen) {
        m_bOpen = true;
        m_llTenMinuteIndex = tickIndex(record.llTimeMicros, TEN_MINUTES_MICROS);
    }
    m_block.add(record, bFlagged);
    if (m_block.records() == m_ulRecordsPerBlock) addBlock(m_block.close());
}

void AggregationChains::addBlock(const Interval& block) {
    // A block that began past the tick: the one before ended just short of it.
    if (tickIndex(block.llStartMicros, TEN_MINUTES_MICROS) != m_llTenMinuteIndex) {
        closeTenMinutes(true);
        m_llTenMinuteIndex = tickIndex(block.llStartMicros, TEN_MINUTES_MICROS);
    }
    m_sink.aggregate(block);
    if (m_cycles150.parts() == 0) m_llCycles150Start = block.llStartMicros;
    m_llCycles150End = block.llEndMicros;
    m_cycles150.add(block.stats, block.bFlagged);
    if (m_cycles150.parts() == BLOCKS_PER_CYCLES150) closeCycles150();
    m_tenMinutes.add(block.stats, block.bFlagged);
    // The block straddling the tick is the interval's last.
    if (block.llEndMicros >= (m_llTenMinuteIndex + 1) * TEN_MINUTES_MICROS) {
        closeTenMinutes(true);
        m_llTenMinuteIndex++;
    }
}

void AggregationChains::closeCycles150() {
    if (m_cycles150.parts() > 0)
        m_sink.aggregate(
            interval(IntervalKind::cycles150, m_llCycles150Start, m_llCycles150End, m_cycles150, true));
    m_cycles150.clear();
}

void AggregationChains::closeTenMinutes(bool bComplete) {
    closeCycles150();
    if (m_tenMinutes.parts() > 0) {
        const int64_t llStart = m_llTenMinuteIndex * TEN_MINUTES_MICROS;
        const Interval value =
            interval(IntervalKind::minutes10, llStart, llStart + TEN_MINUTES_MICROS, m_tenMinutes, bComplete);
        m_sink.aggregate(value);
        if (bComplete) addToTwoHours(value);
    }
    m_tenMinutes.clear();
}

void AggregationChains::addToTwoHours(const Interval& tenMinutes) {
    const int64_t llIndex = tickIndex(tenMinutes.llStartMicros, TWO_HOURS_MICROS);
    // Another interval, or one it holds already: the clock stepped back.
    if (m_twoHours.parts() > 0 &&
        (llIndex != m_llTwoHourIndex || tenMinutes.llEndMicros <= m_llTwoHourLastEnd))
        closeTwoHours();
    m_llTwoHourIndex = llIndex;
    m_llTwoHourLastEnd = tenMinutes.llEndMicros;
    m_twoHours.add(tenMinutes.stats, tenMinutes.bFlagged);
    if (tenMinutes.llEndMicros == (llIndex + 1) * TWO_HOURS_MICROS) closeTwoHours();
}

void AggregationChains::closeTwoHours() {
    if (m_twoHours.parts() > 0) {
        const int64_t llStart = m_llTwoHourIndex * TWO_HOURS_MICROS;
        m_sink.aggregate(interval(IntervalKind::hours2, llStart, llStart + TWO_HOURS_MICROS, m_twoHours,
                                  m_twoHours.parts() == TEN_MINUTES_PER_TWO_HOURS));
    }
    m_twoHours.clear();
}

void AggregationChains::interrupt() {
    m_block.clear();
    m_cycles150.clear();
    if (m_bOpen) closeTenMinutes(false);
    m_bOpen = false;
    m_start.restart();
}

void AggregationChains::finish() {
    interrupt();
    closeTwoHours();
}

}  // namespace pq
