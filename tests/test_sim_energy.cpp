// The simulated chip's energy and power accumulation: the cadence of its
// intervals and status bits, and energy that integrates the signal over
// virtual time as the module reads it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "SimTestBus.h"

namespace {

using namespace simtest;
using sim::Phase;

constexpr double kPi = 3.14159265358979323846;

uint16_t energyHi(int phase, int quantity) {
    return static_cast<uint16_t>(reg::AWATTHR_HI + phase * reg::kEnergyPhaseStride +
                                 quantity * reg::kEnergyQuantityStride);
}

uint16_t powerAcc(int phase, int quantity) {
    return static_cast<uint16_t>(reg::AWATT_ACC + phase * reg::kEnergyPhaseStride +
                                 quantity * reg::kEnergyQuantityStride);
}

// Watts, VAR and VA of a sinusoidal phase, in the chip's quantity order:
// watt, VAR, VA, fundamental watt, VAR, VA.
std::array<double, 6> powersOf(double volts, double amps, double lagDegrees) {
    const double p = volts * amps * std::cos(lagDegrees * kPi / 180);
    const double q = volts * amps * std::sin(lagDegrees * kPi / 180);
    return {p, q, volts * amps, p, q, volts * amps};
}

class EnergySuite : public SimSuite {
protected:
    // Moves the clock to `micros` after the chip started.
    void advanceTo(uint64_t micros) {
        const uint64_t target = m_runAt + micros;
        if (target > sim::nowMicros()) sim::advance(target - sim::nowMicros());
    }
    void start(bool sixty = false) {
        startChipLikeTheModule(sixty);
        m_runAt = sim::nowMicros() - 13;  // RUN was written in the last 16-bit frame (12.8 us)
    }
    uint64_t m_runAt = 0;
    ModuleScale m_scale{500, 10};
};

using EnergyIntervals = EnergySuite;

TEST_F(EnergyIntervals, EveryEightThousandSamplesStatus0Bit0FlagsTheLastIntervalsEnergy) {
    sim::setPhase(Phase::B, {230, 12, 30, {}, {}});
    sim::setPhase(Phase::C, {225, 2, -45, {}, {}});
    start();
    advanceTo(999900);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kEnergyReady, 0u);
    EXPECT_EQ(read32(reg::AWATTHR_HI), 0u);
    advanceTo(1000100);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kEnergyReady, kEnergyReady);
    const std::array<std::array<double, 6>, 3> watts = {powersOf(230, 5, 36.87), powersOf(230, 12, 30),
                                                        powersOf(225, 2, -45)};
    for (int interval = 1; interval <= 3; ++interval) {
        SCOPED_TRACE(interval);
        write32(reg::STATUS0, kEnergyReady);
        for (int p = 0; p < 3; ++p)
            for (int q = 0; q < 6; ++q) {
                // One second of each quantity, in watt-hours.
                const double truth = watts[p][q] / 3600;
                EXPECT_NEAR(m_scale.toWattHours(read32(energyHi(p, q))), truth, 1e-4 * std::fabs(truth))
                    << "phase " << p << " quantity " << q;
            }
        advanceTo(interval * 1000000 + 999000);
        EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kEnergyReady, 0u);
        advanceTo((interval + 1) * 1000000 + 100);
        EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kEnergyReady, kEnergyReady);
    }
}

TEST_F(EnergyIntervals, LowBitsOfTheSumStandInTheLowRegister) {
    start();
    advanceTo(1000100);
    // HI holds the sum of the power codes shifted right by 13; LO the 13 bits below, left-aligned.
    const uint32_t lo = read32(reg::AWATTHR_LO);
    EXPECT_EQ(lo & 0x7FFFF, 0u);
    const double sum = (static_cast<double>(read32(reg::AWATTHR_HI)) * 8192 + (lo >> 19)) / 8000;
    EXPECT_NEAR(sum, static_cast<int32_t>(read32(reg::AWATT)), 1);
}

TEST_F(EnergyIntervals, AccumulatingModeSumsAnHourAdvancedInOneStep) {
    sim::setPhase(Phase::A, {100, 1, 0, {}, {}});
    start();
    write16(reg::EP_CFG, 0x0001);  // energy registers accumulate instead of holding one interval
    advanceTo(3600ull * 1000000 + 500);
    EXPECT_NEAR(m_scale.toWattHours(read32(reg::AWATTHR_HI)), 100.0, 0.1);
}

TEST_F(EnergyIntervals, ChangesInsideAnIntervalCountForTheTimeTheyStood) {
    sim::setPhase(Phase::A, {200, 5, 0, {}, {}});
    start();
    advanceTo(1250000);
    sim::setPhaseAmps(Phase::A, 10);  // a quarter of the interval at 1 kW, the rest at 2 kW
    advanceTo(1600000);
    write32(reg::AIGAIN, static_cast<uint32_t>(std::lround(-0.5 * 134217728)));  // and back to 1 kW for 0.4 s
    advanceTo(2000100);
    const double truth = (0.25 * 1000 + 0.35 * 2000 + 0.4 * 1000) / 3600;
    EXPECT_NEAR(m_scale.toWattHours(read32(reg::AWATTHR_HI)), truth, truth * 1e-4);
}

TEST_F(EnergyIntervals, LengthFollowsEgyTimeAndNothingIsFlaggedWhileAccumulationIsOff) {
    start();
    write16(reg::EGY_TIME, 3999);  // from the next interval on: half a second
    advanceTo(1000100);
    write32(reg::STATUS0, 0xFFFFFFFF);
    advanceTo(1499000);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kEnergyReady, 0u);
    advanceTo(1500100);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kEnergyReady, kEnergyReady);
    EXPECT_NEAR(m_scale.toWattHours(read32(reg::AWATTHR_HI)), 920.0 / 7200, 920.0 / 7200 * 1e-4);

    write16(reg::EP_CFG, 0x0000);
    write32(reg::STATUS0, 0xFFFFFFFF);
    const uint32_t held = read32(reg::AWATTHR_HI);
    sim::setPhaseAmps(Phase::A, 1);
    advanceTo(3000100);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0), 0u);
    EXPECT_EQ(read32(reg::AWATTHR_HI), held);
}

TEST_F(EnergyIntervals, StoppingTheChipStopsTheIntervalsAndStartingBeginsAFreshOne) {
    start();
    advanceTo(500000);
    write16(reg::RUN, 0);
    write32(reg::STATUS0, 0xFFFFFFFF);
    sim::advanceMillis(2000);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0), 0u);
    write16(reg::RUN, 1);
    const uint64_t restarted = sim::nowMicros();
    sim::advance(restarted + 999000 - sim::nowMicros());
    EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kEnergyReady, 0u);
    sim::advance(2000);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kEnergyReady, kEnergyReady);
    EXPECT_NEAR(m_scale.toWattHours(read32(reg::AWATTHR_HI)), 920.0 / 3600, 920.0 / 3600 * 1e-4);
}

using PowerAccumulation = EnergySuite;

TEST_F(PowerAccumulation, EveryPwrTimeStatus0Bit18FlagsTheIntervalsAveragePower) {
    sim::setPhase(Phase::C, {230, 8, 60, {}, {}});
    start();
    advanceTo(999900);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kPowerReady, 0u);
    advanceTo(1000100);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kPowerReady, kPowerReady);
    const std::array<std::array<double, 6>, 3> watts = {powersOf(230, 5, 36.87), powersOf(230, 5, 36.87),
                                                        powersOf(230, 8, 60)};
    for (int p = 0; p < 3; ++p)
        for (int q = 0; q < 6; ++q)
            EXPECT_NEAR(m_scale.toWatts(read32(powerAcc(p, q))), watts[p][q],
                        1e-4 * std::fabs(watts[p][q]) + 0.001)
                << "phase " << p << " quantity " << q;

    // A change half-way shows as the average of the interval.
    write32(reg::STATUS0, kPowerReady);
    write16(reg::PWR_TIME, 3999);
    advanceTo(1500000);
    sim::setPhaseAmps(Phase::A, 10);
    advanceTo(2000100);
    EXPECT_NEAR(m_scale.toWatts(read32(reg::AWATT_ACC)), 1380.0, 1.380);  // 920 W then 1840 W
    advanceTo(2500100);                                                   // PWR_TIME 3999: half a second
    EXPECT_NEAR(m_scale.toWatts(read32(reg::AWATT_ACC)), 1840.0, 1.840);
}

// Real-time mode: intervals and pages complete on the board's interrupt
// thread while this thread reads the chip and changes the signal. Bounded by
// a deadline, not timed.
using RealTime = SimSuite;

TEST_F(RealTime, IntervalsAndPagesCompleteOnTheInterruptThreadBesideTheBus) {
    startChipLikeTheModule();
    write16(reg::RUN, 0);
    write16(reg::EGY_TIME, 79);  // 10 ms intervals
    write16(reg::PWR_TIME, 79);
    write16(reg::RUN, 1);
    sim::setClockMode(sim::ClockMode::RealTime);
    const uint32_t wanted = kEnergyReady | kPowerReady | kPageFull;
    uint32_t seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int i = 0; (seen & wanted) != wanted && std::chrono::steady_clock::now() < deadline; ++i) {
        seen |= read32(reg::STATUS0);
        burstValues();
        sim::setPhaseAmps(Phase::A, 4 + i % 3);
    }
    sim::setClockMode(sim::ClockMode::Virtual);
    EXPECT_EQ(seen & wanted, wanted);
    EXPECT_GT(readSigned(reg::AWATTHR_HI), 0);
}

}  // namespace
