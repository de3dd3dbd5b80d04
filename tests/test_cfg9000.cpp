// The measurement configuration: settings read into the module, the values
// derived from them, the probe lookup through the host's catalogue, and what
// a reload resets or keeps.
#include <gtest/gtest.h>

#include <string>

#include "CfgProbe.h"
#include "HostBlock.h"
#include "QM9000.h"
#include "ScratchFiles.h"
#include "Sim.h"

namespace {

std::string setting(const char* pszName, const std::string& value) {
    return std::string("    { \"name\": \"") + pszName + "\", \"value\": " + value + " },\r\n";
}

class Cfg9000Test : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        m_block = makeHostBlock();
        m_module.m_pStat = m_block.get();
        m_module.m_Cfg9000.initialize(&m_module);
        // A catalogue with different ratings at 50 and 60 Hz.
        m_probes.addProbe(0, "Custom", 5.0f, 5.0f, false);
        m_probes.addProbe(6, "Coil", 668.0f, 700.0f, true);
        m_probes.addProbe(2, "Clamp", 20.0f, 21.0f, false);
        m_block->s_pCfgProbe = &m_probes;
    }
    void TearDown() override { sim::reset(); }

    // Loads a configuration file made of these lines.
    void load(const std::string& lines) {
        const std::string path =
            m_dir.write("QM9000.json", "{\r\n  \"config\": [\r\n" + lines + "  ]\r\n}\r\n");
        m_module.m_Cfg9000.load(path.c_str());
    }

    ScratchDirectory m_dir;
    HostBlockPtr m_block;
    CfgProbe m_probes;
    QM9000 m_module;
};

TEST_F(Cfg9000Test, LimitMaskFollowsTheWiring) {
    struct Case {
        int nWiring;
        uint32_t ulVoltage, ulCurrent;
    };
    const Case cases[] = {
        {0, 0x00030303, 0x00303030}, {1, 0x00000003, 0x00000030}, {2, 0x00030003, 0x00300030},
        {3, 0x00030303, 0x00303030}, {4, 0x00030003, 0x00300030}, {5, 0x00030003, 0x00302030},
        {9, 0x00030303, 0x00303030},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nWiring);
        const std::string wiring = setting("Wiring", std::to_string(c.nWiring));
        load(wiring + setting("VLimitEnable", "1") + setting("ILimitEnable", "1"));
        EXPECT_EQ(m_module.m_ulLimitEnable, c.ulVoltage | c.ulCurrent);
        load(wiring + setting("VLimitEnable", "1"));
        EXPECT_EQ(m_module.m_ulLimitEnable, c.ulVoltage);
        load(wiring + setting("ILimitEnable", "2") + setting("VLimitEnable", "0"));
        EXPECT_EQ(m_module.m_ulLimitEnable, c.ulCurrent);
        load(wiring);
        EXPECT_EQ(m_module.m_ulLimitEnable, 0u);
    }
}

TEST_F(Cfg9000Test, ProbeRatingIsDerivedOnceFrequencyProbeAndFullScaleAreRead) {
    const std::string frequency = setting("FNominal", "50");
    const std::string probe = setting("ProbeType", "6");
    const std::string fullScale = setting("FullScaleAmps", "100");
    const std::string orders[] = {frequency + probe + fullScale, probe + fullScale + frequency,
                                  fullScale + frequency + probe};
    for (const std::string& lines : orders) {
        SCOPED_TRACE(lines);
        m_module.m_fFullScaleAmps = 1.0f;
        load(lines);
        EXPECT_EQ(m_module.m_fFullScaleAmps, 668.0f);
        EXPECT_TRUE(m_module.m_bRogowskiEnable);
    }
    // A key repeated later derives again, with the values then in force.
    load(frequency + probe + fullScale + setting("FNominal", "60"));
    EXPECT_EQ(m_module.m_fFullScaleAmps, 700.0f);
    load(frequency + probe + fullScale + setting("ProbeType", "2"));
    EXPECT_EQ(m_module.m_fFullScaleAmps, 20.0f);
    EXPECT_FALSE(m_module.m_bRogowskiEnable);
}

TEST_F(Cfg9000Test, FileFullScaleStaysForTheCustomProbeAnUnknownProbeNoCatalogueOrNoFullScale) {
    load(setting("FNominal", "50") + setting("ProbeType", "0") + setting("FullScaleAmps", "100"));
    EXPECT_EQ(m_module.m_fFullScaleAmps, 100.0f);
    load(setting("FNominal", "50") + setting("ProbeType", "42") + setting("FullScaleAmps", "90"));
    EXPECT_EQ(m_module.m_fFullScaleAmps, 90.0f);
    EXPECT_FALSE(m_module.m_bRogowskiEnable);
    load(setting("FNominal", "50") + setting("ProbeType", "6"));  // no full scale: the previous one stays
    EXPECT_EQ(m_module.m_fFullScaleAmps, 90.0f);
    EXPECT_FALSE(m_module.m_bRogowskiEnable);

    m_block->s_pCfgProbe = nullptr;
    load(setting("FNominal", "50") + setting("ProbeType", "6") + setting("FullScaleAmps", "80"));
    EXPECT_EQ(m_module.m_fFullScaleAmps, 80.0f);
    EXPECT_FALSE(m_module.m_bRogowskiEnable);
}

TEST_F(Cfg9000Test, TransformerRatiosAreComputedInEitherOrder) {
    load(setting("PTRatioPrimary", "480") + setting("PTRatioSecondary", "120") +
         setting("CTRatioSecondary", "5") + setting("CTRatioPrimary", "200"));
    EXPECT_EQ(m_module.m_fPTRatio, 4.0f);
    EXPECT_EQ(m_module.m_fCTRatio, 40.0f);
    load(setting("PTRatioSecondary", "120") + setting("PTRatioPrimary", "480"));
    EXPECT_EQ(m_module.m_fPTRatio, 4.0f);
    EXPECT_EQ(m_module.m_fCTRatio, 1.0f);  // back to its default
    // A secondary of zero, or unreadable, counts as 1.
    load(setting("PTRatioPrimary", "480") + setting("PTRatioSecondary", "0") +
         setting("CTRatioPrimary", "50") + setting("CTRatioSecondary", "\"x\""));
    EXPECT_EQ(m_module.m_fPTRatioSecondary, 1.0f);
    EXPECT_EQ(m_module.m_fPTRatio, 480.0f);
    EXPECT_EQ(m_module.m_fCTRatio, 50.0f);
}

TEST_F(Cfg9000Test, EnergyIntervalHasAFloorOfFiveMinutes) {
    const std::pair<const char*, uint32_t> cases[] = {{"1", 5u},   {"0", 5u},       {"5", 5u},
                                                      {"15", 15u}, {"\"60\"", 60u}, {"-1", 4294967295u}};
    for (const auto& [pszValue, ulMinutes] : cases) {
        load(setting("EnergyInterval", pszValue));
        EXPECT_EQ(m_module.m_ulEnergyIntervalMinutes, ulMinutes) << pszValue;
    }
}

// A window of 4095 records or more would end where it starts in the 4096-record ring.
TEST_F(Cfg9000Test, TriggerCyclesAreLimitedToWhatTheRingHolds) {
    const std::pair<const char*, uint16_t> cases[] = {
        {"0", 0}, {"4094", 4094}, {"4095", 4094}, {"65536", 4094}, {"-1", 4094}};
    for (const char* pszName : {"PreTrigCycles", "TotalTrigCycles"}) {
        for (const auto& [pszValue, unCycles] : cases) {
            SCOPED_TRACE(std::string(pszName) + " " + pszValue);
            const std::string output = captureStdout([&] { load(setting(pszName, pszValue)); });
            const bool bPre = std::string(pszName) == "PreTrigCycles";
            EXPECT_EQ(m_module.m_unPreTrigCycles, bPre ? unCycles : 10);
            EXPECT_EQ(m_module.m_unTotalTrigCycles, bPre ? 30 : unCycles);
            const std::string message = std::string(pszName) + " " + pszValue + " limited to 4094\r\n";
            EXPECT_EQ(output.find("Cfg9000::load: " + message) != std::string::npos,
                      std::to_string(unCycles) != pszValue);
        }
    }
}

TEST_F(Cfg9000Test, ReloadResetsDefaultsButKeepsTheOtherSettings) {
    load(setting("Wiring", "3") + setting("DemandLimit", "50.5") + setting("VNominal", "230") +
         setting("EnergyEnable", "1") + setting("HPFDisable", "1"));
    ASSERT_EQ(m_module.m_unWiring, 3);
    load(setting("PreTrigCycles", "4"));
    EXPECT_EQ(m_module.m_unWiring, 0);
    EXPECT_EQ(m_module.m_fNominalVolts, 120.0f);
    EXPECT_FALSE(m_module.m_bHPFDisable);
    EXPECT_EQ(m_module.m_unPreTrigCycles, 4);
    EXPECT_EQ(m_module.m_unTotalTrigCycles, 30);
    EXPECT_EQ(m_module.m_fDemandLimit, 50.5f);
    EXPECT_TRUE(m_module.m_bEnergyEnable);
}

TEST_F(Cfg9000Test, DerivedValuesFollowTheSettings) {
    load(setting("VNominal", "230") + setting("INominal", "5") + setting("VHighPercent", "110") +
         setting("ILowPercent", "10"));
    EXPECT_EQ(m_module.m_fVHigh, static_cast<float>(230.0 * (110.0 / 100.0)));
    EXPECT_EQ(m_module.m_fVLow, static_cast<float>(230.0 * (90.0 / 100.0)));
    EXPECT_EQ(m_module.m_fIHigh, static_cast<float>(5.0 * (400.0 / 100.0)));
    EXPECT_EQ(m_module.m_fILow, static_cast<float>(5.0 * (10.0 / 100.0)));

    const std::pair<int, float> factors[] = {{1, 1.0f},    {2, 0.90045f}, {3, 0.90045f},
                                             {4, 0.9012f}, {5, 0.9012f},  {0, 1.0f}};
    for (const auto& [nWiring, fFactor] : factors) {
        load(setting("Wiring", std::to_string(nWiring)) + setting("FullScaleVolts", "500"));
        EXPECT_EQ(m_module.m_fFullScaleVoltsCorrected,
                  static_cast<float>(static_cast<double>(fFactor) * 500.0))
            << nWiring;
    }
}

TEST_F(Cfg9000Test, ValuesAreReadAsTheScannerReadsThem) {
    load(setting("FNominal", "\"2.5\"") + setting("VNominal", "high") + setting("WFBOSCounts", "65535") +
         setting("PGAGain", "65537") + setting("VInputOrder", "2") + setting("VoltageInputOrder", "4") +
         setting("IInputOrder", "3") +
         // Only the first name on a line counts, with the first "value".
         "    { \"name\": \"Wiring\", \"value\": 2 }, { \"name\": \"ComputeB\", \"value\": 7 },\r\n");
    EXPECT_EQ(m_module.m_fNominalFreq, 2.5f);
    EXPECT_EQ(m_module.m_fNominalVolts, 0.0f);
    EXPECT_EQ(m_module.m_nWFBOSCounts, -1);
    EXPECT_EQ(m_module.m_unPGAGain, 1);
    EXPECT_EQ(m_module.m_nVoltageInputOrder, 4u);
    EXPECT_EQ(m_module.m_nCurrentInputOrder, 3u);
    EXPECT_EQ(m_module.m_unWiring, 2);
    EXPECT_EQ(m_module.m_unComputeB, 0);
}

TEST_F(Cfg9000Test, UnreadableFileLeavesDefaultsAndSkipsTheDerivedValues) {
    load(setting("Wiring", "3") + setting("FullScaleVolts", "500") + setting("VLimitEnable", "1"));
    ASSERT_NE(m_module.m_ulLimitEnable, 0u);
    const float fVHigh = m_module.m_fVHigh;
    for (const std::string& path : {m_dir.path("missing.json"), m_dir.path()}) {  // a directory is none
        EXPECT_EQ(captureStdout([&] { m_module.m_Cfg9000.load(path.c_str()); }),
                  "Couldn't open file: " + path + "\r\n");
        EXPECT_EQ(m_module.m_unWiring, 0);
        EXPECT_EQ(m_module.m_fFullScaleVolts, 1077.11f);
        EXPECT_EQ(m_module.m_fFullScaleVoltsCorrected, 1077.11f);
        EXPECT_EQ(m_module.m_ulLimitEnable, 0u);
        EXPECT_EQ(m_module.m_fVHigh, fVHigh);  // not recomputed
    }
}

TEST_F(Cfg9000Test, ShippedExampleDescribesA230VoltWyeMeter) {
    m_block->s_pCfgProbe = nullptr;
    const std::string output =
        captureStdout([&] { m_module.m_Cfg9000.load(QM_SOURCE_DIR "/config/QM9000.json"); });
    EXPECT_EQ(output, "Cfg9000::load: " QM_SOURCE_DIR "/config/QM9000.json\r\n");
    EXPECT_EQ(m_module.m_unWiring, 3);
    EXPECT_EQ(m_module.m_fNominalFreq, 50.0f);
    EXPECT_EQ(m_module.m_fNominalVolts, 230.0f);
    EXPECT_EQ(m_module.m_fFullScaleVolts, 500.0f);
    EXPECT_EQ(m_module.m_fFullScaleAmps, 10.0f);
    EXPECT_EQ(m_module.m_ulLimitEnable, 0x00333333u);
}

}  // namespace
