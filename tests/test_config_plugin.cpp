// The configuration files as the host's module uses them: the plug-in loaded,
// its configuration path handed over, the calibration file named in the block,
// "Init9000.json" in the working directory and the probe catalogue published.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>

#include "AppFiles.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"

namespace {

constexpr uint16_t AVGAIN = 0x00B, DICOEFF = 0x072, ACCMODE = 0x492, ZXTHRSH = 0x499;

std::string setting(const char* pszName, const char* pszValue) {
    return std::string("    { \"name\": \"") + pszName + "\", \"value\": " + pszValue + " },\r\n";
}

class ConfigPluginTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        ASSERT_NE(getcwd(m_szPreviousDirectory, sizeof(m_szPreviousDirectory)), nullptr);
        ASSERT_EQ(chdir(m_dir.path().c_str()), 0);  // where "Init9000.json" is looked for
        setenv("QM_APP_DIR", m_dir.path().c_str(), 1);
        m_probes = loadCfgProbe();  // no probe file: the built-in probes
        block().s_pCfgProbe = m_probes.get();

        m_configPath = m_dir.path("QM9000.json");
        writeConfig("50", "3");
        m_dir.write("Cal9000.json",
                    "{\r\n  \"startup\": {\r\n    \"registers\": [\r\n"
                    "      {\"address\": \"0x000B\", \"value\": 1000, \"fvalue\": 1.000000, "
                    "\"bits\": 32, \"name\": \"AVGAIN\"}\r\n"
                    "    ]\r\n  }\r\n}\r\n");
        snprintf(block().s_pszActiveCal, sizeof(block().s_pszActiveCal), "%s",
                 m_dir.path("Cal9000.json").c_str());
        m_dir.write("Init9000.json",
                    "{ \"address\": \"0x0499\", \"value\": \"0x0042\", \"bits\": \"0x10\" }\r\n");
    }
    void TearDown() override {
        PluginTest::TearDown();
        unsetenv("QM_APP_DIR");
        EXPECT_EQ(chdir(m_szPreviousDirectory), 0);
    }

    void writeConfig(const char* pszFrequency, const char* pszWiring) {
        m_dir.write("QM9000.json", "{\r\n  \"config\": [\r\n" + setting("FNominal", pszFrequency) +
                                       setting("Wiring", pszWiring) + setting("ProbeType", "6") +
                                       setting("FullScaleAmps", "100") + "  ]\r\n}\r\n");
    }
    std::string initializeModule() {
        return captureStdout(
            [&] { EXPECT_EQ(m_pModule->initialize(m_configPath.c_str(), nullptr, m_block.get()), 0); });
    }
    // Position of the first write of this value to this register in the bus log.
    static long firstWrite(uint16_t unAddress, uint32_t ulValue) {
        const auto writes = sim::spiWrites();
        for (size_t i = 0; i < writes.size(); i++)
            if (writes[i] == std::make_pair(unAddress, ulValue)) return static_cast<long>(i);
        return -1;
    }

    ScratchDirectory m_dir;
    char m_szPreviousDirectory[PATH_MAX] = {};
    std::unique_ptr<CfgProbe> m_probes;
    std::string m_configPath;
};

TEST_F(ConfigPluginTest, InitializeAppliesConfigurationCalibrationAndInitFile) {
    const std::string output = initializeModule();
    EXPECT_NE(output.find("Cfg9000::load: " + m_configPath), std::string::npos);
    EXPECT_NE(output.find("Processing cal file: "), std::string::npos);
    EXPECT_NE(output.find("Register AVGAIN (0x000B) ==> 0x000003E8\r\n"), std::string::npos);
    EXPECT_EQ(output.find("Verification failed"), std::string::npos);

    EXPECT_EQ(sim::chipRegister(AVGAIN), 1000u);
    EXPECT_EQ(sim::chipRegister(ZXTHRSH), 0x42u);
    // The initialization file comes after the calibration constants.
    ASSERT_GE(firstWrite(AVGAIN, 1000), 0);
    EXPECT_GT(firstWrite(ZXTHRSH, 0x42), firstWrite(AVGAIN, 1000));
    // 50 Hz from the file; probe 6 of the host's catalogue is a Rogowski coil.
    EXPECT_EQ(sim::chipRegister(ACCMODE), 0u);
    EXPECT_EQ(sim::chipRegister(DICOEFF), 0xFFFFE000u);
}

TEST_F(ConfigPluginTest, WithoutAPublishedCatalogueTheProbeIsNotDerived) {
    block().s_pCfgProbe = nullptr;
    initializeModule();
    EXPECT_EQ(sim::chipRegister(DICOEFF), 0u);
}

TEST_F(ConfigPluginTest, CalibrationRegistersThatDoNotKeepTheirValueAreReported) {
    sim::setIgnoreWrites(AVGAIN, true);
    const std::string output = initializeModule();
    EXPECT_NE(output.find("pushCal: Verification failed (AVGAIN)\r\n"), std::string::npos);
    EXPECT_EQ(sim::chipRegister(ZXTHRSH), 0x42u);  // configuration went on
}

TEST_F(ConfigPluginTest, UpdateConfigReloadsTheFile) {
    initializeModule();
    writeConfig("60", "4");
    captureStdout([&] { EXPECT_EQ(m_pModule->updateConfig(m_configPath.c_str()), 0); });
    EXPECT_EQ(sim::chipRegister(ACCMODE), 0x01C0u);
}

}  // namespace
