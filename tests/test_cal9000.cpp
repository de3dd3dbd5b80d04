// The calibration constants store against the simulated chip: the exact saved
// file, what loading hands to the module, pushes with read-back verification,
// pending values, and saves that never leave a damaged file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ModuleFixture.h"
#include "ScratchFiles.h"

namespace {

// A file in the saved format, one "address value fvalue name" per entry.
std::string calFile(const std::vector<std::string>& entries) {
    std::string text = "{\r\n  \"startup\": {\r\n    \"registers\": [\r\n";
    for (size_t i = 0; i < entries.size(); i++) {
        std::istringstream in(entries[i]);
        std::string address, value, fvalue, name;
        in >> address >> value >> fvalue >> name;
        text += "      {\"address\": \"" + address + "\", \"value\": " + value + ", \"fvalue\": " + fvalue +
                ", \"bits\": 32, \"name\": \"" + name + (i + 1 < entries.size() ? "\"},\r\n" : "\"}\r\n");
    }
    return text + "    ]\r\n  }\r\n}\r\n";
}

// Gains, an offset, a phase, a pseudo-entry.
const std::vector<std::string> ENTRIES = {"0x0000 -1342177 0.990000 AIGAIN", "0x000B 2684354 1.020000 AVGAIN",
                                          "0x000D -57 0.000000 AVRMSOS", "0x0006 123 0.123456 APHCAL0",
                                          "0xFFFF 0 -12.000000 WFBOS"};
const std::string SAVED = calFile(ENTRIES);
constexpr uint16_t AIGAIN = 0x000, AVGAIN = 0x00B, AVRMSOS = 0x00D, APHCAL0 = 0x006;

class Cal9000Test : public ModuleUnit {
protected:
    void SetUp() override {
        ModuleUnit::SetUp();
        m_module.m_Cal9000.initialize(&m_module);
        m_calPath = m_dir.path("Cal9000.json");
        snprintf(m_block->s_pszActiveCal, sizeof(m_block->s_pszActiveCal), "%s", m_calPath.c_str());
    }
    Cal9000& cal() { return m_module.m_Cal9000; }
    void loadSaved(const std::string& content = SAVED) {
        writeFile(m_calPath, content);
        cal().load(m_calPath.c_str());
    }
    void setPending(const char* pszName, uint32_t ulValue, float fValue) {
        captureStdout([&] { cal().setPending(const_cast<char*>(pszName), ulValue, fValue); });
    }

    ScratchDirectory m_dir;
    std::string m_calPath;
};

TEST_F(Cal9000Test, SavesPendingValuesInTheExactFormatWholeOrNotAtAll) {
    for (const std::string& file : {SAVED, readFile(QM_SOURCE_DIR "/config/Cal9000.json")}) {
        ASSERT_FALSE(file.empty());
        loadSaved(file);
        cal().saveCal();
        EXPECT_EQ(readFile(m_calPath), file);
    }
    loadSaved();

    setPending("BVGAIN", 1, 1.0f);  // not in the list
    EXPECT_FALSE(cal().HasChanged());
    EXPECT_EQ(
        captureStdout([&] { EXPECT_TRUE(cal().setPending(const_cast<char*>("AVGAIN"), 0x1000, 1.5f)); }),
        "\r\nRegister AVGAIN found");
    setPending("WFBOS", 33, 33.0f);
    EXPECT_TRUE(cal().HasChanged());
    std::string output;
    withFileSizeLimit(100, [&] { output = captureStdout([&] { cal().saveCal(); }); });
    EXPECT_EQ(output, "Couldn't write cal file: " + m_calPath + "\r\n");
    EXPECT_EQ(readFile(m_calPath), SAVED);
    EXPECT_EQ(m_dir.entries(), std::vector<std::string>{"Cal9000.json"});  // no temporary file left
    sim::clearSpiLog();
    EXPECT_EQ(captureStdout([&] { cal().pushPendingCal(); }),
              "Pending Value: 0x00001000 ==> Register: 0x000B (AVGAIN)\r\n");
    EXPECT_EQ(sim::spiLog().size(), 2u);
    EXPECT_EQ(sim::chipRegister(AVGAIN), 0x1000u);
    cal().saveCal();  // the pending values were kept
    std::vector<std::string> entries = ENTRIES;
    entries[1] = "0x000B 4096 1.500000 AVGAIN";
    entries[4] = "0xFFFF 33 33.000000 WFBOS";
    EXPECT_EQ(readFile(m_calPath), calFile(entries));
    cal().load(m_calPath.c_str());  // reloading discards what was pending
    EXPECT_FALSE(cal().HasChanged());

    // Zeroing keeps names and addresses; a path filling the whole field (no
    // terminator, text in the next field) is taken whole.
    const size_t nField = sizeof(m_block->s_pszActiveCal);
    const std::string path = m_dir.path(std::string(nField - m_dir.path().size() - 1, 'c'));
    memcpy(m_block->s_pszActiveCal, path.data(), nField);
    snprintf(m_block->s_pszActiveDB, sizeof(m_block->s_pszActiveDB), "%s", "database");
    cal().saveZeroCal();
    EXPECT_EQ(readFile(path), std::regex_replace(SAVED, std::regex(R"("value": -?\d+, "fvalue": -?[\d.]+)"),
                                                 R"("value": 0, "fvalue": 0.000000)"));

    // A directory where the file should be is never replaced.
    ASSERT_EQ(mkdir(m_dir.path("dir").c_str(), 0755), 0);
    snprintf(m_block->s_pszActiveCal, sizeof(m_block->s_pszActiveCal), "%s", m_dir.path("dir").c_str());
    EXPECT_EQ(captureStdout([&] { cal().saveCal(); }),
              "Couldn't open cal file: " + m_dir.path("dir") + "\r\n");
    struct stat dirStat {};
    EXPECT_TRUE(stat(m_dir.path("dir").c_str(), &dirStat) == 0 && S_ISDIR(dirStat.st_mode));
}

// A reload replaces the whole list (freeing the old one), even with nothing:
// an empty list saves header and footer only. A file that cannot be read
// keeps the list.
TEST_F(Cal9000Test, ReloadReplacesTheListOrKeepsItWhenUnreadable) {
    const struct {
        const char* pszFile;  // nullptr: no such file
        std::string saved;
    } cases[] = {{"", calFile({})},
                 {"{\r\n  \"address\": \"0x000B\", \"value\": 5, \"fvalue\": 1.0\r\n}\r\n", calFile({})},
                 {nullptr, SAVED}};
    for (const auto& c : cases) {
        loadSaved();
        const std::string path =
            c.pszFile ? m_dir.write("reload.json", c.pszFile) : m_dir.path("missing.json");
        const std::string output = captureStdout([&] { cal().load(path.c_str()); });
        EXPECT_EQ(output, (c.pszFile ? "Processing cal file: " : "Couldn't open cal file: ") + path + "\r\n");
        EXPECT_EQ(cal().m_pCalList == nullptr, c.pszFile != nullptr);
        cal().saveCal();
        EXPECT_EQ(readFile(m_calPath), c.saved);
    }
}

// Lines without a register name are skipped; what is not a number is taken,
// and written back, as 0.
TEST_F(Cal9000Test, LoadingHandsConstantsToTheModuleAndSkipsWhatIsNone) {
    const std::string objectName =
        R"(      {"address": "0x000C", "value": 1, "fvalue": 1.0, "name": {"x": 1}},)";
    std::vector<std::string> entries = {"0x0000 0 1.250000 AIGAIN",  "0x000B 0 0.000000 AVGAIN",
                                        "0x000C 0 3.700000 AIRMSOS", "0x000D 0 -4.000000 AVRMSOS",
                                        "0x0026 0 0.500000 BPHCAL0", "0x004B 0 nan CVGAIN",
                                        "0x004D 0 -inf CVRMSOS",     "0x0001 0 7.000000 AIGAIN0"};
    std::string file = calFile(entries);
    file.insert(file.find("      {"), objectName + "\r\n");
    const std::string output = captureStdout([&] { loadSaved(file); });
    EXPECT_NE(output.find("Cal9000::load: not a register name, line skipped: " + objectName + "\r\n"),
              std::string::npos);
    EXPECT_NE(output.find("0 taken:       {\"address\": \"0x004D\""), std::string::npos);
    EXPECT_EQ(m_module.m_fWFBCalRatio[0], 1.25f);
    EXPECT_EQ(m_module.m_fWFBCalRatio[1], 1.0f);  // a zero ratio counts as 1
    EXPECT_EQ(m_module.m_ulWFBCalOffset[0], 3u);
    EXPECT_EQ(m_module.m_ulWFBCalOffset[1], 0u);  // saturates instead of wrapping
    EXPECT_EQ(m_module.m_fCurrentAngleCal[1], 0.5f);
    EXPECT_EQ(m_module.m_fWFBCalRatio[2], 1.0f);  // the multipoint name is a plain register
    EXPECT_EQ(m_module.m_fWFBCalRatio[5], 1.0f);
    EXPECT_TRUE(cal().m_bLoaded);
    setPending("AIGAIN", 1, std::numeric_limits<float>::infinity());
    cal().saveCal();
    entries[0] = "0x0000 1 0.000000 AIGAIN";
    entries[5] = "0x004B 0 0.000000 CVGAIN";
    entries[6] = "0x004D 0 0.000000 CVRMSOS";
    EXPECT_EQ(readFile(m_calPath), calFile(entries));
}

// Each write is read back; the pseudo-entry never reaches the chip, nor does
// an address that is no chip register.
TEST_F(Cal9000Test, PushesWriteChipRegistersAndReportThoseThatDoNotKeepTheirValue) {
    std::vector<std::string> entries = ENTRIES;
    entries.insert(entries.end() - 1, "0x1000 5 0.000000 XGAIN");
    loadSaved(calFile(entries));
    sim::clearSpiLog();
    std::string output = captureStdout([&] { cal().pushCal(); });
    EXPECT_EQ(sim::chipRegister(AIGAIN), static_cast<uint32_t>(-1342177));
    EXPECT_EQ(sim::chipRegister(AVGAIN), 2684354u);
    EXPECT_EQ(sim::chipRegister(AVRMSOS), static_cast<uint32_t>(-57));
    EXPECT_EQ(sim::chipRegister(APHCAL0), 123u);
    std::vector<uint16_t> bus;
    for (const sim::SpiFrame& frame : sim::spiLog()) bus.push_back(frame.address);
    EXPECT_EQ(bus,
              (std::vector<uint16_t>{AIGAIN, AIGAIN, AVGAIN, AVGAIN, AVRMSOS, AVRMSOS, APHCAL0, APHCAL0}));
    EXPECT_EQ(m_module.m_nWFBOSCounts, -12);
    EXPECT_NE(
        output.find("Value: 0x0000007B ==> Register: 0x0006 (APHCAL0)\r\nValue: 0x00000005 ==> Register: "
                    "0x1000 (XGAIN)\r\nCal9000::pushCal: not a chip register, entry skipped: XGAIN\r\n"
                    "Value: 0x00000000 ==> Register: 0xFFFF (WFBOS)\r\nWFB Offset (Counts): -12\n"),
        std::string::npos);
    EXPECT_EQ(output.find("Verification failed"), std::string::npos);

    sim::setChipRegister(AVGAIN, 0x55);
    sim::setIgnoreWrites(AVGAIN, true);
    sim::setChipRegister(APHCAL0, 0);
    output = captureStdout([&] { cal().pushCal(); });
    EXPECT_NE(output.find("pushCal: Verification failed (AVGAIN)\r\n"), std::string::npos);
    EXPECT_EQ(output.find("Verification failed (AIGAIN)"), std::string::npos);
    EXPECT_EQ(sim::chipRegister(APHCAL0), 123u);  // the next register is written regardless
    setPending("AVGAIN", 7, 1.0f);
    output = captureStdout([&] { cal().pushPendingCal(); });
    EXPECT_NE(output.find("pushPendingCal: Verification failed (AVGAIN, 0x00000055)\r\n"), std::string::npos);
    EXPECT_EQ(captureStdout([&] { cal().pushZeroCal(); }), "pushCal: Verification failed (AVGAIN)\r\n");
    EXPECT_EQ(sim::chipRegister(AIGAIN), 0u);
    EXPECT_EQ(captureStdout([&] { cal().readAndDumpCal(); }),
              "\r\nRegister AIGAIN (0x0000) ==> 0x00000000\r\nRegister AVGAIN (0x000B) ==> 0x00000055\r\n"
              "Register AVRMSOS (0x000D) ==> 0x00000000\r\nRegister APHCAL0 (0x0006) ==> 0x00000000\r\n");
}

}  // namespace
