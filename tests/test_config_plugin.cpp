// The files as the loaded plug-in uses them: configuration, calibration, "Init9000.json", probes.
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

constexpr uint16_t AVGAIN = 0x00B, DICOEFF = 0x072, ZXTHRSH = 0x499;  // chip registers

class ConfigPluginTest : public PluginTest {
protected:
    void TearDown() override {
        PluginTest::TearDown();
        EXPECT_EQ(chdir(m_szPreviousDirectory), 0);
    }

    ScratchAppDirectory m_dir;
    char m_szPreviousDirectory[PATH_MAX] = {};
    std::unique_ptr<CfgProbe> m_probes = loadCfgProbe();  // no probe file: the built-in probes
};

TEST_F(ConfigPluginTest, InitializeAppliesConfigurationCalibrationAndInitFileInThatOrder) {
    ASSERT_NE(getcwd(m_szPreviousDirectory, sizeof(m_szPreviousDirectory)), nullptr);
    ASSERT_EQ(chdir(m_dir.path().c_str()), 0);  // where "Init9000.json" is looked for
    block().s_pCfgProbe = m_probes.get();
    const std::string config = m_dir.path("QM9000.json");
    writeConfig(config, {{"FNominal", "50"}, {"Wiring", "3"}, {"ProbeType", "6"}, {"FullScaleAmps", "100"}});
    const std::string cal =
        "{\r\n  \"startup\": {\r\n    \"registers\": [\r\n      {\"address\": \"0x000B\", "
        "\"value\": 1000, \"fvalue\": 1.0, \"bits\": 32, \"name\": \"AVGAIN\"}\r\n    ]\r\n  }\r\n}\r\n";
    snprintf(block().s_pszActiveCal, sizeof(block().s_pszActiveCal), "%s",
             m_dir.write("Cal9000.json", cal).c_str());
    m_dir.write("Init9000.json",
                "{ \"address\": \"0x0499\", \"value\": \"0x0042\", \"bits\": \"0x10\" }\r\n");

    const std::string output =
        captureStdout([&] { EXPECT_EQ(m_pModule->initialize(config.c_str(), nullptr, m_block.get()), 0); });
    EXPECT_EQ(output.find("Verification failed"), std::string::npos) << output;
    const auto writes = sim::spiWrites();
    const auto calibration = std::find(writes.begin(), writes.end(), std::make_pair(AVGAIN, uint32_t{1000}));
    ASSERT_NE(calibration, writes.end());
    EXPECT_NE(std::find(calibration, writes.end(), std::make_pair(ZXTHRSH, uint32_t{0x42})), writes.end());
    EXPECT_EQ(sim::chipRegister(ZXTHRSH), 0x42u);
    EXPECT_EQ(sim::chipRegister(DICOEFF), 0xFFFFE000u);  // probe 6 of the host's catalogue is a coil
}

}  // namespace
