// The host's side of the description table: built from the EEPROM, handed to the plug-in; the tools.
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "HostCommandLine.h"
#include "ModuleTable.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"
#include "SimulatedEeprom.h"

namespace {

using Bytes = std::vector<uint8_t>;

class MdtHost : public PluginTest {
protected:
    bool loadTable(BlankEepromPage page) {
        bool bLoaded = false;
        captureStdout([&] {
            installOnBlankEeprom(m_mdt, page);
            bLoaded = loadModuleTable(m_mdt);
        });
        return bLoaded;
    }
    // Runs `qmhost mdt --board sim --image <scratch image> <args>`; returns its exit code.
    int tool(std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"qmhost", "mdt", "--board", "sim", "--image", m_appDir.path("eeprom.bin")});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        int nResult = -1;
        testing::internal::CaptureStderr();
        m_out = captureStdout([&] { nResult = hostMain(static_cast<int>(argv.size()), argv.data()); });
        m_out += testing::internal::GetCapturedStderr();
        return nResult;
    }

    ScratchAppDirectory m_appDir;
    MDT m_mdt{sim::i2cDeviceOps()};  // outlives the module, as the host's does
    std::string m_out;
};

TEST_F(MdtHost, BlankEepromGetsThePageAskedForWhichThePluginReports) {
    sim::fillEeprom(0, Bytes(32, 0x5A));
    EXPECT_FALSE(loadTable(BlankEepromPage::SimulatedModule));
    EXPECT_EQ(sim::eepromBytes(0, 32), Bytes(32, 0x5A));

    sim::eraseEeprom();
    EXPECT_FALSE(loadTable(BlankEepromPage::None));
    EXPECT_EQ(sim::eepromBytes(0, 32), Bytes(32, 0xFF));
    ASSERT_TRUE(loadTable(BlankEepromPage::ModuleDefault));
    EXPECT_EQ(m_mdt.getPage(0, nullptr, 10000), 2549u);
    EXPECT_TRUE(m_mdt.getRegisterList() && namedValues(m_mdt).empty());  // its registers name no value
    // A table is there now: nothing is installed over it.
    ASSERT_TRUE(loadTable(BlankEepromPage::SimulatedModule));
    EXPECT_STREQ(m_mdt.getDescription(0), "Unknown");

    // All zeros is blank too. The simulated module's configuration matches the board's.
    sim::fillEeprom(0, Bytes(32, 0));
    ASSERT_TRUE(loadTable(BlankEepromPage::SimulatedModule));
    EXPECT_STREQ(m_mdt.getConfigName(0), "QM9000.json");
    EXPECT_STREQ(m_mdt.getCalName(0), "Cal9000.json");
    EXPECT_NE(m_appDir.read("QM9000.json").find("{ \"name\": \"Wiring\", \"value\": 3 }"), std::string::npos);

    // The plug-in's register list report names each value of that page at its index.
    ASSERT_EQ(m_pModule->initialize("QM9000.json", &m_mdt, m_block.get()), 0);
    std::vector<char> buffer(65536);
    ASSERT_EQ(m_pModule->realtimeGet(8, buffer.data(), static_cast<uint32_t>(buffer.size())), 0);
    const auto list = nlohmann::json::parse("{" + std::string(buffer.data()) + "}").at("registers");
    ASSERT_EQ(list.size(), 72u);
    std::map<int, std::string> names;  // by value index
    for (const auto& entry : list)
        names[entry.at("reg")] =
            entry.at("abbrev").get<std::string>() + ": " + entry.at("desc").get<std::string>();
    EXPECT_EQ(names[jrnl_FREQ_B], "jrnl_FREQ_B: Frequency B");
    EXPECT_EQ(names[jrnl_MAX + accum_TOT_WATTHR], "interval_TOT_WATTHR: Interval True Energy");
    EXPECT_EQ(names[jrnl_MAX + accum_ENERGY_MAX + accum_TOT_WATTHR], "accum_TOT_WATTHR: Running True Energy");

    // Named are only the values the module publishes (indexes below 118).
    const std::string page =
        R"({ "registers": [ { "reg": 117, "abbrev": "accum_X" }, { "reg": 118, "abbrev": "accum_Y" } ] })";
    m_mdt.setPage(0, page.c_str(), static_cast<uint32_t>(page.size() + 1));
    ASSERT_TRUE(m_mdt.createRegisterList(0));
    EXPECT_EQ(namedValues(m_mdt), (std::vector<std::pair<uint32_t, std::string>>{{117, ""}}));
}

TEST_F(MdtHost, ToolsWorkOnTheImageBetweenRuns) {
    // Arguments, exit code, a text printed.
    const std::tuple<std::vector<std::string>, int, std::string> steps[] = {
        {{"get-sn"}, 0, "Serial number: (none)\n"},
        {{"dump"}, 1, "qmhost: dump: no description table on the EEPROM (blank or foreign)\n"},
        {{"install-default"}, 0, "Installed: Unknown (handler QM9000.so, configuration CfgActive.json"},
        {{"install-module"},
         1,
         "qmhost: install: the EEPROM holds a table already (Unknown); --force replaces it\n"},
        {{"--force", "install-module"}, 0, "Installed: QM9000 three-phase module, simulated board"},
        {{"set-sn", "QM-2024-0042"}, 0, "Serial number: QM-2024-0042\n"},
        {{"set-sn", std::string(32, '9')}, 2, "qmhost: NUMBER: a serial number has at most 31 characters\n"},
        {{"dump"}, 0, "  reg   3  jrnl_VRMS_A              RMS Voltage A "},
        {{"erase"}, 0, "Erased the page area (0x0000 to 0xDFFF); the serial number stays."},
        {{"install-module"}, 0, "Installed: QM9000 three-phase module, simulated board"},
        {{"unknown"}, 2, "qmhost: COMMAND: unknown not in {"},
        {{"--board", "hw", "dump"}, 2, "qmhost: --image: only with --board sim\n"},
    };
    for (const auto& [args, nResult, text] : steps) {
        EXPECT_EQ(tool(args), nResult) << args[0];
        EXPECT_NE(m_out.find(text), std::string::npos) << m_out;
    }
    // The live meter finds what the tools left in the default image.
    sim::reset();
    MDT mdt(sim::i2cDeviceOps());
    std::string summary;
    m_out = captureStdout(
        [&] { summary = setUpModuleTable(mdt, attachSimulatedEeprom(*qmSimulatedLine(), "")); });
    EXPECT_NE(summary.find("serial number QM-2024-0042, 72 named values"), std::string::npos) << summary;
    sim::detachEepromImage();

    writeFile(m_appDir.path("eeprom.bin"), "too short to be an EEPROM");
    EXPECT_EQ(tool({"dump"}), 1);
    EXPECT_NE(m_out.find("qmhost: mdt: EEPROM image "), std::string::npos) << m_out;
    EXPECT_EQ(m_appDir.read("eeprom.bin"), "too short to be an EEPROM");
}

}  // namespace
