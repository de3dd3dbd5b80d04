// The simulated chip's calibration registers act on its readings the way the
// module's calibration procedures assume: each register's effect, and
// intrinsic channel errors that registers computed with the procedures'
// inverse formulas cancel.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

#include "RegisterMath.h"
#include "SimTestBus.h"

namespace {

using namespace simtest;
using sim::Channel;
using sim::Phase;

constexpr double kPi = 3.14159265358979323846;
constexpr double kGainUnit = 134217728.0;

uint32_t gainWord(double gain) {
    return static_cast<uint32_t>(toRegisterS32((gain - 1.0) * kGainUnit));
}

// The register the phase procedure computes for a phase error in degrees.
uint32_t phaseCalibrationWord(double errorDegrees, double nominalHertz) {
    const double omega = 2 * kPi * nominalHertz / 8000.0;
    const double error = errorDegrees * kPi / 180;
    return static_cast<uint32_t>(
        toRegisterS32((std::sin(error - omega) + std::sin(omega)) / std::sin(2 * omega - error) * kGainUnit));
}

// The procedures' expected RMS codes.
double expectedVoltageCode(double volts, float fsv) {
    return volts / static_cast<double>(fsv * 0.70710677f) * 52702092.0;
}
double expectedCurrentCode(double amps, float fsa) {
    return amps / static_cast<double>(fsa * 0.70710677f * static_cast<float>(3.003003003003003)) * 52702092.0;
}

// A procedure's sample: the second of two reads, averaged over `samples`.
uint32_t averageUnsigned(uint16_t address, int samples = 10) {
    uint32_t sum = 0;
    for (int i = 0; i < samples; ++i) {
        read32(address);
        sum += read32(address);
        sim::advanceMillis(30);
    }
    return sum / samples;
}
int32_t averageSigned(uint16_t address, int samples = 10) {
    int32_t sum = 0;
    for (int i = 0; i < samples; ++i) {
        read32(address);
        sum += readSigned(address);
        sim::advanceMillis(11);
    }
    return sum / samples;
}

// Waits for the end of the next complete energy interval, as the module's
// calWaitEGYRDY does.
void waitForEnergyInterval() {
    for (int pass = 0; pass < 2; ++pass) {
        write32(reg::STATUS0, kEnergyReady);
        for (int polls = 0; polls < 500 && (read32(reg::STATUS0) & kEnergyReady) == 0; ++polls)
            sim::advanceMillis(10);
        ASSERT_NE(read32(reg::STATUS0) & kEnergyReady, 0u);
    }
}

// ---- Each register's effect ---------------------------------------------------------

using CalibrationRegisters = SimSuite;

// Readings watched for each register: phase A's RMS flavours and powers, the
// neutral's, and one of phase B as a bystander.
const std::vector<std::pair<const char*, uint16_t>> kWatched = {
    {"AIRMS", reg::AIRMS},
    {"AVRMS", reg::AVRMS},
    {"AIFRMS", reg::AIFRMS},
    {"AVFRMS", reg::AVFRMS},
    {"AIRMSONE", reg::AIRMSONE},
    {"AVRMSONE", reg::AVRMSONE},
    {"AIRMS1012", reg::AIRMS1012},
    {"AVRMS1012", reg::AVRMS1012},
    {"AWATT", reg::AWATT},
    {"AVAR", reg::AVAR},
    {"AVA", reg::AVA},
    {"AFWATT", reg::AFWATT},
    {"AFVAR", reg::AFVAR},
    {"AFVA", reg::AFVA},
    {"NIRMS", reg::NIRMS},
    {"NIRMSONE", reg::NIRMSONE},
    {"NIRMS1012", reg::NIRMS1012},
    {"BVRMS", ofPhase(reg::AVRMS, 1)},
};

using Transform = std::function<double(double)>;
Transform times(double factor) {
    return [factor](double code) { return code * factor; };
}
Transform plus(double offset) {
    return [offset](double code) { return code + offset; };
}
Transform rmsOffset(double offset) {
    return [offset](double code) { return std::sqrt(code * code + offset * 32768); };
}

TEST_F(CalibrationRegisters, EachActsOnItsOwnReadingsOnly) {
    const std::vector<std::string> rms = {"AVRMS", "AVFRMS", "AVRMSONE", "AVRMS1012"};
    const std::vector<std::string> irms = {"AIRMS", "AIFRMS", "AIRMSONE", "AIRMS1012"};
    const std::vector<std::string> powers = {"AWATT", "AVAR", "AVA", "AFWATT", "AFVAR", "AFVA"};
    const std::vector<std::string> neutral = {"NIRMS", "NIRMSONE", "NIRMS1012"};
    const auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const struct {
        const char* name;
        uint16_t address;
        uint32_t value;
        std::vector<std::string> affected;
        Transform transform;
    } cases[] = {
        {"AVGAIN +1 %", reg::AVGAIN, gainWord(1.01), join(rms, powers), times(1.01)},
        {"AIGAIN -2 %", reg::AIGAIN, gainWord(0.98), join(irms, powers), times(0.98)},
        {"APGAIN +3 %", reg::APGAIN, gainWord(1.03), powers, times(1.03)},
        {"NIGAIN +0.5 %", reg::NIGAIN, gainWord(1.005), neutral, times(1.005)},
        {"AVRMSOS", reg::AVRMSOS, static_cast<uint32_t>(-4000000), {"AVRMS"}, rmsOffset(-4000000)},
        {"AVFRMSOS", reg::AVFRMSOS, 3000000, {"AVFRMS"}, rmsOffset(3000000)},
        {"AVRMSONEOS", reg::AVRMSONEOS, 2000000, {"AVRMSONE"}, rmsOffset(2000000)},
        {"AVRMS1012OS", reg::AVRMS1012OS, 1000000, {"AVRMS1012"}, rmsOffset(1000000)},
        {"AIRMSOS", reg::AIRMSOS, static_cast<uint32_t>(-500000), {"AIRMS"}, rmsOffset(-500000)},
        {"AIFRMSOS", reg::AIFRMSOS, 600000, {"AIFRMS"}, rmsOffset(600000)},
        {"AIRMSONEOS", reg::AIRMSONEOS, 700000, {"AIRMSONE"}, rmsOffset(700000)},
        {"AIRMS1012OS", reg::AIRMS1012OS, 800000, {"AIRMS1012"}, rmsOffset(800000)},
        {"NIRMSOS", reg::NIRMSOS, 900000, {"NIRMS"}, rmsOffset(900000)},
        {"NIRMSONEOS", reg::NIRMSONEOS, 1000000, {"NIRMSONE"}, rmsOffset(1000000)},
        {"NIRMS1012OS", reg::NIRMS1012OS, 1100000, {"NIRMS1012"}, rmsOffset(1100000)},
        {"AWATTOS", reg::AWATTOS, 5000, {"AWATT"}, plus(5000)},
        {"AVAROS", reg::AVAROS, static_cast<uint32_t>(-7000), {"AVAR"}, plus(-7000)},
        {"AFWATTOS", reg::AFWATTOS, static_cast<uint32_t>(-3000), {"AFWATT"}, plus(-3000)},
        {"AFVAROS", reg::AFVAROS, 9000, {"AFVAR"}, plus(9000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        wiringPiSPISetup(0, 2500000);
        // Harmonics keep total and fundamental apart; phase B's lighter load a neutral current.
        sim::setPhase(Phase::A, {230, 5, 36.87, {{3, 4}}, {{5, 6}}});
        sim::setPhaseAmps(Phase::B, 3);
        startChipLikeTheModule();
        sim::advanceMillis(300);
        std::map<std::string, double> before;
        for (const auto& [name, address] : kWatched) before[name] = readSigned(address);
        write32(c.address, c.value);
        for (const auto& [name, address] : kWatched) {
            const bool affected = std::find(c.affected.begin(), c.affected.end(), name) != c.affected.end();
            const double expected = affected ? c.transform(before[name]) : before[name];
            EXPECT_NEAR(readSigned(address), expected, 1.0 + 1e-7 * std::fabs(expected)) << name;
            if (affected) {
                EXPECT_GT(std::fabs(expected - before[name]), 100) << name << " must change";
            }
        }
    }
}

TEST_F(CalibrationRegisters, PhaseCalibrationTakesOffTheErrorThePhaseProcedureComputedItFor) {
    for (const double hertz : {50.0, 60.0})
        for (const double errorDegrees : {0.5, -1.0, 2.0}) {
            SCOPED_TRACE(std::to_string(hertz) + " Hz, " + std::to_string(errorDegrees) + " degrees");
            sim::reset();
            wiringPiSPISetup(0, 2500000);
            sim::setLineFrequency(hertz);
            sim::setCurrentLag(Phase::A, 60);
            startChipLikeTheModule(hertz == 60);
            const double watts = readSigned(reg::AWATT), vars = readSigned(reg::AVAR);
            write32(reg::APHCAL0, phaseCalibrationWord(errorDegrees, hertz));
            const double angle = std::atan2(readSigned(reg::AVAR), readSigned(reg::AWATT)) * 180 / kPi;
            EXPECT_NEAR(angle, 60 - errorDegrees, 1e-5);
            EXPECT_NEAR(std::hypot(readSigned(reg::AWATT), readSigned(reg::AVAR)), std::hypot(watts, vars),
                        2);
            EXPECT_NEAR(ModuleScale::toDegrees(read16(reg::ANGL_VA_IA), hertz), 60 - errorDegrees, 0.02);
            EXPECT_EQ(read32(ofPhase(reg::AWATT, 1)),
                      read32(ofPhase(reg::AWATT, 2)));  // other phases untouched
        }
}

TEST_F(CalibrationRegisters, MultipointRegionsChooseGainAndPhaseByTheCurrent) {
    const float fsa = 10;
    const double regionEdge = expectedCurrentCode(2.0, fsa);  // region 0 below 2 A, region 1 from 2 A to 8 A
    write32(reg::MTTHR_L0, 0);
    write32(reg::MTTHR_H0, static_cast<uint32_t>(regionEdge));
    write32(reg::MTTHR_L0 + 1, static_cast<uint32_t>(regionEdge));
    write32(reg::MTTHR_H0 + 1, static_cast<uint32_t>(expectedCurrentCode(8.0, fsa)));
    write32(reg::AIGAIN0, gainWord(1.01));
    write32(reg::AIGAIN0 + 1, gainWord(0.99));
    write32(reg::APHCAL0 + 1, phaseCalibrationWord(1.0, 50));
    sim::setCurrentLag(Phase::A, 30);
    startChipLikeTheModule();
    const ModuleScale scale(500, fsa);
    const struct {
        const char* name;
        bool multipoint;
        double amps;
        double gain, angle;
    } cases[] = {
        {"off", false, 5, 1.0, 30},        {"region 0", true, 1, 1.01, 30},
        {"region 1", true, 5, 0.99, 29},   {"above every region: 0", true, 9, 1.01, 30},
        {"off at 1 A", false, 1, 1.0, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write32(reg::CONFIG0, c.multipoint ? 0x0010 : 0);
        sim::setPhaseAmps(Phase::A, c.amps);
        EXPECT_NEAR(scale.toAmps(read32(reg::AIRMS)), c.amps * c.gain, c.amps * 1e-5);
        EXPECT_NEAR(ModuleScale::toDegrees(read16(reg::ANGL_VA_IA), 50), c.angle, 0.02);
    }
}

// ---- Intrinsic errors and the procedures' inverse formulas --------------------------

using Calibration = SimSuite;

TEST_F(Calibration, GainRegistersFromTheGainFormulaCancelGainErrors) {
    const float fsv = 500, fsa = 10;
    const double volts = 230, amps = 5;
    const std::pair<Channel, double> errors[] = {{Channel::VA, 1.3}, {Channel::VB, -0.8},
                                                 {Channel::IA, 0.5}, {Channel::IB, -2.0},
                                                 {Channel::IC, 1.1}, {Channel::IN, 3.0}};
    for (const auto& [channel, percent] : errors) sim::setGainError(channel, percent);
    for (Phase p : {Phase::A, Phase::B, Phase::C}) sim::setPhase(p, {volts, amps, 0, {}, {}});
    sim::setNeutralAmps(amps);  // the calibrator drives every current input
    startChipLikeTheModule();
    sim::advanceMillis(300);
    const double appliedVolts = expectedVoltageCode(volts, fsv), appliedAmps = expectedCurrentCode(amps, fsa);
    for (int p = 0; p < 3; ++p) {
        write32(ofPhase(reg::AVGAIN, p), gainWord(appliedVolts / averageUnsigned(ofPhase(reg::AVRMS, p))));
        write32(ofPhase(reg::AIGAIN, p), gainWord(appliedAmps / averageUnsigned(ofPhase(reg::AIRMS, p))));
    }
    write32(reg::NIGAIN, gainWord(appliedAmps / averageUnsigned(reg::NIRMS)));
    sim::advanceMillis(300);

    const ModuleScale scale(fsv, fsa);
    for (int p = 0; p < 3; ++p) {
        EXPECT_NEAR(scale.toVolts(read32(ofPhase(reg::AVRMS, p))), volts, volts * 1e-4) << p;
        EXPECT_NEAR(scale.toAmps(read32(ofPhase(reg::AIRMS, p))), amps, amps * 1e-4) << p;
        EXPECT_NEAR(scale.toWatts(read32(ofPhase(reg::AWATT, p))), volts * amps, volts * amps * 2e-4) << p;
    }
    for (uint16_t address : {reg::NIRMS, reg::NIRMSONE, reg::NIRMS1012})
        EXPECT_NEAR(scale.toAmps(read32(address)), amps, amps * 1e-4);
    // And not only at the calibration point: gain errors are proportional.
    sim::setPhaseVolts(Phase::A, 115);
    EXPECT_NEAR(scale.toVolts(read32(reg::AVRMS)), 115, 115 * 1e-4);
}

TEST_F(Calibration, OffsetRegistersFromTheOffsetFormulaCancelRmsOffsetsOfEveryFlavour) {
    const float fsv = 500, fsa = 10;
    const double volts = 10, amps = 0.2;
    sim::setRmsOffset(Channel::VA, 0.8);
    sim::setRmsOffset(Channel::IA, 0.02);
    sim::setRmsOffset(Channel::IN, -0.015);
    sim::setPhase(Phase::A, {volts, amps, 0, {}, {}});
    sim::setNeutralAmps(amps);
    startChipLikeTheModule();
    sim::advanceMillis(300);
    const ModuleScale scale(fsv, fsa);
    EXPECT_GT(relative(scale.toVolts(read32(reg::AVRMS)), volts), 1e-3);  // something to correct

    const double appliedVolts = expectedVoltageCode(volts, fsv), appliedAmps = expectedCurrentCode(amps, fsa);
    const auto offsetWord = [](double applied, int32_t average) {
        return static_cast<uint32_t>(
            toRegisterS32((applied * applied - static_cast<double>(average) * average) / 32768.0));
    };
    const std::pair<uint16_t, uint16_t> voltagePairs[] = {{reg::AVRMS, reg::AVRMSOS},
                                                          {reg::AVFRMS, reg::AVFRMSOS},
                                                          {reg::AVRMSONE, reg::AVRMSONEOS},
                                                          {reg::AVRMS1012, reg::AVRMS1012OS}};
    const std::pair<uint16_t, uint16_t> currentPairs[] = {
        {reg::AIRMS, reg::AIRMSOS},         {reg::AIFRMS, reg::AIFRMSOS}, {reg::AIRMSONE, reg::AIRMSONEOS},
        {reg::AIRMS1012, reg::AIRMS1012OS}, {reg::NIRMS, reg::NIRMSOS},   {reg::NIRMSONE, reg::NIRMSONEOS},
        {reg::NIRMS1012, reg::NIRMS1012OS}};
    for (const auto& [measured, offset] : voltagePairs)
        write32(offset, offsetWord(appliedVolts, averageSigned(measured)));
    for (const auto& [measured, offset] : currentPairs)
        write32(offset, offsetWord(appliedAmps, averageSigned(measured)));

    for (const double factor : {1.0, 0.5, 3.0}) {
        SCOPED_TRACE(factor);
        sim::setPhase(Phase::A, {volts * factor, amps * factor, 0, {}, {}});
        sim::setNeutralAmps(amps * factor);
        sim::advanceMillis(300);
        for (const auto& [measured, offset] : voltagePairs)
            EXPECT_NEAR(scale.toVolts(read32(measured)), volts * factor, volts * factor * 1e-3) << measured;
        for (const auto& [measured, offset] : currentPairs)
            EXPECT_NEAR(scale.toAmps(read32(measured)), amps * factor, amps * factor * 1e-3) << measured;
    }
}

TEST_F(Calibration, PhaseRegistersFromThePhaseFormulaCancelPhaseErrors) {
    const double errors[] = {0.3, -0.2, 0.0};
    for (int p = 0; p < 3; ++p) {
        sim::setPhaseError(static_cast<Phase>(p), errors[p]);
        sim::setCurrentLag(static_cast<Phase>(p), 60);
    }
    startChipLikeTheModule();
    waitForEnergyInterval();
    const double omega = 2 * kPi * 50 / 8000.0;
    const double sin60 = std::sin(60 * kPi / 180), cos60 = std::cos(60 * kPi / 180);
    for (int p = 0; p < 3; ++p) {
        const uint16_t wattHi = static_cast<uint16_t>(reg::AWATTHR_HI + p * reg::kEnergyPhaseStride);
        const uint16_t varHi = static_cast<uint16_t>(reg::AVARHR_HI + p * reg::kEnergyPhaseStride);
        const double w = readSigned(wattHi), q = readSigned(varHi);
        ASSERT_GT(w, 0);
        ASSERT_GT(q, 0);
        const double error = -std::atan((w * sin60 - q * cos60) / (w * cos60 + q * sin60));
        EXPECT_NEAR(error * 180 / kPi, errors[p], 1e-4) << "the energies show the error";
        const double work = (std::sin(error - omega) + std::sin(omega)) / std::sin(2 * omega - error);
        write32(ofPhase(reg::APHCAL0, p), static_cast<uint32_t>(toRegisterS32(work * kGainUnit)));
    }
    waitForEnergyInterval();
    for (int p = 0; p < 3; ++p) {
        const double w = readSigned(static_cast<uint16_t>(reg::AWATTHR_HI + p * reg::kEnergyPhaseStride));
        const double q = readSigned(static_cast<uint16_t>(reg::AVARHR_HI + p * reg::kEnergyPhaseStride));
        EXPECT_NEAR(std::atan2(q, w) * 180 / kPi, 60.0, 1e-4) << p;
        EXPECT_NEAR(ModuleScale::toDegrees(read16(ofPhase(reg::ANGL_VA_IA, 0) + p), 50), 60.0, 0.02) << p;
    }
}

TEST_F(Calibration, PowerGainFromThePowerGainFormulaCancelsAPowerError) {
    const double volts = 230, amps = 5;
    const float fsv = 500, fsa = 10;
    sim::setGainError(Channel::IA, 1.2);  // left uncalibrated: the power gain takes it out
    sim::setPhase(Phase::A, {volts, amps, 0, {}, {}});
    startChipLikeTheModule();
    const double expected =
        volts / (fsv * 0.70710678) * (amps / ((fsa / 0.333) * 0.70710678)) * 20694066.0 * 8000.0 * 0.00012207;
    waitForEnergyInterval();
    const double reading = readSigned(reg::AWATTHR_HI);
    EXPECT_GT(relative(reading, expected), 0.01);
    write32(reg::APGAIN, static_cast<uint32_t>(toRegisterS32((expected - reading) / reading * kGainUnit)));
    waitForEnergyInterval();
    EXPECT_NEAR(readSigned(reg::AWATTHR_HI), expected, expected * 1e-5);
    EXPECT_NEAR(ModuleScale(fsv, fsa).toWatts(read32(reg::AWATT)), volts * amps, volts * amps * 1e-4);
}

TEST_F(Calibration, PowerOffsetsFromTheOffsetFormulasCancelPowerOffsets) {
    const float volts = 230, amps = 5;
    sim::setPowerOffset(Phase::A, 2.5, -1.5);
    sim::setPowerOffset(Phase::C, -4.0, 3.0);
    for (Phase p : {Phase::A, Phase::B, Phase::C}) sim::setPhase(p, {volts, amps, 0, {}, {}});
    startChipLikeTheModule();
    const ModuleScale scale(500, 10);
    const int32_t wattExpected =
        toRegisterS32(static_cast<double>(volts * amps) / static_cast<double>(scale.pmax));
    for (int p = 0; p < 3; ++p) {
        for (const auto& [measured, offset] :
             {std::pair{reg::AWATT, reg::AWATTOS}, std::pair{reg::AFWATT, reg::AFWATTOS}})
            write32(ofPhase(offset, p),
                    static_cast<uint32_t>(wattExpected - averageSigned(ofPhase(measured, p), 100)));
        for (const auto& [measured, offset] :
             {std::pair{reg::AVAR, reg::AVAROS}, std::pair{reg::AFVAR, reg::AFVAROS}})
            write32(ofPhase(offset, p), static_cast<uint32_t>(0 - averageSigned(ofPhase(measured, p), 100)));
    }
    for (int p = 0; p < 3; ++p) {
        for (uint16_t address : {reg::AWATT, reg::AFWATT})
            EXPECT_NEAR(scale.toWatts(read32(ofPhase(address, p))), volts * amps, 0.01) << p;
        for (uint16_t address : {reg::AVAR, reg::AFVAR})
            EXPECT_NEAR(scale.toWatts(read32(ofPhase(address, p))), 0, 0.01) << p;
    }
}

TEST_F(Calibration, IntrinsicErrorsShowUntilCorrected) {
    startChipLikeTheModule();
    const ModuleScale scale(500, 10);
    const double watts = scale.toWatts(read32(reg::AWATT));
    sim::setGainError(Channel::VA, 1.3);
    EXPECT_NEAR(scale.toVolts(read32(reg::AVRMS)), 230 * 1.013, 0.01);
    EXPECT_NEAR(scale.toWatts(read32(reg::AWATT)), watts * 1.013, 0.1);
    sim::setPowerOffset(Phase::A, 10);
    EXPECT_NEAR(scale.toWatts(read32(reg::AWATT)), watts * 1.013 + 10, 0.1);
    sim::setPhaseError(Phase::A, 1.0);
    EXPECT_NEAR(ModuleScale::toDegrees(read16(reg::ANGL_VA_IA), 50), 37.87, 0.02);
    sim::clearErrors();
    EXPECT_NEAR(scale.toWatts(read32(reg::AWATT)), watts, 0.01);
}

}  // namespace
