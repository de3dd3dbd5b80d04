// The calibration procedures of the module class against the simulated chip.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "CalibrationBench.h"
#include "CalibrationMath.h"
#include "ModuleFixture.h"
#include "ScratchFiles.h"

namespace {

using Procedure = int (QM9000::*)();
constexpr float FSV = 500.0f, FSA = 10.0f;
constexpr float INF = std::numeric_limits<float>::infinity(), NaN = std::numeric_limits<float>::quiet_NaN();

class CalProcedure : public ModuleUnit {
protected:
    void SetUp() override {
        ModuleUnit::SetUp();
        sim::setFullScale(FSV, FSA);
        captureStdout([&, &pmu = m_module] {
            pmu.m_fFullScaleVoltsCorrected = FSV;
            pmu.m_fFullScaleAmps = FSA;
            pmu.m_fNominalFreq = 50.0f;
            pmu.updateLSBs();
            const std::string path = m_dir.write("Cal9000.json", calibrationListFile());
            snprintf(m_block->s_pszActiveCal, sizeof(m_block->s_pszActiveCal), "%s", path.c_str());
            pmu.m_Cal9000.load(path.c_str());
            pmu.Configure9000Regs();
            pmu.meterOn();
        });
        m_block->s_fCalVolts = 230.0f;
        m_block->s_fCalAmps = 5.0f;
        sim::setNeutralAmps(5);  // the calibrator drives every current input
    }

    int run(Procedure procedure) {
        int nResult = -1;
        m_output = captureStdout([&] { nResult = (m_module.*procedure)(); });
        return nResult;
    }
    const CAL_CONSTANT& constant(const std::string& name) {
        for (const CAL_LIST* pNode = m_module.m_Cal9000.m_pCalList; pNode; pNode = pNode->s_pNextCal)
            if (name == pNode->s_Cal.s_pszCalName) return pNode->s_Cal;
        throw std::out_of_range(name);
    }
    int32_t pending(const std::string& name) { return static_cast<int32_t>(constant(name).s_ulCalPending); }
    float pendingFloat(const std::string& name) { return constant(name).s_fCalPending; }
    bool has(const std::string& text) const { return m_output.find(text) != std::string::npos; }

    ScratchDirectory m_dir;
    std::string m_output;
};

// Measured register and the constant computed from it: phases A, B, C (0x20 apart), then N.
using Pairs = std::vector<std::pair<uint16_t, std::string>>;
struct Flavour {
    uint16_t unA;
    const char* pszSuffix;
    uint16_t unNeutral = 0;
};
Pairs phasesOf(std::initializer_list<Flavour> flavours) {
    Pairs pairs;
    for (const auto& [unA, pszSuffix, unNeutral] : flavours) {
        for (int p = 0; p < 3; p++)
            pairs.push_back({uint16_t(unA + 0x20 * p), char('A' + p) + std::string(pszSuffix)});
        if (unNeutral) pairs.push_back({unNeutral, "N" + std::string(pszSuffix)});
    }
    return pairs;
}

// Every measured register pinned to a reading of its own; the watched one is sampled last.
TEST_F(CalProcedure, EachReadingCalibratesItsOwnRegisterAtItsOwnPace) {
    const double dVolts = calmath::expectedVoltageCode(230.0f, FSV),
                 dAmps = calmath::expectedCurrentCode(5.0f, FSA);
    const struct {
        Procedure procedure;
        uint16_t unWatched;
        int nSamples, nReads;
        unsigned unWaitMillis;
        Pairs pairs;
        int32_t lFirstReading = 0, lStep = 0;
        std::function<int32_t(int32_t)> formula = nullptr;
    } cases[] = {
        {&QM9000::processCalVGain, 0x20D, 10, 2, 30, phasesOf({{0x20D, "VGAIN"}}), 33941880, 685694,
         [&](int32_t v) { return calmath::gainRegister(dVolts / uint32_t(v)); }},  // 1 % low, 1 % high
        {&QM9000::processCalIGain, 0x266, 10, 2, 30, phasesOf({{0x20C, "IGAIN", 0x266}}), 12000000, 100000,
         [&](int32_t v) { return calmath::gainRegister(dAmps / uint32_t(v)); }},  // the neutral, last
        {&QM9000::processCalVOS, 0x21C, 10, 2, 11,
         phasesOf({{0x20D, "VRMSOS"}, {0x20F, "VFRMSOS"}, {0x21A, "VRMSONEOS"}, {0x21C, "VRMS1012OS"}}),
         34280000, 1000, [&](int32_t v) { return toRegisterS32(calmath::rmsOffset(dVolts, v)); }},
        {&QM9000::processCalIOS, 0x268, 10, 2, 11,
         phasesOf({{0x20C, "IRMSOS", 0x266},
                   {0x20E, "IFRMSOS"},
                   {0x219, "IRMSONEOS", 0x267},
                   {0x21B, "IRMS1012OS", 0x268}}),
         12400000, 1000, [&](int32_t v) { return toRegisterS32(calmath::rmsOffset(dAmps, v)); }},
        {&QM9000::processCalPWOS, 0x253, 100, 2, 11, phasesOf({{0x210, "WATTOS"}, {0x213, "FWATTOS"}}), 990,
         -7, [](int32_t v) { return 1000 - v; }},  // 100 V x 5 A / 0.5 W per count
        {&QM9000::processCalPVAROS, 0x254, 100, 1, 10, phasesOf({{0x211, "VAROS"}, {0x214, "FVAROS"}}), -25,
         9, [](int32_t v) { return -v; }},
    };
    m_module.m_fPMAX_LSB = 0.5f;
    for (const auto& c : cases) {
        m_block->s_fCalVolts = c.procedure == &QM9000::processCalPWOS ? 100.0f : 230.0f;
        for (size_t i = 0; i < c.pairs.size(); i++)
            sim::setChipRegister(c.pairs[i].first, uint32_t(c.lFirstReading + c.lStep * int32_t(i)));
        sim::clearSpiLog();
        EXPECT_EQ(run(c.procedure), 0);
        std::vector<uint64_t> times;
        for (const sim::SpiFrame& f : sim::spiLog())
            if (f.kind == sim::FrameKind::Read32 && f.address == c.unWatched) times.push_back(f.timeMicros);
        ASSERT_EQ(times.size(), size_t(c.nSamples * c.nReads)) << c.unWatched;
        EXPECT_NEAR(double(times.back() - times[0]), (c.nSamples - 1) * c.unWaitMillis * 1000.0,
                    500.0 * c.nSamples);
        for (size_t i = 0; i < c.pairs.size(); i++) {
            const int32_t lExpected = c.formula(c.lFirstReading + c.lStep * int32_t(i));
            EXPECT_EQ(pending(c.pairs[i].second), lExpected) << c.pairs[i].second;
            EXPECT_EQ(sim::chipRegister(constant(c.pairs[i].second).s_ulCalRegister), uint32_t(lExpected));
        }
        for (const auto& pair : c.pairs) sim::releaseChipRegister(pair.first);
    }
    EXPECT_TRUE(pendingFloat("AWATTOS") == 1.0f && pendingFloat("AVRMSOS") == 0.0f);
}

// An unusable input stops the procedure before any reading; an impossible result
// refuses the whole procedure: nothing pending, nothing pushed.
TEST_F(CalProcedure, MissingOrImpossibleInputsAndResultsSetAndPushNothing) {
    using Q = QM9000;
    // Applied volts and amps (the line carries 230 V, 5 A at PF 0.8, none on C), region, register
    // pinned (0: none) to a reading, message, whether it stops before reading.
    const std::tuple<Procedure, float, float, uint32_t, uint16_t, uint32_t, const char*, bool> cases[] = {
        {&Q::processCalVGain, 0, 5, 0, 0, 0, "No calibration voltage specified \r\n", 1},
        {&Q::processCalIGain, 230, 0, 0, 0, 0, "No calibration current specified \r\n", 1},
        {&Q::processCalIOS, 230, 0, 0, 0, 0, "No calibration current specified \r\n", 1},
        {&Q::processCalPGain, 0, 0, 0, 0, 0, "No calibration voltage specified \r\n", 1},
        {&Q::processCalVOS, NaN, 5, 0, 0, 0, "Calibration voltage out of range (nan) \r\n", 1},
        {&Q::processCalPGain, 230, INF, 0, 0, 0, "Calibration current out of range (inf) \r\n", 1},
        {&Q::processCalPWOS, 230, -INF, 0, 0, 0, "Calibration current out of range (-inf) \r\n", 1},
        {&Q::processCalPVAROS, -230, 5, 0, 0, 0, "Calibration voltage out of range (-230.000000) \r\n", 1},
        {&Q::processCalMultipointDefine, -10, 100, 1, 0, 0, "Begin \r\n", 1},  // a negative threshold
        {&Q::processCalMultipointGain, 230, 5, 5, 0, 0, "Begin \r\n", 1},
        {&Q::processCalMultipointGain, 230, NaN, 1, 0, 0, "Begin \r\n", 1},
        {&Q::processCalMultipointPhase, 230, 5, 5, 0, 0, "Begin \r\n", 1},
        {&Q::processCalVGain, 230, 5, 0, 0x24D, 0, "CVGAIN out of range (inf) \r\n", 0},
        {&Q::processCalVGain, 1e-20f, 5, 0, 0, 0, "AVGAIN out of range (0.00", 0},  // no meter reads that low
        {&Q::processCalIGain, 230, 1e-20f, 0, 0, 0, "AIGAIN out of range (0.00", 0},
        {&Q::processCalIGain, 230, 5, 0, 0x20C, 130000000, "AIGAIN out of range (0.09", 0},
        {&Q::processCalVOS, 230, 5, 0, 0x20D, 0, "AVRMSOS out of range (35871", 0},
        {&Q::processCalPGain, 230, 60, 0, 0, 0, "APGAIN out of range (14.99", 0},
        {&Q::processCalPWOS, 230, 3e38f, 0, 0, 0, "Expected xWATT out of range (inf) \r\n", 0},
        {&Q::processCalPVAROS, 230, 5, 0, 0x211, 0x80000000, "AVAROS out of range (2147483648.0", 0},
        {&Q::processCalPhase, 230, 5, 0, 0, 0, "CPHCAL0 out of range (nan) \r\n", 0},
        {&Q::processCalMultipointGain, 230, 5, 1, 0x24C, 0, "CIGAIN1 out of range (inf) \r\n", 0},
        {&Q::processCalMultipointPhase, 230, 5, 1, 0, 0, "CPHCAL1 out of range (nan) \r\n", 0},
    };
    sim::setPhaseAmps(sim::Phase::C, 0);  // no energy on C for the phase procedures
    for (const auto& [procedure, fVolts, fAmps, ulRegion, unPinned, ulReading, pszMessage, bBefore] : cases) {
        if (unPinned) sim::setChipRegister(unPinned, ulReading);
        m_block->s_fCalVolts = m_block->s_fCalThreshLo = fVolts;
        m_block->s_fCalAmps = m_block->s_fCalThreshHi = fAmps;
        m_block->s_ulCalRegion = ulRegion;
        sim::clearSpiLog();
        EXPECT_EQ(run(procedure), 4);
        EXPECT_TRUE(has(pszMessage) && !m_module.m_Cal9000.HasChanged()) << m_output;
        EXPECT_TRUE(sim::spiLog().empty() || !bBefore);
        for (const auto& [unAddress, ulValue] : sim::spiWrites()) EXPECT_GE(unAddress, 0x100) << unAddress;
        if (unPinned) sim::releaseChipRegister(unPinned);
    }
}

// Power gain, phase and regions: what each computes from what it read, forces or skips.
TEST_F(CalProcedure, PowerGainPhaseAndRegionsOfTheWorkedExamples) {
    sim::setGainError(sim::Channel::IA, 2.0);
    for (sim::Phase p : {sim::Phase::A, sim::Phase::B, sim::Phase::C}) sim::setCurrentLag(p, 0);
    sim::setPhaseAmps(sim::Phase::B, 0);
    EXPECT_EQ(run(&QM9000::processCalPGain), 0);
    EXPECT_NEAR(pending("APGAIN") / calmath::GAIN_UNIT, -0.02 / 1.02, 1e-4);
    EXPECT_NEAR(pendingFloat("APGAIN"), pending("APGAIN"), 1);  // the register's scale, not truncated
    EXPECT_TRUE(pending("BPGAIN") == 0 && pendingFloat("BPGAIN") == 1.0f);

    sim::setPhaseAmps(sim::Phase::B, 5);
    sim::setPhaseError(sim::Phase::A, 0.1);
    for (sim::Phase p : {sim::Phase::A, sim::Phase::B}) sim::setCurrentLag(p, 60);
    sim::setCurrentLag(sim::Phase::C, -60);  // leading: negative reactive energy
    EXPECT_EQ(run(&QM9000::processCalPhase), 0);
    EXPECT_NEAR(pendingFloat("APHCAL0"), 0.1, 5e-4);  // degrees
    EXPECT_FALSE(constant("CPHCAL0").s_bChanged);

    m_block->s_ulCalRegion = 4;  // the last
    m_block->s_fCalThreshLo = 10.0f;
    m_block->s_fCalThreshHi = 100.0f;
    EXPECT_EQ(run(&QM9000::processCalMultipointDefine), 0);
    EXPECT_TRUE(pending("MTTHR_L4") == 1490640 && pending("MTTHR_H4") == 14906403 &&
                pendingFloat("MTTHR_H4") == 100.0f);
    m_block->s_ulCalRegion = 1;
    sim::setChipRegister(0x24C, 12000000);
    EXPECT_EQ(run(&QM9000::processCalMultipointGain), 0);
    EXPECT_EQ(pending("CIGAIN1"), calmath::gainRegister(calmath::expectedCurrentCode(5.0f, FSA) / 12000000u));
    EXPECT_TRUE(constant("AIGAIN1").s_bChanged && constant("BIGAIN1").s_bChanged);
    m_block->s_ulCalRegion = 3;
    sim::setCurrentLag(sim::Phase::C, 60);
    EXPECT_EQ(run(&QM9000::processCalMultipointPhase), 0);
    EXPECT_NEAR(static_cast<int32_t>(pending("APHCAL3")), 0, 2000);
    EXPECT_EQ(pendingFloat("CPHCAL3"), 1.0f);
}

// The command's option sets the multipoint bit (never the module's flag).
TEST_F(CalProcedure, EnableWritesConfig0WithTheMultipointBitOfTheCommand) {
    const uint32_t cases[][4] = {{1, 0, 1, 0x18}, {0, 0, 0, 0}, {7, 1, 0, 0x830}, {0, 1, 1, 0x828}};
    for (const auto& [ulOption, ulRogowski, ulHPFDisable, ulConfig0] : cases) {
        m_block->s_ulCalOption = ulOption;
        m_module.m_bRogowskiEnable = ulRogowski;
        m_module.m_bHPFDisable = ulHPFDisable;
        sim::clearSpiLog();
        EXPECT_EQ(run(&QM9000::processCalMultipointEnable), 0);
        EXPECT_EQ(sim::spiWrites(), (std::vector<std::pair<uint16_t, uint32_t>>{{0x060, ulConfig0}}));
        EXPECT_FALSE(m_module.m_bMultipointEnable || m_module.m_Cal9000.HasChanged());
    }
}

TEST_F(CalProcedure, WaveformOffsetIsTheMeanOfTheVoltageChannelsUntilSaved) {
    sim::setChipRegister(0x4A0, 0x0F10);                     // other buffer settings: the capture clears them
    sim::setChannelError(sim::Channel::VA, {0, 0, 0, -10});  // -8 / 3: truncated toward zero
    sim::setChannelError(sim::Channel::VB, {0, 0, 0, 2});
    sim::setChannelError(sim::Channel::IA, {0, 0, 0, 500});  // currents do not count
    EXPECT_EQ(run(&QM9000::processCalWFBOS), 0);
    EXPECT_TRUE(pending("WFBOS") == -2 && pendingFloat("WFBOS") == -2.0f);
    EXPECT_EQ(sim::chipRegister(0x4A0) | (sim::chipRegister(0x402) & 0x00800000), 0u) << "capture cleared";
    EXPECT_EQ(m_module.m_nWFBOSCounts, 0) << "nothing takes effect before the save";
    EXPECT_EQ(run(&QM9000::processCalSave), 0);
    EXPECT_EQ(m_module.m_nWFBOSCounts, -2);

    sim::setLineFrequency(0);  // no line: the buffer never fills
    EXPECT_EQ(run(&QM9000::processCalWFBOS), 4);
    EXPECT_FALSE(m_module.m_Cal9000.HasChanged());
}

}  // namespace
