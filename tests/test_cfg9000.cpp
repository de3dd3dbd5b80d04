// The measurement configuration: settings, derived values, probe lookup, reloads.
#include <string>

#include "CfgProbe.h"
#include "ModuleFixture.h"
#include "ScratchFiles.h"

namespace {

std::string setting(const char* pszName, const std::string& value) {
    return std::string("    { \"name\": \"") + pszName + "\", \"value\": " + value + " },\r\n";
}

class Cfg9000Test : public ModuleUnit {
protected:
    void SetUp() override {
        ModuleUnit::SetUp();
        m_probes.addProbe(0, "Custom", 5.0f, 5.0f, false);
        m_probes.addProbe(6, "Coil", 668.0f, 700.0f, true);
        m_probes.addProbe(2, "Clamp", 20.0f, 21.0f, false);
        m_block->s_pCfgProbe = &m_probes;
    }
    void load(const std::string& lines) {
        const std::string path =
            m_dir.write("QM9000.json", "{\r\n  \"config\": [\r\n" + lines + "  ]\r\n}\r\n");
        m_module.m_Cfg9000.load(path.c_str());
    }

    ScratchDirectory m_dir;
    CfgProbe m_probes;
};

TEST_F(Cfg9000Test, LimitMaskAndFullScaleFollowTheWiring) {
    const struct {
        int nWiring;
        uint32_t ulVoltage, ulCurrent;
        float fFactor;
    } cases[] = {
        {0, 0x00030303, 0x00303030, 1.0f},     {1, 0x00000003, 0x00000030, 1.0f},
        {2, 0x00030003, 0x00300030, 0.90045f}, {3, 0x00030303, 0x00303030, 0.90045f},
        {4, 0x00030003, 0x00300030, 0.9012f},  {5, 0x00030003, 0x00302030, 0.9012f},
        {9, 0x00030303, 0x00303030, 1.0f},
    };
    for (const auto& c : cases) {
        const std::string wiring =
            setting("Wiring", std::to_string(c.nWiring)) + setting("FullScaleVolts", "500");
        load(wiring + setting("VLimitEnable", "1") + setting("ILimitEnable", "1"));
        EXPECT_EQ(m_module.m_ulLimitEnable, c.ulVoltage | c.ulCurrent) << c.nWiring;
        EXPECT_EQ(m_module.m_fFullScaleVoltsCorrected,
                  static_cast<float>(static_cast<double>(c.fFactor) * 500.0));
        load(wiring + setting("ILimitEnable", "2") + setting("VLimitEnable", "0"));
        EXPECT_EQ(m_module.m_ulLimitEnable, c.ulCurrent) << c.nWiring;
    }
}

// The catalogue's rating for probe and frequency replaces the file's full scale, in
// any order; not for the custom probe (0), an unknown one or without a catalogue.
TEST_F(Cfg9000Test, ProbeRatingIsDerivedOnceFrequencyProbeAndFullScaleAreRead) {
    const std::string f50 = setting("FNominal", "50"), coil = setting("ProbeType", "6");
    const std::string fs100 = setting("FullScaleAmps", "100");
    const struct {
        std::string lines;
        float fAmps;
        bool bRogowski;
    } cases[] = {
        {fs100 + f50 + coil, 668, true},
        {f50 + setting("ProbeType", "0") + fs100, 100, false},
        {f50 + setting("ProbeType", "42") + fs100, 100, false},
        {f50 + coil + fs100 + setting("FNominal", "60"), 700, true},
    };
    for (const auto& c : cases) {
        load(c.lines);
        EXPECT_EQ(m_module.m_fFullScaleAmps, c.fAmps) << c.lines;
        EXPECT_EQ(m_module.m_bRogowskiEnable, c.bRogowski) << c.lines;
    }
    m_block->s_pCfgProbe = nullptr;
    load(f50 + coil + setting("FullScaleAmps", "80"));
    EXPECT_EQ(m_module.m_fFullScaleAmps, 80.0f);
    EXPECT_FALSE(m_module.m_bRogowskiEnable);
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

TEST_F(Cfg9000Test, DerivedValuesFollowTheSettings) {
    load(setting("VNominal", "230") + setting("INominal", "5") + setting("VHighPercent", "110") +
         setting("ILowPercent", "10") + setting("PTRatioPrimary", "480") +
         setting("PTRatioSecondary", "120") + setting("CTRatioSecondary", "5") +
         setting("CTRatioPrimary", "200"));  // ratios in either order
    EXPECT_EQ(m_module.m_fVHigh, static_cast<float>(230.0 * (110.0 / 100.0)));
    EXPECT_EQ(m_module.m_fVLow, static_cast<float>(230.0 * (90.0 / 100.0)));
    EXPECT_EQ(m_module.m_fIHigh, static_cast<float>(5.0 * (400.0 / 100.0)));
    EXPECT_EQ(m_module.m_fILow, static_cast<float>(5.0 * (10.0 / 100.0)));
    EXPECT_EQ(m_module.m_fPTRatio, 4.0f);
    EXPECT_EQ(m_module.m_fCTRatio, 40.0f);
    // A secondary of zero, or unreadable, counts as 1.
    load(setting("PTRatioPrimary", "480") + setting("PTRatioSecondary", "0") +
         setting("CTRatioPrimary", "50") + setting("CTRatioSecondary", "\"x\""));
    EXPECT_EQ(m_module.m_fPTRatio, 480.0f);
    EXPECT_EQ(m_module.m_fCTRatio, 50.0f);
    // The energy interval has a floor of five minutes.
    for (const auto& [pszValue, ulMinutes] : {std::pair{"1", 5u}, {"5", 5u}, {"\"60\"", 60u}}) {
        load(setting("EnergyInterval", pszValue));
        EXPECT_EQ(m_module.m_ulEnergyIntervalMinutes, ulMinutes) << pszValue;
    }
}

// A reload resets some defaults, keeps the rest; no file: defaults, nothing derived.
TEST_F(Cfg9000Test, ReloadResetsDefaultsButKeepsTheOtherSettings) {
    load(setting("Wiring", "3") + setting("DemandLimit", "50.5") + setting("VNominal", "230") +
         setting("EnergyEnable", "1") + setting("HPFDisable", "1") + setting("FullScaleVolts", "500") +
         setting("VLimitEnable", "1"));
    ASSERT_NE(m_module.m_ulLimitEnable, 0u);
    const float fVHigh = m_module.m_fVHigh;
    for (const std::string& path : {m_dir.path("missing.json"), m_dir.path()}) {  // a directory is none
        EXPECT_EQ(captureStdout([&] { m_module.m_Cfg9000.load(path.c_str()); }),
                  "Couldn't open file: " + path + "\r\n");
        EXPECT_EQ(m_module.m_fFullScaleVoltsCorrected, 1077.11f);
        EXPECT_EQ(m_module.m_ulLimitEnable, 0u);
        EXPECT_EQ(m_module.m_fVHigh, fVHigh);  // not recomputed
    }
    load(setting("PreTrigCycles", "4"));
    EXPECT_EQ(m_module.m_fNominalVolts, 120.0f);
    EXPECT_FALSE(m_module.m_bHPFDisable);
    EXPECT_EQ(m_module.m_unTotalTrigCycles, 30);
    EXPECT_EQ(m_module.m_fDemandLimit, 50.5f);
    EXPECT_TRUE(m_module.m_bEnergyEnable);
}

}  // namespace
