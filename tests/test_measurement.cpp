// The meter end to end through the loaded plug-in: known signals on the simulated chip.
#include <cmath>
#include <vector>

#include "ConfigFile.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double LAG = 36.87;                         // degrees: PF 0.8
constexpr double FSV_WYE = 500.0 * double(0.90045f);  // the scale the module derives for wye

// Within 0.1 % of the truth, or the given absolute resolution where coarser.
#define EXPECT_TRUE_VALUE(actual, truth, resolution) \
    EXPECT_NEAR((actual), (truth), std::max(std::fabs(double(truth)) * 0.001, double(resolution)))

class Measurement : public PluginTest {
protected:
    void startWith(const Settings& settings) {
        writeConfig(m_config, settings);
        sim::setFullScale(FSV_WYE, 10.0);
        ASSERT_EQ(m_pModule->initialize(m_config.c_str(), nullptr, m_block.get()), 0);
        ASSERT_EQ(m_pModule->updateConfig(m_config.c_str()), 0);
    }
    std::vector<float> registerMap() {
        std::vector<float> values(118, -12345.0f);
        EXPECT_EQ(m_pModule->realtimeGet(10, values.data(), 472), 0);
        return values;
    }
    ScratchDirectory m_dir;  // removed with whatever the module wrote there too
    const std::string m_config = m_dir.path("QM9000.json");
};

TEST_F(Measurement, RecordHoldsTheAppliedTruth) {
    startWith(wyeMeter());
    runFor(300);
    const std::vector<float> v = registerMap();
    const double dVA = 230.0 * 5.0, dWatts = dVA * std::cos(LAG * PI / 180),
                 dVAR = dVA * std::sin(LAG * PI / 180);
    const struct {
        std::vector<int> values;
        double dTruth, dResolution;
    } rows[] = {
        {{jrnl_FREQ_A}, 50.0, 0.001},
        {{jrnl_VRMS_A, jrnl_FVRMS_A, jrnl_VRMS1_A, jrnl_VRMS1012_A}, 230.0, 0.01},
        {{jrnl_IRMS_A, jrnl_FIRMS_A, jrnl_IRMS1_A, jrnl_IRMS1012_A}, 5.0, 0.001},
        {{jrnl_WATT_A, jrnl_FWATT_A}, dWatts, 0.05},
        {{jrnl_VA_A, jrnl_FVA_A}, dVA, 0.05},
        {{jrnl_VAR_A, jrnl_FVAR_A}, dVAR, 0.05},
        {{jrnl_PF_A}, 0.8, 1e-6},
        {{jrnl_VTHD_A, jrnl_ITHD_A}, 0.0, 0.01},
        {{jrnl_IANGLE_A}, LAG, 0.02},
    };
    for (int p = 0; p < 3; p++)
        for (const auto& row : rows)
            for (int q : row.values) EXPECT_TRUE_VALUE(v[q + p], row.dTruth, row.dResolution) << q + p;
    EXPECT_EQ(v[jrnl_VANGLE_A], 0.0f);
    EXPECT_NEAR(v[jrnl_VANGLE_B], -120.0, 0.12);
    EXPECT_NEAR(v[jrnl_VANGLE_C], 120.0, 0.12);
    EXPECT_NEAR(v[jrnl_NIRMS], 0.0, 0.01);  // balanced: the neutral carries nothing
    EXPECT_TRUE_VALUE(v[jrnl_TOT_WATT], 3 * dWatts, 0.1);
    EXPECT_TRUE_VALUE(v[jrnl_TOT_PF], 0.8, 1e-6);
    EXPECT_EQ(block().s_unSignalValidFlags & 0x0177, 0x0077);  // all present, power forward
    ASSERT_EQ(m_pModule->realtimeGet(7, nullptr, 0),
              0);  // arm a snapshot: one cycle from the rising zero crossing
    std::vector<float> s(768, 0.0f);
    int nResult = 3;
    for (int i = 0; i < 200 && nResult == 3; i++) {
        runFor(5);
        nResult = m_pModule->realtimeGet(1, s.data(), 3072);
    }
    ASSERT_EQ(nResult, 0);
    const double dVoltPeak = 230.0 * std::sqrt(2.0);
    EXPECT_TRUE(s[0] < 0 && s[1] >= 0);               // voltage A rises between the first samples
    EXPECT_NEAR(s[33], dVoltPeak, dVoltPeak * 0.01);  // a quarter cycle in
    EXPECT_TRUE(s[384 + 13] < 0 && s[384 + 15] > 0);  // current A lags 36.87 degrees: 13.1 samples
    EXPECT_TRUE(s[128 + 42] < 0 && s[128 + 44] > 0);  // voltage B lags A by a third of a cycle: 42.7 samples
}

// PT and CT ratios scale volts, amps, watts and every energy quantity after updateConfig.
// The angle registers count time: off the nominal frequency the angles still
// read the line's own, so a balanced line shows no unbalance at 49 or 51.5 Hz.
TEST_F(Measurement, AnglesHoldOffTheNominalFrequency) {
    startWith(wyeMeter());
    for (double dHertz : {49.0, 51.5}) {
        sim::setLineFrequency(dHertz);
        runFor(300);
        const std::vector<float> v = registerMap();
        EXPECT_NEAR(v[jrnl_FREQ_A], dHertz, 0.01);
        EXPECT_NEAR(v[jrnl_VANGLE_B], -120.0, 0.12) << dHertz;
        EXPECT_NEAR(v[jrnl_VANGLE_C], 120.0, 0.12) << dHertz;
        EXPECT_NEAR(v[jrnl_IANGLE_A], LAG, 0.05) << dHertz;
    }
}

TEST_F(Measurement, RatiosScaleValuesAndEnergy) {
    const struct {
        const char *pszPT, *pszCT;
        double dPT, dCT;
    } cases[] = {{"1", "1", 1, 1}, {"2", "1", 2, 1}, {"1", "20", 1, 20}, {"2", "20", 2, 20}};
    startWith(wyeMeter());
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "PT " << c.dPT << ", CT " << c.dCT);
        Settings settings = with(with(wyeMeter(), "EnergyEnable", "1"), "EnergyInterval", "5");
        settings = with(with(settings, "PTRatioPrimary", c.pszPT), "CTRatioPrimary", c.pszCT);
        sim::setNoInterrupts(false);
        writeConfig(m_config, settings);
        ASSERT_EQ(m_pModule->updateConfig(m_config.c_str()), 0);
        ASSERT_EQ(m_pModule->monitorStart(), 0);
        runFor(300);
        const std::vector<float> v = registerMap();
        EXPECT_TRUE_VALUE(v[jrnl_VRMS_B], 230.0 * c.dPT, 0.01);
        EXPECT_TRUE_VALUE(v[jrnl_IRMS_B], 5.0 * c.dCT, 0.001);
        EXPECT_TRUE_VALUE(v[jrnl_WATT_B], 920.0 * c.dPT * c.dCT, 0.05);
        sim::setNoInterrupts(true);
        runFor(605 * 1000, 200);  // at least one whole five-minute interval
        const ACCUMULATOR_DATA* pLast = block().s_pLastAccumulator;
        ASSERT_GT(pLast->m_9000AccumCount, 290);
        const double dHours = pLast->m_9000AccumCount / 3600.0, dRatio = c.dPT * c.dCT;
        EXPECT_TRUE_VALUE(pLast->m_fEnergyAccum[accum_BWATTHR], 920.0 * dRatio * dHours, 0.01);
        EXPECT_TRUE_VALUE(pLast->m_fEnergyAccum[accum_CVARHR], 690.0 * dRatio * dHours, 0.01);
        EXPECT_TRUE_VALUE(pLast->m_fEnergyAccum[accum_AVAHR], 1150.0 * dRatio * dHours, 0.01);
        EXPECT_TRUE_VALUE(pLast->m_fEnergyAccum[accum_TOT_WATTHR], 2760.0 * dRatio * dHours, 0.03);
    }
}

// Reverse power: negative watts, PF and the flag; harmonics: THD, true but not fundamental RMS.
TEST_F(Measurement, ReversePowerAndHarmonics) {
    for (sim::Phase phase : {sim::Phase::A, sim::Phase::B, sim::Phase::C})
        sim::setCurrentLag(phase, 180.0 - LAG);
    sim::setHarmonics(sim::Phase::A, sim::Quantity::Voltage, {{3, 5.0}});
    sim::setHarmonics(sim::Phase::B, sim::Quantity::Current, {{5, 12.0}, {7, 9.0}});
    startWith(wyeMeter());
    runFor(300);
    const std::vector<float> v = registerMap();
    EXPECT_TRUE_VALUE(v[jrnl_VTHD_A], 5.0, 0.01);
    EXPECT_TRUE_VALUE(v[jrnl_ITHD_B], 15.0, 0.01);  // sqrt(12^2 + 9^2)
    EXPECT_TRUE_VALUE(v[jrnl_FVRMS_A], 230.0, 0.01);
    EXPECT_TRUE_VALUE(v[jrnl_VRMS_A], 230.0 * std::sqrt(1.0025), 0.01);
    EXPECT_TRUE_VALUE(v[jrnl_WATT_C], -920.0, 0.05);
    EXPECT_TRUE_VALUE(v[jrnl_PF_C], -0.8, 1e-6);
    EXPECT_TRUE_VALUE(v[jrnl_TOT_WATT], -2760.0, 0.1);
    EXPECT_NE(block().s_unSignalValidFlags & 0x0100, 0);  // reverse power
}

// Request 5's third block is the peak demand.
TEST_F(Measurement, EnergyRecordCarriesThePeakDemand) {
    startWith(with(with(wyeMeter(), "EnergyEnable", "1"), "EnergyInterval", "60"));
    sim::setNoInterrupts(true);
    ASSERT_EQ(m_pModule->monitorStart(), 0);
    runFor(3200, 10);
    for (sim::Phase phase : {sim::Phase::A, sim::Phase::B, sim::Phase::C}) sim::setPhaseAmps(phase, 1.0);
    runFor(4000, 10);
    std::vector<float> energy(72);
    ASSERT_EQ(m_pModule->realtimeGet(5, energy.data(), 288), 0);
    EXPECT_TRUE_VALUE(energy[48 + accum_TOT_WATT_ACC], 2760.0, 0.1);
}

}  // namespace
