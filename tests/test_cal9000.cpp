// The calibration constants store against the simulated chip: the exact saved
// file, what loading hands to the module, pushes with read-back verification,
// pending values, and saves that never leave a damaged file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ModuleFixture.h"
#include "ScratchFiles.h"

namespace {

constexpr const char* HEADER = "{\r\n  \"startup\": {\r\n    \"registers\": [\r\n";
constexpr const char* FOOTER = "    ]\r\n  }\r\n}\r\n";

std::string entry(const char* pszAddress, const char* pszValue, const char* pszFValue, const char* pszName,
                  bool bLast = false) {
    return std::string("      {\"address\": \"") + pszAddress + "\", \"value\": " + pszValue +
           ", \"fvalue\": " + pszFValue + ", \"bits\": 32, \"name\": \"" + pszName + "\"}" +
           (bLast ? "" : ",") + "\r\n";
}

// A file as the store saves it: gains, an offset, a phase, a pseudo-entry.
const std::string SAVED = std::string(HEADER) + entry("0x0000", "-1342177", "0.990000", "AIGAIN") +
                          entry("0x000B", "2684354", "1.020000", "AVGAIN") +
                          entry("0x000D", "-57", "0.000000", "AVRMSOS") +
                          entry("0x0006", "123", "0.123456", "APHCAL0") +
                          entry("0xFFFF", "0", "-12.000000", "WFBOS", true) + FOOTER;

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
    // The addresses the bus saw, in order.
    static std::vector<uint16_t> addressesOnTheBus() {
        std::vector<uint16_t> addresses;
        for (const sim::SpiFrame& frame : sim::spiLog()) addresses.push_back(frame.address);
        return addresses;
    }

    ScratchDirectory m_dir;
    std::string m_calPath;
};

TEST_F(Cal9000Test, LoadThenSaveGivesTheSameBytes) {
    loadSaved();
    cal().saveCal();
    EXPECT_EQ(readFile(m_calPath), SAVED);

    // The shipped example is in the saved format too.
    const std::string example = readFile(QM_SOURCE_DIR "/config/Cal9000.json");
    ASSERT_FALSE(example.empty());
    loadSaved(example);
    cal().saveCal();
    EXPECT_EQ(readFile(m_calPath), example);
}

// A reload replaces the whole list (freeing the old one), even with nothing:
// an empty list saves header and footer only. A file that cannot be read
// keeps the list.
TEST_F(Cal9000Test, ReloadReplacesTheListOrKeepsItWhenUnreadable) {
    const std::string empty = std::string(HEADER) + FOOTER;
    const struct {
        const char* pszFile;  // nullptr: no such file
        std::string saved;
    } cases[] = {{"", empty},
                 {"{\r\n  \"address\": \"0x000B\", \"value\": 5, \"fvalue\": 1.0\r\n}\r\n", empty},
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
        if (c.pszFile) unlink(path.c_str());
    }
}

TEST_F(Cal9000Test, LoadingHandsConstantsToTheModule) {
    loadSaved(std::string(HEADER) + entry("0x0000", "0", "1.250000", "AIGAIN") +
              entry("0x000B", "0", "0.000000", "AVGAIN") + entry("0x000C", "0", "3.700000", "AIRMSOS") +
              entry("0x000D", "0", "-4.000000", "AVRMSOS") + entry("0x0026", "0", "0.500000", "BPHCAL0") +
              entry("0x004B", "0", "nan", "CVGAIN") + entry("0x004D", "0", "-inf", "CVRMSOS") +
              entry("0x0001", "0", "7.000000", "AIGAIN0", true) + FOOTER);
    EXPECT_EQ(m_module.m_fWFBCalRatio[0], 1.25f);
    EXPECT_EQ(m_module.m_fWFBCalRatio[1], 1.0f);  // a zero ratio counts as 1
    EXPECT_EQ(m_module.m_ulWFBCalOffset[0], 3u);
    EXPECT_EQ(m_module.m_ulWFBCalOffset[1], 0u);  // saturates instead of wrapping
    EXPECT_EQ(m_module.m_fCurrentAngleCal[1], 0.5f);
    EXPECT_EQ(m_module.m_fWFBCalRatio[2], 1.0f);  // the multipoint name is a plain register
    EXPECT_TRUE(cal().m_bLoaded);
    // Not a number in the file is taken as 0, and never written back.
    EXPECT_EQ(m_module.m_fWFBCalRatio[5], 1.0f);
    char szName[] = "AIGAIN";
    cal().setPending(szName, 1, std::numeric_limits<float>::infinity());
    cal().saveCal();
    const std::string saved = readFile(m_calPath);
    EXPECT_EQ(saved.find("nan"), std::string::npos);
    EXPECT_NE(saved.find(entry("0x0000", "1", "0.000000", "AIGAIN")), std::string::npos);
}

TEST_F(Cal9000Test, LinesWithoutARegisterNameAreSkipped) {
    const std::string objectName =
        R"(      {"address": "0x000C", "value": 1, "fvalue": 1.0, "name": {"x": 1}},)";
    const std::string output = captureStdout([&] {
        loadSaved(std::string(HEADER) + objectName + "\r\n" +
                  entry("0x000B", "2", "1.000000", "AVGAIN", true) + FOOTER);
    });
    EXPECT_NE(output.find("Cal9000::load: not a register name, line skipped: " + objectName + "\r\n"),
              std::string::npos);
    cal().saveCal();
    EXPECT_EQ(readFile(m_calPath),
              std::string(HEADER) + entry("0x000B", "2", "1.000000", "AVGAIN", true) + FOOTER);
}

TEST_F(Cal9000Test, PushCalWritesChipRegistersAndSetsTheWaveformOffset) {
    // An address that is neither a chip register nor a pseudo-entry is skipped, and said so.
    const size_t nLast = SAVED.find(entry("0xFFFF", "0", "-12.000000", "WFBOS", true));
    loadSaved(SAVED.substr(0, nLast) + entry("0x1000", "5", "0.000000", "XGAIN") + SAVED.substr(nLast));
    sim::clearSpiLog();
    const std::string output = captureStdout([&] { cal().pushCal(); });
    EXPECT_EQ(sim::chipRegister(AIGAIN), static_cast<uint32_t>(-1342177));
    EXPECT_EQ(sim::chipRegister(AVGAIN), 2684354u);
    EXPECT_EQ(sim::chipRegister(AVRMSOS), static_cast<uint32_t>(-57));
    EXPECT_EQ(sim::chipRegister(APHCAL0), 123u);
    // Each write is read back; the pseudo-entry never reaches the chip.
    EXPECT_EQ(addressesOnTheBus(),
              (std::vector<uint16_t>{AIGAIN, AIGAIN, AVGAIN, AVGAIN, AVRMSOS, AVRMSOS, APHCAL0, APHCAL0}));
    EXPECT_EQ(m_module.m_nWFBOSCounts, -12);
    EXPECT_NE(output.find("Value: 0x0000007B ==> Register: 0x0006 (APHCAL0)\r\n"), std::string::npos);
    EXPECT_NE(output.find("Value: 0x00000000 ==> Register: 0xFFFF (WFBOS)\r\nWFB Offset (Counts): -12\n"),
              std::string::npos);
    EXPECT_EQ(output.find("Verification failed"), std::string::npos);
    EXPECT_NE(output.find("Value: 0x00000005 ==> Register: 0x1000 (XGAIN)\r\n"
                          "Cal9000::pushCal: not a chip register, entry skipped: XGAIN\r\n"),
              std::string::npos);
}

TEST_F(Cal9000Test, PushesReportRegistersThatDoNotKeepTheirValue) {
    loadSaved();
    sim::setChipRegister(AVGAIN, 0x55);
    sim::setIgnoreWrites(AVGAIN, true);
    std::string output = captureStdout([&] { cal().pushCal(); });
    EXPECT_NE(output.find("pushCal: Verification failed (AVGAIN)\r\n"), std::string::npos);
    EXPECT_EQ(output.find("Verification failed (AIGAIN)"), std::string::npos);
    EXPECT_EQ(sim::chipRegister(APHCAL0), 123u);  // the next register is written regardless

    char szName[] = "AVGAIN";
    cal().setPending(szName, 7, 1.0f);
    output = captureStdout([&] { cal().pushPendingCal(); });
    EXPECT_NE(output.find("pushPendingCal: Verification failed (AVGAIN, 0x00000055)\r\n"), std::string::npos);

    output = captureStdout([&] { cal().pushZeroCal(); });
    EXPECT_EQ(output, "pushCal: Verification failed (AVGAIN)\r\n");
    EXPECT_EQ(sim::chipRegister(AIGAIN), 0u);
}

TEST_F(Cal9000Test, PendingValuesArePushedAndSavedOnlyForChangedEntries) {
    loadSaved();
    char szAbsent[] = "BVGAIN";
    EXPECT_TRUE(cal().setPending(szAbsent, 1, 1.0f));
    EXPECT_FALSE(cal().HasChanged());

    char szPresent[] = "AVGAIN";
    char szPseudo[] = "WFBOS";
    EXPECT_EQ(captureStdout([&] { EXPECT_TRUE(cal().setPending(szPresent, 0x1000, 1.5f)); }),
              "\r\nRegister AVGAIN found");
    cal().setPending(szPseudo, 33, 33.0f);
    EXPECT_TRUE(cal().HasChanged());

    sim::clearSpiLog();
    EXPECT_EQ(captureStdout([&] { cal().pushPendingCal(); }),
              "Pending Value: 0x00001000 ==> Register: 0x000B (AVGAIN)\r\n");
    EXPECT_EQ(addressesOnTheBus(), (std::vector<uint16_t>{AVGAIN, AVGAIN}));
    EXPECT_EQ(sim::chipRegister(AVGAIN), 0x1000u);

    cal().saveCal();
    const std::string expected = std::string(HEADER) + entry("0x0000", "-1342177", "0.990000", "AIGAIN") +
                                 entry("0x000B", "4096", "1.500000", "AVGAIN") +
                                 entry("0x000D", "-57", "0.000000", "AVRMSOS") +
                                 entry("0x0006", "123", "0.123456", "APHCAL0") +
                                 entry("0xFFFF", "33", "33.000000", "WFBOS", true) + FOOTER;
    EXPECT_EQ(readFile(m_calPath), expected);

    // Reloading discards what was pending.
    cal().load(m_calPath.c_str());
    EXPECT_FALSE(cal().HasChanged());
}

TEST_F(Cal9000Test, SaveZeroCalZeroesValuesAndKeepsNamesAndAddresses) {
    loadSaved();
    cal().saveZeroCal();
    const std::string expected = std::string(HEADER) + entry("0x0000", "0", "0.000000", "AIGAIN") +
                                 entry("0x000B", "0", "0.000000", "AVGAIN") +
                                 entry("0x000D", "0", "0.000000", "AVRMSOS") +
                                 entry("0x0006", "0", "0.000000", "APHCAL0") +
                                 entry("0xFFFF", "0", "0.000000", "WFBOS", true) + FOOTER;
    EXPECT_EQ(readFile(m_calPath), expected);
}

TEST_F(Cal9000Test, ReadAndDumpShowsTheChipRegisters) {
    loadSaved();
    sim::setChipRegister(AVGAIN, 0xABCDEF01);
    const std::string output = captureStdout([&] { cal().readAndDumpCal(); });
    EXPECT_EQ(output,
              "\r\n"
              "Register AIGAIN (0x0000) ==> 0x00000000\r\n"
              "Register AVGAIN (0x000B) ==> 0xABCDEF01\r\n"
              "Register AVRMSOS (0x000D) ==> 0x00000000\r\n"
              "Register APHCAL0 (0x0006) ==> 0x00000000\r\n");
}

TEST_F(Cal9000Test, FailedSaveLeavesThePreviousFileIntact) {
    loadSaved();
    char szName[] = "AIGAIN";
    cal().setPending(szName, 1, 1.0f);
    std::string output;
    withFileSizeLimit(100, [&] { output = captureStdout([&] { cal().saveCal(); }); });
    EXPECT_EQ(output, "Couldn't write cal file: " + m_calPath + "\r\n");
    EXPECT_EQ(readFile(m_calPath), SAVED);
    EXPECT_EQ(m_dir.entries(), std::vector<std::string>{"Cal9000.json"});  // no temporary file left

    // A directory where the file should be is never replaced.
    ASSERT_EQ(mkdir(m_dir.path("dir").c_str(), 0755), 0);
    snprintf(m_block->s_pszActiveCal, sizeof(m_block->s_pszActiveCal), "%s", m_dir.path("dir").c_str());
    EXPECT_EQ(captureStdout([&] { cal().saveCal(); }),
              "Couldn't open cal file: " + m_dir.path("dir") + "\r\n");
    struct stat dirStat {};
    ASSERT_EQ(stat(m_dir.path("dir").c_str(), &dirStat), 0);
    EXPECT_TRUE(S_ISDIR(dirStat.st_mode));
}

TEST_F(Cal9000Test, SaveTakesAPathThatFillsTheWholeField) {
    loadSaved();
    // No terminator within the field; the next field holds text.
    const size_t nField = sizeof(m_block->s_pszActiveCal);
    const std::string path = m_dir.path(std::string(nField - m_dir.path().size() - 1, 'c'));
    ASSERT_EQ(path.size(), nField);
    memcpy(m_block->s_pszActiveCal, path.data(), nField);
    snprintf(m_block->s_pszActiveDB, sizeof(m_block->s_pszActiveDB), "%s", "database");
    cal().saveCal();
    EXPECT_EQ(readFile(path), SAVED);
}

}  // namespace
