// The host's side of the description table: the table built from the
// simulated EEPROM (a blank one gets a page when asked), handed to the loaded
// plug-in, whose reports then carry its names; and the production tools on an
// EEPROM image.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "ModuleTable.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"
#include "Tools.h"

namespace {

using Bytes = std::vector<uint8_t>;

class MdtHost : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        setenv("QM_APP_DIR", m_appDir.path().c_str(), 1);
    }
    void TearDown() override {
        PluginTest::TearDown();
        unsetenv("QM_APP_DIR");
    }
    bool loadTable(BlankEepromPage page) {
        bool bLoaded = false;
        captureStdout([&] { bLoaded = loadModuleTable(m_mdt, page); });
        return bLoaded;
    }
    // Runs `qmhost mdt <args>` on the scratch image; returns its exit code.
    int tool(std::vector<std::string> args, std::string& output) {
        args.insert(args.begin(), {"mdt", "--image", m_appDir.path("eeprom.bin")});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        int nResult = -1;
        output = captureStdout([&] { nResult = mdtTool(static_cast<int>(argv.size()), argv.data()); });
        return nResult;
    }

    ScratchDirectory m_appDir;
    MDT m_mdt{sim::i2cDeviceOps()};  // outlives the module, as the host's does
};

TEST_F(MdtHost, BlankEepromGetsThePageAskedFor) {
    EXPECT_FALSE(loadTable(BlankEepromPage::None));
    EXPECT_EQ(sim::eepromBytes(0, 32), Bytes(32, 0xFF));

    ASSERT_TRUE(loadTable(BlankEepromPage::ModuleDefault));
    EXPECT_STREQ(m_mdt.getHandlerName(0), "QM9000.so");
    EXPECT_STREQ(m_mdt.getDescription(0), "Unknown");
    EXPECT_EQ(m_mdt.getPage(0, nullptr, 10000), 2549u);
    EXPECT_TRUE(namedValues(m_mdt).empty());
    int nRegisters = 0;
    for (const MDT_REGLIST* p = m_mdt.getRegisterList(); p; p = p->pmdtRegNext) nRegisters++;
    EXPECT_EQ(nRegisters, 4);
    EXPECT_NE(m_appDir.read("CfgActive.json").find("\"JournalInterval\""), std::string::npos);

    // A table is there now: nothing is installed over it.
    ASSERT_TRUE(loadTable(BlankEepromPage::SimulatedModule));
    EXPECT_STREQ(m_mdt.getDescription(0), "Unknown");

    sim::eraseEeprom();
    ASSERT_TRUE(loadTable(BlankEepromPage::SimulatedModule));
    EXPECT_STREQ(m_mdt.getDescription(0), "QM9000 three-phase module, simulated board");
    EXPECT_STREQ(m_mdt.getConfigName(0), "QM9000.json");
    EXPECT_STREQ(m_mdt.getCalName(0), "Cal9000.json");
    EXPECT_EQ(namedValues(m_mdt).size(), 72u);
    // Its configuration matches the board's: a fresh application directory gets it.
    const std::string config = m_appDir.read("QM9000.json");
    EXPECT_NE(config.find("{ \"name\": \"Wiring\", \"value\": 3 }"), std::string::npos) << config;
}

TEST_F(MdtHost, ForeignEepromIsLeftAsItIs) {
    sim::fillEeprom(0, Bytes(32, 0x5A));
    EXPECT_FALSE(loadTable(BlankEepromPage::SimulatedModule));
    EXPECT_EQ(sim::eepromBytes(0, 32), Bytes(32, 0x5A));
    EXPECT_EQ(sim::eepromBytes(0x20, 4), Bytes(4, 0xFF));
}

struct NamedCase {
    const char* pszAbbrev;
    uint32_t ulReg;
    const char* pszDesc;
};

TEST_F(MdtHost, SimulatedModulePageNamesEachValueAtItsIndex) {
    EXPECT_LE(simulatedModulePage().size() + 1, 8160u);
    ASSERT_TRUE(loadTable(BlankEepromPage::SimulatedModule));
    const NamedCase cases[] = {
        {"jrnl_FREQ_A", jrnl_FREQ_A, "Frequency A"},
        {"jrnl_VRMS_A", jrnl_VRMS_A, "RMS Voltage A"},
        {"jrnl_IRMS_C", jrnl_IRMS_C, "RMS Current C"},
        {"jrnl_VRMS1_B", jrnl_VRMS1_B, "RMS Voltage (one cycle) B"},
        {"jrnl_IANGLE_C", jrnl_IANGLE_C, "Current Angle C"},
        {"jrnl_NIRMS", jrnl_NIRMS, "Neutral RMS Current"},
        {"jrnl_NIRMS1012", jrnl_NIRMS1012, "Neutral RMS Current (10/12)"},
        {"jrnl_TOT_FVAR", jrnl_TOT_FVAR, "Total Fund. Reactive Power"},
        {"interval_TOT_WATTHR", jrnl_MAX + accum_TOT_WATTHR, "Interval True Energy"},
        {"accum_TOT_WATTHR", jrnl_MAX + accum_ENERGY_MAX + accum_TOT_WATTHR, "Running True Energy"},
    };
    for (const NamedCase& c : cases) {
        SCOPED_TRACE(c.pszAbbrev);
        const MDT_REGLIST* pNode = m_mdt.getRegisterList();
        while (pNode && strcmp(pNode->mdtReg.s_pszAbbrev, c.pszAbbrev) != 0) pNode = pNode->pmdtRegNext;
        ASSERT_NE(pNode, nullptr);
        const MDT_REGISTER reg = pNode->mdtReg;
        const uint32_t ulReg = reg.s_ulReg, ulAddress = reg.s_ulAddress;  // not bound in place: packed
        EXPECT_EQ(ulReg, c.ulReg);
        EXPECT_STREQ(reg.s_pszDescription, c.pszDesc);
        EXPECT_EQ(ulAddress, 2 * c.ulReg);
        // Journal names fit the module's 31 characters.
        EXPECT_LE(strlen(reg.s_pszDescription), 31u);
    }
}

// The plug-in reads the host's table: a known signal comes back in the values
// report under the table's names, and the register list is the table's.
TEST_F(MdtHost, PluginReportsCarryTheTablesNames) {
    ASSERT_TRUE(loadTable(BlankEepromPage::SimulatedModule));
    const std::string config = m_appDir.path("Meter.json");
    writeConfig(config, wyeMeter());
    sim::setFullScale(500.0 * double(0.90045f), 10.0);
    ASSERT_EQ(m_pModule->initialize(config.c_str(), &m_mdt, m_block.get()), 0);
    ASSERT_EQ(m_pModule->updateConfig(config.c_str()), 0);
    runFor(300);

    std::vector<char> buffer(65536);
    ASSERT_EQ(m_pModule->realtimeGet(11, buffer.data(), static_cast<uint32_t>(buffer.size())), 0);
    const auto values = nlohmann::json::parse("{\n" + std::string(buffer.data()) + "\n}");
    const auto& power = values.at("registers").at("power");
    ASSERT_EQ(power.size(), 70u);
    const double dWatts = 230.0 * 5.0 * std::cos(36.87 * 3.14159265358979323846 / 180);
    const struct {
        int nReg;
        const char* pszName;
        double dTruth;
    } expected[] = {
        {jrnl_FREQ_B, "Frequency B", 50.0},  {jrnl_VRMS_A, "RMS Voltage A", 230.0},
        {jrnl_IRMS_C, "RMS Current C", 5.0}, {jrnl_WATT_B, "True Power B", dWatts},
        {jrnl_TOT_WATT, "", 3 * dWatts},  // totals are never named from the table
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.pszName);
        EXPECT_EQ(power[e.nReg].at("reg"), std::to_string(e.nReg));
        EXPECT_EQ(power[e.nReg].at("name"), e.pszName);
        EXPECT_NEAR(std::stod(power[e.nReg].at("value").get<std::string>()), e.dTruth, e.dTruth * 0.002);
    }

    ASSERT_EQ(m_pModule->realtimeGet(8, buffer.data(), static_cast<uint32_t>(buffer.size())), 0);
    const auto list = nlohmann::json::parse("{" + std::string(buffer.data()) + "}").at("registers");
    ASSERT_EQ(list.size(), 72u);
    EXPECT_EQ(list[3].at("reg"), 3);
    EXPECT_EQ(list[3].at("modbus"), 40007);
    EXPECT_EQ(list[3].at("abbrev"), "jrnl_VRMS_A");
    EXPECT_EQ(list[3].at("desc"), "RMS Voltage A");
    EXPECT_EQ(list[71].at("reg"), jrnl_MAX + accum_ENERGY_MAX + accum_TOT_WATTHR);
}

TEST_F(MdtHost, ToolsWorkOnTheImageBetweenRuns) {
    std::string out;
    EXPECT_EQ(tool({"get-sn"}, out), 0);
    EXPECT_EQ(out, "Serial number: (none)\r\n");
    EXPECT_EQ(tool({"dump"}, out), 1);
    EXPECT_NE(out.find("No description table on the EEPROM"), std::string::npos) << out;

    EXPECT_EQ(tool({"install-default"}, out), 0);
    EXPECT_NE(out.find("Installed: Unknown (handler QM9000.so, configuration CfgActive.json"),
              std::string::npos)
        << out;
    // Installing over a table takes --force.
    EXPECT_EQ(tool({"install-module"}, out), 1);
    EXPECT_NE(out.find("--force replaces it"), std::string::npos) << out;
    EXPECT_EQ(tool({"dump"}, out), 0);
    EXPECT_NE(out.find("Register list: 4 registers"), std::string::npos) << out;
    EXPECT_EQ(tool({"--force", "install-module"}, out), 0);

    EXPECT_EQ(tool({"set-sn", "QM-2024-0042"}, out), 0);
    EXPECT_EQ(out, "Serial number: QM-2024-0042\r\n");
    EXPECT_EQ(tool({"set-sn", std::string(32, '9')}, out), 2);
    EXPECT_EQ(tool({"get-sn"}, out), 0);
    EXPECT_EQ(out, "Serial number: QM-2024-0042\r\n");

    EXPECT_EQ(tool({"dump"}, out), 0);
    EXPECT_NE(out.find("Module: QM9000 three-phase module, simulated board"), std::string::npos) << out;
    EXPECT_NE(out.find("Register list: 72 registers"), std::string::npos) << out;
    EXPECT_NE(out.find("reg   3  jrnl_VRMS_A"), std::string::npos) << out;

    // Erasing keeps the serial number.
    EXPECT_EQ(tool({"erase"}, out), 0);
    EXPECT_EQ(tool({"dump"}, out), 1);
    EXPECT_NE(out.find("Serial number: QM-2024-0042"), std::string::npos) << out;

    // The live meter finds what the tools left in the default image.
    EXPECT_EQ(tool({"install-module"}, out), 0);
    sim::reset();
    MDT mdt(sim::i2cDeviceOps());
    std::string summary;
    const std::string printed =
        captureStdout([&] { summary = setUpModuleTable(mdt, "", BlankEepromPage::None); });
    EXPECT_NE(printed.find("serial number QM-2024-0042"), std::string::npos) << printed;
    EXPECT_NE(printed.find("3 RMS Voltage A;"), std::string::npos) << printed;
    EXPECT_EQ(
        summary,
        "Module: QM9000 three-phase module, simulated board, serial number QM-2024-0042, 72 named values "
        "(r + Enter: register list)");
    sim::detachEepromImage();
}

TEST_F(MdtHost, ToolRefusesWhatItCannotDo) {
    std::string out;
    EXPECT_EQ(tool({"unknown"}, out), 2);
    EXPECT_NE(out.find("usage: qmhost mdt"), std::string::npos);
    EXPECT_EQ(tool({"set-sn"}, out), 2);
    writeFile(m_appDir.path("eeprom.bin"), "too short to be an EEPROM");
    EXPECT_EQ(tool({"dump"}, out), 1);
    EXPECT_NE(out.find("cannot use the EEPROM image"), std::string::npos) << out;
    EXPECT_EQ(m_appDir.read("eeprom.bin"), "too short to be an EEPROM");
}

}  // namespace
