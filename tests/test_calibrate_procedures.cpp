// The calibration procedures of the module class against the simulated chip:
// what each samples and how, which register each reading calibrates, what a
// missing input stops, the energy-interval wait, the waveform offset and the
// printed record a technician reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "BoardIO.h"
#include "CalibrationBench.h"
#include "CalibrationMath.h"
#include "HostBlock.h"
#include "QM9000.h"
#include "ScratchFiles.h"
#include "Sim.h"

namespace {

using Procedure = int (QM9000::*)();
constexpr const char* BANNER = "=================================================================\r\n";
constexpr float FSV = 500.0f, FSA = 10.0f;
constexpr float INF = std::numeric_limits<float>::infinity(), NaN = std::numeric_limits<float>::quiet_NaN();

std::string frame(const std::string& name, const std::string& body, bool bClosed = true, int nMillis = 0) {
    std::string text = BANNER + ("\r\n" + name + ": Begin \r\n") + body;
    if (bClosed) text += "\r\n" + name + ": End (" + std::to_string(nMillis) + " msec)\r\n" + BANNER;
    return text;
}

class CalProcedure : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_GE(wiringPiSPISetup(0, 2500000), 0);
        sim::setFullScale(FSV, FSA);
        m_block = makeHostBlock();
        QM9000& pmu = m_module;
        pmu.m_pStat = m_block.get();
        captureStdout([&] {
            pmu.m_Cfg9000.initialize(&pmu);
            pmu.m_Cfg9000.load("/nonexistent/QM9000.json");
            pmu.m_fFullScaleVoltsCorrected = FSV;
            pmu.m_fFullScaleAmps = FSA;
            pmu.m_fNominalFreq = 50.0f;
            pmu.updateLSBs();
            pmu.m_Cal9000.initialize(&pmu);
            const std::string path = m_dir.write("Cal9000.json", calibrationListFile());
            snprintf(m_block->s_pszActiveCal, sizeof(m_block->s_pszActiveCal), "%s", path.c_str());
            pmu.m_Cal9000.load(path.c_str());
            pmu.m_bFound = true;
            pmu.Configure9000Regs();
            pmu.meterOn();
        });
        m_block->s_fCalVolts = 230.0f;
        m_block->s_fCalAmps = 5.0f;
        sim::setNeutralAmps(5);  // the calibrator drives every current input
        sim::clearSpiLog();
    }
    void TearDown() override {
        for (const std::string& error : sim::protocolErrors())
            ADD_FAILURE() << "SPI protocol error: " << error;
        sim::reset();
    }

    // Runs a procedure; its output in m_output, its result returned.
    int run(Procedure procedure) {
        int nResult = -1;
        m_output = captureStdout([&] { nResult = (m_module.*procedure)(); });
        return nResult;
    }
    const CAL_CONSTANT& constant(const char* pszName) {
        for (const CAL_LIST* pNode = m_module.m_Cal9000.m_pCalList; pNode; pNode = pNode->s_pNextCal)
            if (strcmp(pNode->s_Cal.s_pszCalName, pszName) == 0) return pNode->s_Cal;
        throw std::out_of_range(pszName);
    }
    int32_t pending(const char* pszName) { return static_cast<int32_t>(constant(pszName).s_ulCalPending); }
    float pendingFloat(const char* pszName) { return constant(pszName).s_fCalPending; }
    static std::vector<uint64_t> readTimes(uint16_t unAddress, sim::FrameKind kind = sim::FrameKind::Read32) {
        std::vector<uint64_t> times;
        for (const sim::SpiFrame& f : sim::spiLog())
            if (f.kind == kind && f.address == unAddress) times.push_back(f.timeMicros);
        return times;
    }
    bool has(const std::string& text) const { return m_output.find(text) != std::string::npos; }

    ScratchDirectory m_dir;
    HostBlockPtr m_block;
    QM9000 m_module;
    std::string m_output;
};

// The register watched is sampled after everything the procedure does before
// it: earlier registers' samples, settling pauses and interval waits.
TEST_F(CalProcedure, EachTakesItsSampleCountReadsAndPace) {
    const struct {
        const char* pszName;
        Procedure procedure;
        uint16_t unRegister;
        int nSamples, nReads;
        unsigned unWaitMillis, unNotBeforeMillis;
    } cases[] = {
        {"voltage gain", &QM9000::processCalVGain, 0x20D, 10, 2, 30, 0},
        {"current gain, neutral", &QM9000::processCalIGain, 0x266, 10, 2, 30, 900},
        {"voltage offsets", &QM9000::processCalVOS, 0x21C, 10, 2, 11, 990},
        {"current offsets", &QM9000::processCalIOS, 0x268, 10, 2, 11, 1540},
        {"active power offsets", &QM9000::processCalPWOS, 0x253, 100, 2, 11, 5500},
        {"reactive power offsets", &QM9000::processCalPVAROS, 0x254, 100, 1, 10, 2200 + 1000 + 5000},
        {"region gain", &QM9000::processCalMultipointGain, 0x24C, 10, 2, 30, 600},
        {"phase", &QM9000::processCalPhase, 0x32D, 1, 2, 0, 1000},
        {"power gain", &QM9000::processCalPGain, 0x35F, 1, 2, 0, 2200 + 3 * 1000},
        {"region phase", &QM9000::processCalMultipointPhase, 0x2F1, 1, 1, 0, 3000 + 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        sim::clearSpiLog();
        const uint64_t ullStart = sim::nowMicros();
        EXPECT_EQ(run(c.procedure), 0);
        const std::vector<uint64_t> times = readTimes(c.unRegister);
        ASSERT_EQ(times.size(), size_t(c.nSamples * c.nReads));
        EXPECT_GE(times[0] - ullStart, c.unNotBeforeMillis * 1000u);
        for (size_t i = 1; i < times.size(); i++) {
            const uint64_t ullGap = times[i] - times[i - 1];
            if (i % c.nReads != 0) {
                EXPECT_LT(ullGap, 100u) << "reads of one sample follow each other";
            } else {
                EXPECT_GE(ullGap, c.unWaitMillis * 1000u) << i;
                EXPECT_LT(ullGap, c.unWaitMillis * 1000u + 500u) << i;
            }
        }
    }
}

// Measured register and the calibration register computed from it, in the
// order the procedures take them.
using Pairs = std::vector<std::pair<uint16_t, const char*>>;
const Pairs VOLTAGE_GAIN_PAIRS = {{0x20D, "AVGAIN"}, {0x22D, "BVGAIN"}, {0x24D, "CVGAIN"}};
const Pairs CURRENT_GAIN_PAIRS = {{0x20C, "AIGAIN"}, {0x22C, "BIGAIN"}, {0x24C, "CIGAIN"}, {0x266, "NIGAIN"}};
const Pairs VOLTAGE_OFFSET_PAIRS = {{0x20D, "AVRMSOS"},     {0x22D, "BVRMSOS"},     {0x24D, "CVRMSOS"},
                                    {0x20F, "AVFRMSOS"},    {0x22F, "BVFRMSOS"},    {0x24F, "CVFRMSOS"},
                                    {0x21A, "AVRMSONEOS"},  {0x23A, "BVRMSONEOS"},  {0x25A, "CVRMSONEOS"},
                                    {0x21C, "AVRMS1012OS"}, {0x23C, "BVRMS1012OS"}, {0x25C, "CVRMS1012OS"}};
const Pairs CURRENT_OFFSET_PAIRS = {{0x20C, "AIRMSOS"},     {0x22C, "BIRMSOS"},     {0x24C, "CIRMSOS"},
                                    {0x266, "NIRMSOS"},     {0x20E, "AIFRMSOS"},    {0x22E, "BIFRMSOS"},
                                    {0x24E, "CIFRMSOS"},    {0x219, "AIRMSONEOS"},  {0x239, "BIRMSONEOS"},
                                    {0x259, "CIRMSONEOS"},  {0x267, "NIRMSONEOS"},  {0x21B, "AIRMS1012OS"},
                                    {0x23B, "BIRMS1012OS"}, {0x25B, "CIRMS1012OS"}, {0x268, "NIRMS1012OS"}};
const Pairs WATT_OFFSET_PAIRS = {{0x210, "AWATTOS"},  {0x230, "BWATTOS"},  {0x250, "CWATTOS"},
                                 {0x213, "AFWATTOS"}, {0x233, "BFWATTOS"}, {0x253, "CFWATTOS"}};
const Pairs VAR_OFFSET_PAIRS = {{0x211, "AVAROS"},  {0x231, "BVAROS"},  {0x251, "CVAROS"},
                                {0x214, "AFVAROS"}, {0x234, "BFVAROS"}, {0x254, "CFVAROS"}};

// Every measured register pinned to a reading of its own: each calibration
// register must come from its own reading.
TEST_F(CalProcedure, EachReadingCalibratesItsOwnRegister) {
    using Formula = std::function<int32_t(int32_t)>;
    const double dVolts = calmath::expectedVoltageCode(230.0f, FSV);
    const double dAmps = calmath::expectedCurrentCode(5.0f, FSA);
    const Formula voltageGain = [&](int32_t v) { return calmath::gainRegister(dVolts / uint32_t(v)); };
    const Formula currentGain = [&](int32_t v) { return calmath::gainRegister(dAmps / uint32_t(v)); };
    const Formula voltageOffset = [&](int32_t v) { return toRegisterS32(calmath::rmsOffset(dVolts, v)); };
    const Formula currentOffset = [&](int32_t v) { return toRegisterS32(calmath::rmsOffset(dAmps, v)); };
    const Formula wattOffset = [](int32_t v) { return 1000 - v; };  // 100 V x 5 A / 0.5 W per count
    const Formula varOffset = [](int32_t v) { return -v; };
    const struct {
        Procedure procedure;
        const Pairs& pairs;
        int32_t lFirstReading, lStep;
        const Formula& formula;
    } cases[] = {
        {&QM9000::processCalVGain, VOLTAGE_GAIN_PAIRS, 33941880, 300000, voltageGain},
        {&QM9000::processCalIGain, CURRENT_GAIN_PAIRS, 12000000, 100000, currentGain},
        {&QM9000::processCalVOS, VOLTAGE_OFFSET_PAIRS, 34280000, 1000, voltageOffset},
        {&QM9000::processCalIOS, CURRENT_OFFSET_PAIRS, 12400000, 1000, currentOffset},
        {&QM9000::processCalPWOS, WATT_OFFSET_PAIRS, 990, -7, wattOffset},  // 990: offset 10
        {&QM9000::processCalPVAROS, VAR_OFFSET_PAIRS, -25, 9, varOffset},   // -25: offset 25
    };
    m_module.m_fPMAX_LSB = 0.5f;
    for (const auto& c : cases) {
        m_block->s_fCalVolts = c.procedure == &QM9000::processCalPWOS ? 100.0f : 230.0f;
        for (size_t i = 0; i < c.pairs.size(); i++)
            sim::setChipRegister(c.pairs[i].first, uint32_t(c.lFirstReading + c.lStep * int32_t(i)));
        sim::clearSpiLog();
        EXPECT_EQ(run(c.procedure), 0);
        std::vector<uint16_t> firstReads;  // the measured registers in the order taken
        for (const sim::SpiFrame& f : sim::spiLog())
            if (f.kind == sim::FrameKind::Read32 && f.address >= 0x200 && f.address < 0x300 &&
                std::find(firstReads.begin(), firstReads.end(), f.address) == firstReads.end())
                firstReads.push_back(f.address);
        ASSERT_EQ(firstReads.size(), c.pairs.size());
        for (size_t i = 0; i < c.pairs.size(); i++) {
            SCOPED_TRACE(c.pairs[i].second);
            EXPECT_EQ(firstReads[i], c.pairs[i].first);
            const int32_t lExpected = c.formula(c.lFirstReading + c.lStep * int32_t(i));
            EXPECT_EQ(pending(c.pairs[i].second), lExpected);
            EXPECT_EQ(sim::chipRegister(constant(c.pairs[i].second).s_ulCalRegister), uint32_t(lExpected));
        }
        for (const auto& [unAddress, pszName] : c.pairs) sim::releaseChipRegister(unAddress);
    }
    EXPECT_EQ(pending("AWATTOS"), 10);
    EXPECT_EQ(pending("AVAROS"), 25);
    EXPECT_EQ(pendingFloat("AWATTOS"), 1.0f);
    EXPECT_EQ(pendingFloat("AVRMSOS"), 0.0f);
}

// A missing input and an impossible one (not finite, not above zero, a
// threshold whose code does not fit) stop the procedure the same way.
TEST_F(CalProcedure, MissingInputStopsBeforeAnyReadingWithItsMessage) {
    const struct {
        Procedure procedure;
        float fVolts, fAmps;
        uint32_t ulRegion;
        std::string output;
    } cases[] = {
        {&QM9000::processCalVGain, 0, 5, 0,
         frame("processCalVGain", "processCalVGain: No calibration voltage specified \r\n")},
        {&QM9000::processCalIGain, 230, 0, 0,
         frame("processCalIGain", "\r\nprocessCalIGain: No calibration current specified \r\n")},
        {&QM9000::processCalVOS, 0, 5, 0,
         frame("processCalVOS", "\r\nprocessCalVOS: No calibration voltage specified \r\n", false)},
        {&QM9000::processCalIOS, 230, 0, 0,
         frame("processCalIOS", "\r\nprocessCalIOS: No calibration current specified \r\n")},
        {&QM9000::processCalPGain, 0, 0, 0,
         frame("processCalPGain", "processCalPGain: No calibration voltage specified \r\n")},
        {&QM9000::processCalPWOS, 230, 0, 0,
         frame("processCalPWOS", "processCalPWOS: No calibration current specified \r\n")},
        {&QM9000::processCalPVAROS, 0, 5, 0,
         frame("processCalPVAROS", "processCalPVAROS: No calibration voltage specified \r\n")},
        {&QM9000::processCalMultipointDefine, 230, 5, 5, frame("processCalMultipointDefine", "", false)},
        {&QM9000::processCalMultipointGain, 230, 5, 5, frame("processCalMultipointGain", "", false)},
        {&QM9000::processCalMultipointGain, 230, 0, 1, frame("processCalMultipointGain", "", false)},
        {&QM9000::processCalMultipointPhase, 230, 5, 5, frame("processCalMultipointPhase", "", false)},
        {&QM9000::processCalVGain, INF, 5, 0,
         frame("processCalVGain", "processCalVGain: Calibration voltage out of range (inf) \r\n")},
        {&QM9000::processCalIGain, 230, -5, 0,
         frame("processCalIGain", "\r\nprocessCalIGain: Calibration current out of range (-5.000000) \r\n")},
        {&QM9000::processCalVOS, NaN, 5, 0,
         frame("processCalVOS", "\r\nprocessCalVOS: Calibration voltage out of range (nan) \r\n", false)},
        {&QM9000::processCalPWOS, 230, -INF, 0,
         frame("processCalPWOS", "processCalPWOS: Calibration current out of range (-inf) \r\n")},
        {&QM9000::processCalPVAROS, -230, 5, 0,
         frame("processCalPVAROS", "processCalPVAROS: Calibration voltage out of range (-230.000000) \r\n")},
        {&QM9000::processCalMultipointGain, 230, NaN, 1, frame("processCalMultipointGain", "", false)},
        {&QM9000::processCalMultipointDefine, -10, 100, 1, frame("processCalMultipointDefine", "", false)},
    };
    for (const auto& c : cases) {
        m_block->s_fCalVolts = m_block->s_fCalThreshLo = c.fVolts;
        m_block->s_fCalAmps = m_block->s_fCalThreshHi = c.fAmps;
        m_block->s_ulCalRegion = c.ulRegion;
        sim::clearSpiLog();
        EXPECT_EQ(run(c.procedure), 4);
        EXPECT_EQ(m_output, c.output);
        EXPECT_TRUE(sim::spiLog().empty()) << c.output;
        EXPECT_FALSE(m_module.m_Cal9000.HasChanged()) << c.output;
    }
}

TEST_F(CalProcedure, VoltageGainOfTheWorkedExample) {
    sim::setChipRegister(0x20D, 33941880);  // 1 % low
    sim::setChipRegister(0x22D, 34627574);  // 1 % high
    sim::setChipRegister(0x24D, 34284727);
    EXPECT_EQ(run(&QM9000::processCalVGain), 0);
    EXPECT_EQ(pending("AVGAIN"), 1355735);
    EXPECT_EQ(pending("BVGAIN"), -1328885);
    EXPECT_EQ(pending("CVGAIN"), 2);
    EXPECT_TRUE(
        has("processCalVGain: Applied voltage is 230.000000\r\nprocessCalVGain: Calibrating AVGAIN...\r\n"
            "processCalVGain: Applied (ADC)=34284727.593478; Avg meas (ADC)=33941880; Gain: 1.010101\r\n"
            "processCalVGain: AVGAIN = 0x0014AFD7\r\n"));
    EXPECT_TRUE(has("processCalVGain: BVGAIN = 0xFFEBB90B\r\n"));
    EXPECT_TRUE(has("\r\nRegister CVGAIN found"));
    EXPECT_TRUE(has("\r\nprocessCalVGain: End (9"));  // 30 samples of 30 ms and the pushes
}

TEST_F(CalProcedure, PowerGainReadsEachPhaseAfterItsOwnIntervalAndForcesAnEmptyOne) {
    sim::setGainError(sim::Channel::IA, 2.0);
    for (sim::Phase p : {sim::Phase::A, sim::Phase::B, sim::Phase::C}) sim::setCurrentLag(p, 0);
    sim::setPhaseAmps(sim::Phase::B, 0);
    EXPECT_EQ(run(&QM9000::processCalPGain), 0);
    const double dExpected = calmath::intervalEnergyCode(calmath::expectedPowerCode(230.0f, 5.0f, FSV, FSA));
    EXPECT_TRUE(has("processCalPGain: dWATTHR_Exp = : 3169917.04"));
    EXPECT_TRUE(has("processCalPGain: Expected xWATTHR_HI: 0x002F3C3E\r\n"));
    // A constant signal latches the same energy every interval.
    const auto lA = static_cast<int32_t>(sim::chipRegister(0x2E7));
    EXPECT_EQ(pending("APGAIN"), toRegisterS32(calmath::powerGain(dExpected, lA) * calmath::GAIN_UNIT));
    EXPECT_NEAR(pending("APGAIN") / calmath::GAIN_UNIT, -0.02 / 1.02, 1e-4);
    EXPECT_EQ(pendingFloat("APGAIN"),
              static_cast<float>(calmath::powerGain(dExpected, lA) * calmath::GAIN_UNIT));
    EXPECT_EQ(pending("BPGAIN"), 0);
    EXPECT_EQ(pendingFloat("BPGAIN"), 1.0f);
    EXPECT_TRUE(has("processCalPGain: lWATTHR = 0x00000000 forcing BPGAIN to 0\r\n"));
    const std::vector<uint64_t> a = readTimes(0x2E7), b = readTimes(0x323), c = readTimes(0x35F);
    ASSERT_TRUE(a.size() == 2 && b.size() == 2 && c.size() == 2);
    EXPECT_GE(b[0] - a[0], 1000000u);  // a whole interval of its own
    EXPECT_GE(c[0] - b[0], 1000000u);
}

TEST_F(CalProcedure, PhaseTakesOffTheErrorAndSkipsANegativeReading) {
    sim::setPhaseError(sim::Phase::A, 0.1);
    sim::setCurrentLag(sim::Phase::A, 60);
    sim::setCurrentLag(sim::Phase::B, 60);
    sim::setCurrentLag(sim::Phase::C, -60);  // leading: negative reactive energy
    EXPECT_EQ(run(&QM9000::processCalPhase), 0);
    const auto lW = static_cast<int32_t>(sim::chipRegister(0x2E7)),
               lV = static_cast<int32_t>(sim::chipRegister(0x2F1));
    const double dError = calmath::phaseError(calmath::phaseTangent(lW, lV));
    EXPECT_EQ(pending("APHCAL0"),
              toRegisterS32(calmath::phaseCorrection(dError, calmath::omega(50)) * calmath::GAIN_UNIT));
    EXPECT_NEAR(pendingFloat("APHCAL0"), 0.1, 5e-4);  // degrees
    EXPECT_NEAR(pendingFloat("BPHCAL0"), 0.0, 5e-4);
    EXPECT_FALSE(constant("CPHCAL0").s_bChanged);
    EXPECT_TRUE(
        has("processCalPhase: Reading below zero!!!!!!!!!!!!!!!\r\nprocessCalPhase: lWATTHR/lVARHR: 0x"));
    EXPECT_TRUE(has("processCalPhase: Omega = 0.039270\r\nprocessCalPhase: Phase error (degrees) = 0.0017"));
    // Undone on the chip: the measured angle is 60 degrees again.
    EXPECT_NEAR(sim::chipRegister(0x485) * 9.765625e-7 * 50 * 360, 60.0, 0.02);
}

TEST_F(CalProcedure, RegionCommandsNameTheRegionsRegisters) {
    m_block->s_ulCalRegion = 2;
    m_block->s_fCalThreshLo = 10.0f;
    m_block->s_fCalThreshHi = 100.0f;
    EXPECT_EQ(run(&QM9000::processCalMultipointDefine), 0);
    EXPECT_EQ(pending("MTTHR_L2"), 1490640);
    EXPECT_EQ(pending("MTTHR_H2"), 14906403);
    EXPECT_EQ(pendingFloat("MTTHR_H2"), 100.0f);
    EXPECT_TRUE(has("Begin \r\n\r\nsetPending: MTTHR_L2 => 1490640, 10.000000\r\nRegister MTTHR_L2 found"));

    m_block->s_ulCalRegion = 1;
    sim::setChipRegister(0x24C, 12000000);
    EXPECT_EQ(run(&QM9000::processCalMultipointGain), 0);
    EXPECT_EQ(pending("CIGAIN1"), calmath::gainRegister(calmath::expectedCurrentCode(5.0f, FSA) / 12000000u));
    EXPECT_TRUE(constant("AIGAIN1").s_bChanged && constant("BIGAIN1").s_bChanged);
    EXPECT_FALSE(constant("CIGAIN").s_bChanged || constant("NIGAIN").s_bChanged ||
                 constant("CIGAIN0").s_bChanged);
    EXPECT_TRUE(readTimes(0x266).empty()) << "the neutral is not calibrated per region";

    m_block->s_ulCalRegion = 3;
    for (sim::Phase p : {sim::Phase::A, sim::Phase::B, sim::Phase::C}) sim::setCurrentLag(p, 60);
    EXPECT_EQ(run(&QM9000::processCalMultipointPhase), 0);
    EXPECT_NEAR(static_cast<int32_t>(pending("APHCAL3")), 0, 2000);
    EXPECT_EQ(pendingFloat("CPHCAL3"), 1.0f);
    EXPECT_TRUE(has("\nOmega: 0.039270\nPhase error: "));
}

// A result that is no calibration (a gain beyond a factor of ten, a value
// outside its register, a phase from no energy) refuses the whole procedure
// as a missing input does: nothing set pending, no calibration register written.
TEST_F(CalProcedure, ImpossibleResultsSetAndPushNothing) {
    const struct {
        Procedure procedure;
        uint16_t unPinned;  // pinned to ulReading; 0: none
        uint32_t ulReading;
        float fAmps;  // applied, while the line carries 5 A at PF 0.8 (none on C)
        const char* pszMessage;
        bool bClosed;
    } cases[] = {
        {&QM9000::processCalVGain, 0x24D, 0, 5, ": CVGAIN out of range (inf) \r\n", true},
        {&QM9000::processCalIGain, 0x20C, 130000000, 5, ": AIGAIN out of range (0.09", true},
        {&QM9000::processCalVOS, 0x20D, 0, 5, ": AVRMSOS out of range (35871", false},
        {&QM9000::processCalPGain, 0, 0, 60, ": APGAIN out of range (14.99", true},
        {&QM9000::processCalPWOS, 0, 0, 3e38f, ": Expected xWATT out of range (inf) \r\n", true},
        {&QM9000::processCalPVAROS, 0x211, 0x80000000, 5, ": AVAROS out of range (2147483648.0", true},
        {&QM9000::processCalPhase, 0, 0, 5, ": CPHCAL0 out of range (nan) \r\n", true},
        {&QM9000::processCalMultipointGain, 0x24C, 0, 5, ": CIGAIN1 out of range (inf) \r\n", false},
        {&QM9000::processCalMultipointPhase, 0, 0, 5, ": CPHCAL1 out of range (nan) \r\n", false},
    };
    m_block->s_ulCalRegion = 1;
    sim::setPhaseAmps(sim::Phase::C, 0);  // no energy on C for the phase procedures
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszMessage);
        if (c.unPinned) sim::setChipRegister(c.unPinned, c.ulReading);
        m_block->s_fCalAmps = c.fAmps;
        sim::clearSpiLog();
        EXPECT_EQ(run(c.procedure), 4);
        EXPECT_TRUE(has(c.pszMessage)) << m_output;
        EXPECT_EQ(has(": End ("), c.bClosed);
        EXPECT_FALSE(m_module.m_Cal9000.HasChanged());
        for (const auto& [unAddress, ulValue] : sim::spiWrites()) EXPECT_GE(unAddress, 0x100) << unAddress;
        if (c.unPinned) sim::releaseChipRegister(c.unPinned);
    }
}

TEST_F(CalProcedure, EnableWritesConfig0WithTheCommandsMultipointBit) {
    const struct {
        uint32_t ulOption;
        bool bRogowski, bHPFDisable;
        uint32_t ulConfig0;
    } cases[] = {
        {1, false, true, 0x18}, {0, false, false, 0}, {7, true, false, 0x830}, {0, true, true, 0x828}};
    for (const auto& c : cases) {
        m_block->s_ulCalOption = c.ulOption;
        m_module.m_bRogowskiEnable = c.bRogowski;
        m_module.m_bHPFDisable = c.bHPFDisable;
        sim::clearSpiLog();
        EXPECT_EQ(run(&QM9000::processCalMultipointEnable), 0);
        EXPECT_EQ(sim::spiWrites(), (std::vector<std::pair<uint16_t, uint32_t>>{{0x060, c.ulConfig0}}));
        EXPECT_FALSE(m_module.m_bMultipointEnable);
        EXPECT_FALSE(m_module.m_Cal9000.HasChanged());
    }
}

TEST_F(CalProcedure, WaveformOffsetIsTheMeanOfTheVoltageChannelsUntilSaved) {
    sim::setChipRegister(0x4A0, 0x0F10);  // other buffer settings: the capture clears them
    sim::setChannelError(sim::Channel::VA, {0, 0, 0, 10});
    sim::setChannelError(sim::Channel::VB, {0, 0, 0, -2});
    sim::setChannelError(sim::Channel::IA, {0, 0, 0, 500});  // currents do not count
    EXPECT_EQ(run(&QM9000::processCalWFBOS), 0);
    EXPECT_TRUE(has("WFB Offset(Counts): 2\n"));
    EXPECT_EQ(pending("WFBOS"), 2);
    EXPECT_EQ(pendingFloat("WFBOS"), 2.0f);
    EXPECT_EQ(sim::chipRegister(0x4A0), 0u) << "capture stopped, other settings cleared";
    EXPECT_EQ(sim::chipRegister(0x402) & 0x00800000, 0u) << "page-full report cleared";
    EXPECT_EQ(m_module.m_nWFBOSCounts, 0) << "nothing takes effect before the save";
    EXPECT_EQ(run(&QM9000::processCalSave), 0);
    EXPECT_EQ(m_module.m_nWFBOSCounts, 2);
    EXPECT_NE(
        readFile(m_block->s_pszActiveCal)
            .find(R"({"address": "0xFFFF", "value": 2, "fvalue": 2.000000, "bits": 32, "name": "WFBOS"})"),
        std::string::npos);
}

TEST_F(CalProcedure, WaveformOffsetGivesUpWhenNoBufferFills) {
    sim::setLineFrequency(0);  // no line: the buffer never fills
    const uint64_t ullStart = sim::nowMicros();
    EXPECT_EQ(run(&QM9000::processCalWFBOS), 4);
    const uint64_t ullElapsed = sim::nowMicros() - ullStart;
    EXPECT_GT(ullElapsed, 2000000u);
    EXPECT_LT(ullElapsed, 2002000u);
    EXPECT_EQ(m_output, frame("processCalWFBOS", "processCalWFBOS() - timed out", false));
    EXPECT_FALSE(m_module.m_Cal9000.HasChanged());
}

TEST_F(CalProcedure, IntervalWaitEndsWithAnIntervalWhollyAfterItsStart) {
    sim::advanceMillis(1500);
    sim::setPhaseAmps(sim::Phase::A, 2.5);  // half the power from now on
    bool bDone = false;
    m_output = captureStdout([&] { bDone = m_module.calWaitEGYRDY(5); });
    EXPECT_TRUE(bDone);
    const double dExpected = calmath::intervalEnergyCode(calmath::expectedPowerCode(230.0f, 2.5f, FSV, FSA)) *
                             std::cos(36.87 * calmath::PI / 180);
    EXPECT_NEAR(static_cast<int32_t>(sim::chipRegister(0x2E7)), dExpected, dExpected * 1e-5);
    EXPECT_TRUE(has("calWaitEGYRDY: Received first EGYRDY\r\ncalWaitEGYRDY: Received second EGYRDY\r\n"));
    EXPECT_TRUE(has(",500)\r\n"));

    sim::clearSpiLog();
    captureStdout([&] { m_module.meterOff(); });  // no interval ends any more
    const uint64_t ullStart = sim::nowMicros();
    m_output = captureStdout([&] { bDone = m_module.calWaitEGYRDY(5); });
    EXPECT_FALSE(bDone);
    EXPECT_EQ(m_output, "calWaitEGYRDY: No first EGYRDY received\r\n");
    EXPECT_GE(sim::nowMicros() - ullStart, 5001000u);
    EXPECT_LT(sim::nowMicros() - ullStart, 5100000u);
}

TEST_F(CalProcedure, RegisterTestShowsWhatTheChipKept) {
    EXPECT_EQ(run(&QM9000::processTest), 0);
    EXPECT_EQ(m_output, "Address: 0x000B, Value: 0x00012345\r\n");
    sim::setIgnoreWrites(0x00B, true);
    sim::setChipRegister(0x00B, 7);
    EXPECT_EQ(run(&QM9000::processTest), 0);
    EXPECT_EQ(m_output, "Address: 0x000B, Value: 0x00000007\r\n");
}

}  // namespace
