#include "EnergyMeter.h"

#include <cmath>

#include "ChipRegisters.h"

namespace sim::detail {

namespace {

// Accumulation registers of phase A's watt quantity; each quantity is 0x0A
// further on, each phase 0x3C: _ACC, then _LO, then _HI.
constexpr uint16_t kAccumulationFirst = 0x2E5;
constexpr uint16_t kQuantityStride = 0x0A;
constexpr uint16_t kPhaseStride = 0x3C;
constexpr int kEnergyBits = 45;
constexpr int64_t kEnergyModulus = int64_t{1} << kEnergyBits;

uint16_t accumulationRegister(int phase, int quantity) {
    return static_cast<uint16_t>(kAccumulationFirst + phase * kPhaseStride + quantity * kQuantityStride);
}

// A 45-bit two's complement value, wrapped.
int64_t wrap45(int64_t value) {
    value &= kEnergyModulus - 1;
    return value >= kEnergyModulus / 2 ? value - kEnergyModulus : value;
}

}  // namespace

void EnergyMeter::reset() {
    stop();
    m_energyTotals = {};
}

void EnergyMeter::stop() {
    for (Interval* i : {&m_energy, &m_power})
        if (i->pending != 0) m_clock.cancel(i->pending);
    m_energy = Interval{};
    m_power = Interval{};
    m_running = false;
    ++m_generation;
}

void EnergyMeter::integrateTo(uint64_t nanos) {
    if (!m_running || nanos <= m_integratedNanos) return;
    const double samples = static_cast<double>(nanos - m_integratedNanos) / kNanosPerSample;
    m_integratedNanos = nanos;
    const MeterModel::Readings& readings = m_meter.readings();
    for (int p = 0; p < kPhases; ++p)
        for (int q = 0; q < kEnergyQuantities; ++q) {
            const double added = readings.phases[p].power[q] * samples;
            m_energy.sums[p][q] += added;
            m_power.sums[p][q] += added;
        }
}

void EnergyMeter::update(bool running) {
    if (running == m_running) return;
    stop();
    if (!running) return;
    m_running = true;
    const uint64_t now = m_clock.nowNanos();
    m_integratedNanos = now;
    start(Kind::Energy, now);
    start(Kind::Power, now);
}

void EnergyMeter::start(Kind kind, uint64_t nanos) {
    Interval& i = interval(kind);
    i.startNanos = nanos;
    i.sums = {};
    const uint32_t lengthRegister = m_chip.stored(kind == Kind::Energy ? kRegEgyTime : kRegPwrTime);
    const uint64_t end = nanos + (uint64_t{lengthRegister} + 1) * kNanosPerSample;
    i.pending = m_clock.schedule(
        end, [handler = m_onBoundary, kind, generation = m_generation] { handler(kind, generation); });
}

void EnergyMeter::completeInterval(Kind kind) {
    const uint64_t now = m_clock.nowNanos();
    integrateTo(now);
    Interval& i = interval(kind);
    const bool enabled = (m_chip.stored(kRegEpCfg) & kEpCfgEnable) != 0;
    if (enabled && kind == Kind::Energy) {
        latchEnergy(i.sums);
        m_chip.raiseStatus0(kStatus0EnergyReady);
    } else if (enabled) {
        latchPower(i.sums, static_cast<double>(now - i.startNanos) / kNanosPerSample);
        m_chip.raiseStatus0(kStatus0PowerReady);
    }
    start(kind, now);
}

void EnergyMeter::latchEnergy(const Sums& sums) {
    const bool loadInterval = (m_chip.stored(kRegEpCfg) & kEpCfgLoadInterval) != 0;
    for (int p = 0; p < kPhases; ++p)
        for (int q = 0; q < kEnergyQuantities; ++q) {
            int64_t& total = m_energyTotals[p][q];
            const int64_t interval = std::llround(sums[p][q]);
            total = wrap45(loadInterval ? interval : total + interval);
            const uint16_t acc = accumulationRegister(p, q);
            m_chip.latch(static_cast<uint16_t>(acc + 1), static_cast<uint32_t>(total & 0x1FFF) << 19);
            m_chip.latch(static_cast<uint16_t>(acc + 2), static_cast<uint32_t>(total >> kEnergyFractionBits));
        }
}

void EnergyMeter::latchPower(const Sums& sums, double samples) {
    for (int p = 0; p < kPhases; ++p)
        for (int q = 0; q < kEnergyQuantities; ++q)
            m_chip.latch(accumulationRegister(p, q), signedCode(samples > 0 ? sums[p][q] / samples : 0.0));
}

}  // namespace sim::detail
