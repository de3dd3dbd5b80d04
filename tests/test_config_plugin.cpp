// The configuration files as the host's module uses them: the plug-in loaded,
// its configuration path handed over, the calibration file named in the block,
// "Init9000.json" in the working directory and the probe catalogue published.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>

#include "AppFiles.h"
#include "ConfigFile.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"

namespace {

constexpr uint16_t AVGAIN = 0x00B, DICOEFF = 0x072, ACCMODE = 0x492, ZXTHRSH = 0x499;  // chip registers

class ConfigPluginTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        ASSERT_NE(getcwd(m_szPreviousDirectory, sizeof(m_szPreviousDirectory)), nullptr);
        ASSERT_EQ(chdir(m_dir.path().c_str()), 0);  // where "Init9000.json" is looked for
        setenv("QM_APP_DIR", m_dir.path().c_str(), 1);
        m_probes = loadCfgProbe();  // no probe file: the built-in probes
        block().s_pCfgProbe = m_probes.get();
        writeConfig(m_config,
                    {{"FNominal", "50"}, {"Wiring", "3"}, {"ProbeType", "6"}, {"FullScaleAmps", "100"}});
        const std::string cal =
            "{\r\n  \"startup\": {\r\n    \"registers\": [\r\n      {\"address\": \"0x000B\", "
            "\"value\": 1000, \"fvalue\": 1.0, \"bits\": 32, \"name\": \"AVGAIN\"}\r\n"
            "    ]\r\n  }\r\n}\r\n";
        snprintf(block().s_pszActiveCal, sizeof(block().s_pszActiveCal), "%s",
                 m_dir.write("Cal9000.json", cal).c_str());
        m_dir.write("Init9000.json",
                    "{ \"address\": \"0x0499\", \"value\": \"0x0042\", \"bits\": \"0x10\" }\r\n");
    }
    void TearDown() override {
        PluginTest::TearDown();
        unsetenv("QM_APP_DIR");
        EXPECT_EQ(chdir(m_szPreviousDirectory), 0);
    }
    std::string initializeModule() {
        return captureStdout(
            [&] { EXPECT_EQ(m_pModule->initialize(m_config.c_str(), nullptr, m_block.get()), 0); });
    }
    // Position of the first write of this value to this register in the bus log.
    static long firstWrite(uint16_t unAddress, uint32_t ulValue) {
        const auto writes = sim::spiWrites();
        const auto at = std::find(writes.begin(), writes.end(), std::make_pair(unAddress, ulValue));
        return at == writes.end() ? -1 : at - writes.begin();
    }

    ScratchDirectory m_dir;
    const std::string m_config = m_dir.path("QM9000.json");
    char m_szPreviousDirectory[PATH_MAX] = {};
    std::unique_ptr<CfgProbe> m_probes;
};

TEST_F(ConfigPluginTest, InitializeAppliesConfigurationCalibrationAndInitFileInThatOrder) {
    const std::string output =
        captureStdout([&] { EXPECT_EQ(m_pModule->initialize(m_config.c_str(), nullptr, m_block.get()), 0); });
    EXPECT_EQ(output.find("Verification failed"), std::string::npos) << output;
    ASSERT_GE(firstWrite(AVGAIN, 1000), 0);
    EXPECT_GT(firstWrite(ZXTHRSH, 0x42), firstWrite(AVGAIN, 1000));
    EXPECT_EQ(sim::chipRegister(ZXTHRSH), 0x42u);
    // 50 Hz from the file; probe 6 of the host's catalogue is a Rogowski coil.
    EXPECT_EQ(sim::chipRegister(ACCMODE), 0u);
    EXPECT_EQ(sim::chipRegister(DICOEFF), 0xFFFFE000u);

    writeConfig(m_config, {{"FNominal", "60"}, {"Wiring", "4"}});
    captureStdout([&] { EXPECT_EQ(m_pModule->updateConfig(m_config.c_str()), 0); });
    EXPECT_EQ(sim::chipRegister(ACCMODE), 0x01C0u);
}

}  // namespace
