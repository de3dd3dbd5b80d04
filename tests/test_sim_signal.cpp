// The simulated chip measures the line: every measurement register, read over
// the bus and converted with the module's own factors, gives back the signal
// the test applied; scripted changes show in the registers when they happen.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <stdexcept>

#include "SimTestBus.h"

namespace {

using namespace simtest;
using sim::Phase;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTolerance = 1e-3;  // 0.1 %

// The physics of one phase, from the signal alone.
struct Truth {
    double vrms, irms, v1, i1, watts, vars, va, fwatts, fvars, fva, pf, vthd, ithd;
};

double harmonicSquares(double fundamental, const std::vector<sim::Harmonic>& harmonics) {
    double sum = fundamental * fundamental;
    for (const auto& h : harmonics) sum += std::pow(fundamental * h.percent / 100, 2);
    return sum;
}

Truth truthOf(const sim::PhaseSignal& s) {
    Truth t{};
    t.v1 = s.volts;
    t.i1 = s.amps;
    t.vrms = std::sqrt(harmonicSquares(s.volts, s.voltageHarmonics));
    t.irms = std::sqrt(harmonicSquares(s.amps, s.currentHarmonics));
    const double lag = s.currentLagDegrees * kPi / 180;
    t.fwatts = s.volts * s.amps * std::cos(lag);
    t.fvars = s.volts * s.amps * std::sin(lag);
    t.watts = t.fwatts;
    t.vars = t.fvars;
    for (const auto& v : s.voltageHarmonics)
        for (const auto& i : s.currentHarmonics)
            if (v.order == i.order) {
                const double angle = v.order * lag + (v.phaseDegrees - i.phaseDegrees) * kPi / 180;
                const double product = s.volts * v.percent / 100 * s.amps * i.percent / 100;
                t.watts += product * std::cos(angle);
                t.vars += product * std::sin(angle);
            }
    t.va = t.vrms * t.irms;
    t.fva = t.v1 * t.i1;
    t.pf = t.va > 0 ? t.watts / t.va : 0;
    t.vthd = std::sqrt(t.vrms * t.vrms - t.v1 * t.v1) / t.v1;
    t.ithd = std::sqrt(t.irms * t.irms - t.i1 * t.i1) / t.i1;
    return t;
}

// The burst words of one phase as the module converts them (burst positions
// of the chip's measurement block).
struct Converted {
    double vrms, irms, vfrms, ifrms, vrmsOne, irmsOne, vrms1012, irms1012;
    double watts, vars, va, fwatts, fvars, fva, pf, vthdPercent, ithdPercent;
};

Converted convertPhase(const std::vector<uint32_t>& burst, int phase, const ModuleScale& scale) {
    const auto w = [&](int position) { return burst[19 * phase + position]; };
    return {scale.toVolts(w(3)),
            scale.toAmps(w(2)),
            scale.toVolts(w(14)),
            scale.toAmps(w(13)),
            scale.toVolts(w(16)),
            scale.toAmps(w(15)),
            scale.toVolts(w(18)),
            scale.toAmps(w(17)),
            scale.toWatts(w(4)),
            scale.toWatts(w(6)),
            static_cast<float>(w(5)) * scale.pmax,
            scale.toWatts(w(11)),
            scale.toWatts(w(7)),
            static_cast<float>(w(12)) * scale.pmax,
            ModuleScale::toFraction(w(8)),
            ModuleScale::toFraction(w(9)) * 100,
            ModuleScale::toFraction(w(10)) * 100};
}

// Within 0.1 %, or within 0.1 % of `scale` for values that should be near 0.
void expectNear(double measured, double truth, double scale, const char* what) {
    EXPECT_NEAR(measured, truth, kTolerance * std::max(std::fabs(truth), scale)) << what;
}

void expectPhaseReads(const std::vector<uint32_t>& burst, int phase, const ModuleScale& scale,
                      const Truth& t) {
    SCOPED_TRACE("phase " + std::to_string(phase));
    const Converted c = convertPhase(burst, phase, scale);
    for (const auto& [measured, truth, what] :
         std::vector<std::tuple<double, double, const char*>>{{c.vrms, t.vrms, "VRMS"},
                                                              {c.vfrms, t.v1, "VFRMS"},
                                                              {c.vrmsOne, t.vrms, "VRMSONE"},
                                                              {c.vrms1012, t.vrms, "VRMS1012"},
                                                              {c.irms, t.irms, "IRMS"},
                                                              {c.ifrms, t.i1, "IFRMS"},
                                                              {c.irmsOne, t.irms, "IRMSONE"},
                                                              {c.irms1012, t.irms, "IRMS1012"}})
        expectNear(measured, truth, 0, what);
    for (const auto& [measured, truth, what] :
         std::vector<std::tuple<double, double, const char*>>{{c.watts, t.watts, "WATT"},
                                                              {c.vars, t.vars, "VAR"},
                                                              {c.va, t.va, "VA"},
                                                              {c.fwatts, t.fwatts, "FWATT"},
                                                              {c.fvars, t.fvars, "FVAR"},
                                                              {c.fva, t.fva, "FVA"}})
        expectNear(measured, truth, t.va, what);
    expectNear(c.pf, t.pf, 1, "PF");
    expectNear(c.vthdPercent, t.vthd * 100, 1, "VTHD");
    expectNear(c.ithdPercent, t.ithd * 100, 1, "ITHD");
}

using Readings = SimSuite;

TEST_F(Readings, EachQuantityConvertsBackToTheAppliedSignal) {
    const struct {
        const char* name;
        float fsv, fsa;
        double hertz;
        std::array<sim::PhaseSignal, 3> phases;
    } cases[] = {
        {"power-on default", 500, 10, 50, {sim::PhaseSignal{}, sim::PhaseSignal{}, sim::PhaseSignal{}}},
        {"phase B 230 V, 12 A lagging 30 degrees, 5 % third harmonic",
         500,
         20,
         50,
         {sim::PhaseSignal{}, sim::PhaseSignal{230, 12, 30, {}, {{3, 5}}}, sim::PhaseSignal{}}},
        {"leading and reversed currents, harmonics in both",
         500,
         10,
         50,
         {sim::PhaseSignal{240, 3, -20, {{3, 4, 10}}, {{3, 10, 30}}}, sim::PhaseSignal{220, 7, 180, {}, {}},
          sim::PhaseSignal{230, 0.5, 90, {{5, 2}}, {{7, 3}}}}},
        {"120 V 60 Hz system on the module's default full scale",
         1077.11f,
         100,
         60,
         {sim::PhaseSignal{120, 40, 10, {}, {}}, sim::PhaseSignal{118, 55, 25, {}, {}},
          sim::PhaseSignal{121, 12, 0, {}, {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        wiringPiSPISetup(0, 2500000);
        sim::setFullScale(c.fsv, c.fsa);
        sim::setLineFrequency(c.hertz);
        for (int p = 0; p < 3; ++p) sim::setPhase(static_cast<Phase>(p), c.phases[p]);
        startChipLikeTheModule(c.hertz == 60);
        sim::advanceMillis(300);  // past the 10/12-cycle window
        const ModuleScale scale(c.fsv, c.fsa);
        const std::vector<uint32_t> burst = burstValues();
        for (int p = 0; p < 3; ++p) {
            expectPhaseReads(burst, p, scale, truthOf(c.phases[p]));
            EXPECT_NEAR(ModuleScale::toHertz(read32(static_cast<uint16_t>(reg::APERIOD + p))), c.hertz,
                        1e-6 * c.hertz);
        }
    }
}

TEST_F(Readings, PeriodRegistersGiveTheLineFrequencyToTheChipsResolution) {
    startChipLikeTheModule();
    for (const double hertz : {45.0, 49.9, 50.0, 59.97, 60.0, 65.0}) {
        SCOPED_TRACE(hertz);
        sim::setLineFrequency(hertz);
        for (uint16_t address = reg::APERIOD; address <= reg::COM_PERIOD; ++address)
            EXPECT_NEAR(ModuleScale::toHertz(read32(address)), hertz, 1e-5);
    }
}

TEST_F(Readings, NeutralIsTheVectorSumOfThePhaseCurrentsUnlessSet) {
    startChipLikeTheModule();
    const ModuleScale scale(500, 10);
    const auto neutralAmps = [&] { return scale.toAmps(read32(reg::NIRMS)); };
    EXPECT_LT(neutralAmps(), 0.001);  // balanced
    sim::setPhaseAmps(Phase::B, 3);
    sim::setPhaseAmps(Phase::C, 0);
    EXPECT_NEAR(neutralAmps(), std::sqrt(19.0), kTolerance * std::sqrt(19.0));  // |5 + 3 e^-j120|
    // Balanced third harmonics do not cancel: they add in the neutral.
    for (Phase p : {Phase::A, Phase::B, Phase::C}) {
        sim::setPhaseAmps(p, 5);
        sim::setHarmonics(p, sim::Quantity::Current, {{3, 20}});
    }
    EXPECT_NEAR(neutralAmps(), 3.0, 3.0 * kTolerance);
    sim::setNeutralAmps(7.5);
    sim::advanceMillis(300);
    for (uint16_t address : {reg::NIRMS, reg::NIRMSONE, reg::NIRMS1012})
        EXPECT_NEAR(scale.toAmps(read32(address)), 7.5, 7.5 * kTolerance);
    sim::setNeutralAmps(-1);
    EXPECT_NEAR(neutralAmps(), 3.0, 3.0 * kTolerance);
}

// ---- Angles ----------------------------------------------------------------------

using Angles = SimSuite;

TEST_F(Angles, RegistersGiveTheModulesAnglesAtTheNominalFrequency) {
    const struct {
        const char* name;
        double hertz;
        double lagA, angleB, angleC;
        double vangleB, vangleC, iangleA;  // as the module stores them
    } cases[] = {
        {"default", 50, 36.87, 120, 240, -120, 120, 36.87},
        {"leading current", 50, -20, 120, 240, -120, 120, 340},
        {"reversed sequence", 50, 0, 240, 120, -240, 240, 0},
        {"60 Hz", 60, 45, 120, 240, -120, 120, 45},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        wiringPiSPISetup(0, 2500000);
        sim::setLineFrequency(c.hertz);
        sim::setCurrentLag(Phase::A, c.lagA);
        sim::setVoltageAngle(Phase::B, c.angleB);
        sim::setVoltageAngle(Phase::C, c.angleC);
        startChipLikeTheModule(c.hertz == 60);
        const auto degrees = [&](uint16_t address) {
            float a = ModuleScale::toDegrees(read16(address), c.hertz);
            return a >= 360.0f ? a - 360.0f : a;
        };
        // Resolution: one count is 360 / 20480 degrees at 50 Hz.
        EXPECT_NEAR(-degrees(reg::ANGL_VA_VB), c.vangleB, 0.02);
        EXPECT_NEAR(360.0 - degrees(reg::ANGL_VA_VC), c.vangleC, 0.02);
        EXPECT_NEAR(degrees(reg::ANGL_VB_VC), std::fmod(c.angleC - c.angleB + 360, 360), 0.02);
        EXPECT_NEAR(degrees(reg::ANGL_VA_IA), c.iangleA, 0.02);
        EXPECT_NEAR(degrees(reg::ANGL_IA_IB), std::fmod(c.angleB + 36.87 - c.lagA + 360, 360), 0.02);
    }
}

TEST_F(Angles, CountsMeasureTimeSoAnOffNominalLineReadsScaled) {
    sim::setLineFrequency(49);
    startChipLikeTheModule();
    // 120 degrees at 49 Hz last 6.80 ms: the module's 20 ms scale calls that 122.45 degrees.
    EXPECT_NEAR(ModuleScale::toDegrees(read16(reg::ANGL_VA_VB), 50), 120.0 * 50 / 49, 0.02);
}

TEST_F(Angles, AbsentSignalsReadZero) {
    sim::setPhaseAmps(Phase::A, 0);
    sim::setPhaseVolts(Phase::B, 0);
    startChipLikeTheModule();
    EXPECT_EQ(read16(reg::ANGL_VA_IA), 0u);
    EXPECT_EQ(read16(reg::ANGL_VA_VB), 0u);
    EXPECT_NE(read16(reg::ANGL_VA_VC), 0u);
}

// ---- When there is nothing to measure ---------------------------------------------

using NoReadings = SimSuite;

TEST_F(NoReadings, MeasurementsReadZeroUntilTheChipRuns) {
    for (uint32_t word : burstValues()) EXPECT_EQ(word, 0u);
    EXPECT_EQ(read32(reg::APERIOD), 0u);
    write16(reg::RUN, 1);
    EXPECT_NE(read32(reg::AVRMS), 0u);
    write16(reg::RUN, 0);
    EXPECT_EQ(read32(reg::AVRMS), 0u);
}

TEST_F(NoReadings, PhaseWithoutSignalAndLineWithoutFrequencyReadZero) {
    startChipLikeTheModule();
    sim::setPhase(Phase::C, {0, 0, 0, {}, {}});
    sim::advanceMillis(250);  // the 10-cycle window no longer holds the signal
    const std::vector<uint32_t> burst = burstValues();
    for (int position = 0; position < 19; ++position) EXPECT_EQ(burst[38 + position], 0u) << position;
    EXPECT_EQ(read32(reg::APERIOD + 2), 0u);  // CPERIOD
    EXPECT_NE(read32(reg::APERIOD), 0u);
    sim::setLineFrequency(0);
    for (uint32_t word : burstValues()) EXPECT_EQ(word, 0u);
    EXPECT_EQ(read32(reg::COM_PERIOD), 0u);
}

TEST_F(NoReadings, ASetMeasurementRegisterIsPinnedUntilReleased) {
    startChipLikeTheModule();
    const uint32_t computed = read32(reg::AIRMS);
    sim::setChipRegister(reg::AIRMS, 0x01234567);
    EXPECT_EQ(read32(reg::AIRMS), 0x01234567u);
    EXPECT_EQ(burstValues()[2], 0x01234567u);
    sim::releaseChipRegister(reg::AIRMS);
    EXPECT_EQ(read32(reg::AIRMS), computed);
}

// ---- Windowed RMS ---------------------------------------------------------------

using Windows = SimSuite;

TEST_F(Windows, OneCycleAndTenOrTwelveCycleRmsAverageTheSquaresOverTheirWindow) {
    const ModuleScale scale(500, 10);
    for (const bool sixty : {false, true}) {
        SCOPED_TRACE(sixty ? "ACCMODE 60 Hz: 12 cycles" : "10 cycles");
        sim::reset();
        wiringPiSPISetup(0, 2500000);
        startChipLikeTheModule(sixty);
        sim::advanceMillis(500);
        sim::setPhaseVolts(Phase::A, 100);
        const uint64_t changed = sim::nowMicros();
        // Volts over a window of `cycles` at 50 Hz that ends now.
        const auto windowed = [&](double cycles) {
            const double share = std::min(1.0, (sim::nowMicros() - changed) / (cycles * 20000.0));
            return std::sqrt(share * 100 * 100 + (1 - share) * 230 * 230);
        };
        const double longWindow = sixty ? 12 : 10;
        sim::advance(10000);  // half a cycle
        EXPECT_NEAR(scale.toVolts(read32(reg::AVRMS)), 100, 0.1);
        double expected = windowed(1);
        EXPECT_NEAR(scale.toVolts(read32(reg::AVRMSONE)), expected, 0.02);
        expected = windowed(longWindow);
        EXPECT_NEAR(scale.toVolts(read32(reg::AVRMS1012)), expected, 0.02);
        sim::advance(10000);
        EXPECT_NEAR(scale.toVolts(read32(reg::AVRMSONE)), 100, 0.1);
        expected = windowed(longWindow);
        EXPECT_NEAR(scale.toVolts(read32(reg::AVRMS1012)), expected, 0.02);
        EXPECT_GT(expected, 150);
        sim::advance(sixty ? 220000 : 180000);
        EXPECT_NEAR(scale.toVolts(read32(reg::AVRMS1012)), 100, 0.1);
    }
}

// ---- Scripted scenarios ------------------------------------------------------------

using Scenarios = SimSuite;

double voltsA(uint16_t address = reg::AVRMS) {
    return ModuleScale(500, 10).toVolts(read32(address));
}

TEST_F(Scenarios, SagToFortyPercentForThreeHalfCyclesAtTwoSeconds) {
    startChipLikeTheModule();
    const uint64_t at = sim::nowMicros() + 2000000;
    sim::sag(Phase::A, 0.4, at, 30000);
    sim::advance(at + 15000 - sim::nowMicros());
    EXPECT_NEAR(voltsA(), 92, 0.1);
    sim::advance(at + 29900 - sim::nowMicros());
    EXPECT_NEAR(voltsA(reg::AVRMSONE), 92, 0.5);  // the last full cycle was all sag
    sim::advance(200);
    EXPECT_NEAR(voltsA(), 230, 0.23);
    sim::advance(20000);
    EXPECT_NEAR(voltsA(reg::AVRMSONE), 230, 0.23);
}

TEST_F(Scenarios, FrequencyStepRetimesPeriodsAndHalfCycles) {
    startChipLikeTheModule();
    const uint64_t step = sim::nowMicros() + 100000;
    sim::frequencyStep(60, step);
    sim::advance(99000);
    EXPECT_NEAR(ModuleScale::toHertz(read32(reg::APERIOD)), 50, 1e-4);
    sim::advance(2000);
    EXPECT_NEAR(ModuleScale::toHertz(read32(reg::APERIOD)), 60, 1e-4);
    // Half-cycles now come every 8.33 ms, counted on from where the phase was.
    write32(reg::STATUS1, 0xFFFFFFFF);
    const uint64_t from = sim::nowMicros();
    int halfCycles = 0;
    while (sim::nowMicros() < from + 100000) {
        sim::advance(100);
        if (sim::chipRegister(reg::STATUS1) & 0x200) {
            ++halfCycles;
            sim::setChipRegister(reg::STATUS1, 0);
        }
    }
    EXPECT_EQ(halfCycles, 12);
}

TEST_F(Scenarios, UnbalancedLoadSetsEachPhasesCurrentAndLag) {
    startChipLikeTheModule();
    sim::unbalancedLoad({2, 8, 15}, {0, 30, 60}, sim::nowMicros() + 5000);
    sim::advance(4000);
    const ModuleScale scale(500, 10);
    EXPECT_NEAR(scale.toAmps(read32(reg::AIRMS)), 5, 0.005);
    sim::advance(2000);
    const std::array<double, 3> amps{2, 8, 15}, lags{0, 30, 60};
    for (int p = 0; p < 3; ++p) {
        EXPECT_NEAR(scale.toAmps(read32(ofPhase(reg::AIRMS, p))), amps[p], amps[p] * kTolerance);
        EXPECT_NEAR(scale.toWatts(read32(ofPhase(reg::AWATT, p))),
                    230 * amps[p] * std::cos(lags[p] * kPi / 180), 230 * amps[p] * kTolerance);
    }
}

TEST_F(Scenarios, HalfCyclesNeedAVoltageOnSomePhase) {
    startChipLikeTheModule();
    for (Phase p : {Phase::A, Phase::B, Phase::C}) sim::setPhaseVolts(p, 0);
    write32(reg::STATUS1, 0xFFFFFFFF);
    sim::advanceMillis(100);
    EXPECT_EQ(sim::chipRegister(reg::STATUS1) & 0x200, 0u);
    sim::setPhaseVolts(Phase::C, 230);
    sim::advanceMillis(11);
    EXPECT_NE(sim::chipRegister(reg::STATUS1) & 0x200, 0u);
}

// ---- The test face ---------------------------------------------------------------

using SignalTestFace = SimSuite;

TEST_F(SignalTestFace, RejectsSignalsTheBoardCannotProduce) {
    EXPECT_THROW(sim::setPhaseVolts(Phase::A, -1), std::invalid_argument);
    EXPECT_THROW(sim::setPhaseAmps(Phase::A, NAN), std::invalid_argument);
    EXPECT_THROW(sim::setHarmonics(Phase::A, sim::Quantity::Voltage, {{1, 5}}), std::invalid_argument);
    EXPECT_THROW(sim::setHarmonics(Phase::A, sim::Quantity::Voltage, {{64, 5}}), std::invalid_argument);
    EXPECT_THROW(sim::setHarmonics(Phase::A, sim::Quantity::Current, {{3, 5}, {3, 2}}),
                 std::invalid_argument);
    EXPECT_THROW(sim::setFullScale(0, 10), std::invalid_argument);
    EXPECT_THROW(sim::sag(Phase::A, -0.5, 0, 0), std::invalid_argument);
    EXPECT_THROW(sim::setGainError(sim::Channel::VA, -100), std::invalid_argument);
    EXPECT_EQ(sim::phaseSignal(Phase::A).volts, 230);  // nothing changed
}

TEST_F(SignalTestFace, ResetRestoresTheDefaultSignalScaleAndErrors) {
    sim::setPhase(Phase::A, {100, 1, 0, {{3, 5}}, {}});
    sim::setLineFrequency(60);
    sim::setVoltageAngle(Phase::B, 100);
    sim::setFullScale(1000, 50);
    sim::setGainError(sim::Channel::IB, 3);
    sim::setNeutralAmps(4);
    sim::reset();
    for (Phase p : {Phase::A, Phase::B, Phase::C}) {
        const sim::PhaseSignal s = sim::phaseSignal(p);
        EXPECT_EQ(s.volts, 230);
        EXPECT_EQ(s.amps, 5);
        EXPECT_EQ(s.currentLagDegrees, 36.87);
        EXPECT_TRUE(s.voltageHarmonics.empty());
    }
    EXPECT_EQ(sim::voltageAngle(Phase::B), 120);
    EXPECT_EQ(sim::voltageAngle(Phase::C), 240);
    EXPECT_EQ(sim::lineFrequency(), 50);
    EXPECT_EQ(sim::fullScaleVolts(), 500);
    EXPECT_EQ(sim::fullScaleAmps(), 10);
    EXPECT_EQ(sim::channelError(sim::Channel::IB).gainPercent, 0);
    wiringPiSPISetup(0, 2500000);
    write16(reg::RUN, 1);
    EXPECT_LT(ModuleScale(500, 10).toAmps(read32(reg::NIRMS)), 0.001);
}

}  // namespace
