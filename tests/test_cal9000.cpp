// The calibration constants store against the simulated chip: the exact saved
// file, what loading hands to the module, pushes with read-back verification.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <limits>
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
constexpr uint16_t AIGAIN = 0x000, AVGAIN = 0x00B, APHCAL0 = 0x006;

class Cal9000Test : public ModuleUnit {
protected:
    void SetUp() override {
        ModuleUnit::SetUp();
        setActive(m_dir.path("Cal9000.json"));
    }
    Cal9000& cal() { return m_module.m_Cal9000; }
    void setActive(const std::string& path) {
        snprintf(m_block->s_pszActiveCal, sizeof(m_block->s_pszActiveCal), "%s", path.c_str());
    }
    void loadSaved(const std::string& content = SAVED) {
        writeFile(m_block->s_pszActiveCal, content);
        captureStdout([&] { cal().load(m_block->s_pszActiveCal); });
    }
    void setPending(const char* pszName, uint32_t ulValue, float fValue) {
        captureStdout([&] { cal().setPending(const_cast<char*>(pszName), ulValue, fValue); });
    }

    ScratchDirectory m_dir;
};

// Saved exactly as read; a reload replaces the whole list (even with nothing),
// a file that cannot be read keeps it.
TEST_F(Cal9000Test, SavesPendingValuesInTheExactFormatWholeOrNotAtAll) {
    for (const char* pszFile : {"", "{\r\n  \"address\": \"0x000B\", \"value\": 5\r\n}\r\n", "-"}) {
        loadSaved();
        cal().saveCal();
        EXPECT_EQ(readFile(m_block->s_pszActiveCal), SAVED);
        const std::string path =
            *pszFile != '-' ? m_dir.write("reload.json", pszFile) : m_dir.path("missing");
        captureStdout([&] { cal().load(path.c_str()); });
        cal().saveCal();
        EXPECT_EQ(readFile(m_block->s_pszActiveCal), *pszFile != '-' ? calFile({}) : SAVED);
    }
    setPending("AVGAIN", 0x1000, 1.5f);
    setPending("WFBOS", 33, 33.0f);
    // A constant the file does not list: said, and nothing changes.
    const std::string said =
        captureStdout([&] { EXPECT_TRUE(cal().setPending(const_cast<char*>("NIGAIN"), 7, 7.0f)); });
    EXPECT_EQ(said, "\r\nRegister NIGAIN is not in the calibration file; not calibrated\r\n");
    sim::clearSpiLog();
    captureStdout([&] { cal().pushPendingCal(); });
    EXPECT_EQ(sim::spiLog().size(), 2u) << "the changed chip register alone, written and read back";
    EXPECT_EQ(sim::chipRegister(AVGAIN), 0x1000u);

    // A path filling the whole field (no terminator) is taken whole.
    const size_t nField = sizeof(m_block->s_pszActiveCal);
    const std::string path = m_dir.path(std::string(nField - m_dir.path().size() - 1, 'c'));
    memcpy(m_block->s_pszActiveCal, path.data(), nField);
    snprintf(m_block->s_pszActiveDB, sizeof(m_block->s_pszActiveDB), "%s", "database");
    cal().saveCal();
    std::vector<std::string> entries = ENTRIES;
    entries[1] = "0x000B 4096 1.500000 AVGAIN";
    entries[4] = "0xFFFF 33 33.000000 WFBOS";
    EXPECT_EQ(readFile(path), calFile(entries));

    // A directory where the file should be is never replaced.
    ASSERT_EQ(mkdir(m_dir.path("dir").c_str(), 0755), 0);
    setActive(m_dir.path("dir"));
    captureStdout([&] { EXPECT_FALSE(cal().saveCal()); });
    struct stat dirStat {};
    EXPECT_TRUE(stat(m_dir.path("dir").c_str(), &dirStat) == 0 && S_ISDIR(dirStat.st_mode));
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
    loadSaved(file);
    // A zero ratio counts as 1, an offset below zero saturates, a multipoint
    // name is a plain register.
    const QM9000& m = m_module;
    EXPECT_EQ(std::vector<float>(m.m_fWFBCalRatio, m.m_fWFBCalRatio + 6),
              (std::vector<float>{1.25f, 1, 1, 1, 1, 1}));
    EXPECT_EQ(std::vector<uint32_t>(m.m_ulWFBCalOffset, m.m_ulWFBCalOffset + 6),
              (std::vector<uint32_t>{3, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<float>(m.m_fCurrentAngleCal, m.m_fCurrentAngleCal + 3),
              (std::vector<float>{0, 0.5f, 0}));
    setPending("AIGAIN", 1, std::numeric_limits<float>::infinity());
    cal().saveCal();
    entries[0] = "0x0000 1 0.000000 AIGAIN";
    entries[5] = "0x004B 0 0.000000 CVGAIN";
    entries[6] = "0x004D 0 0.000000 CVRMSOS";
    EXPECT_EQ(readFile(m_block->s_pszActiveCal), calFile(entries));
}

// Each write is read back; the pseudo-entry never reaches the chip, nor does
// an address that is no chip register.
TEST_F(Cal9000Test, PushesWriteChipRegistersAndReportThoseThatDoNotKeepTheirValue) {
    std::vector<std::string> entries = ENTRIES;
    entries.insert(entries.end() - 1, "0x1000 5 0.000000 XGAIN");
    loadSaved(calFile(entries));
    sim::clearSpiLog();
    std::string output = captureStdout([&] { cal().pushCal(); });  // nothing to report
    EXPECT_EQ(output.find("Verification failed"), std::string::npos);
    using Writes = std::vector<std::pair<uint16_t, uint32_t>>;
    EXPECT_EQ(sim::spiWrites(),
              (Writes{{AIGAIN, 0xFFEB851F}, {AVGAIN, 2684354}, {0x00D, 0xFFFFFFC7}, {APHCAL0, 123}}));
    EXPECT_EQ(sim::spiLog().size(), 8u) << "each write read back";
    EXPECT_EQ(m_module.m_nWFBOSCounts, -12);

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
}

}  // namespace
