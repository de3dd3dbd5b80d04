// The register list report (requests 8 and 9) and the journal names from the description table.
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "MDT.h"
#include "ModuleFixture.h"

namespace {

using Entry = std::tuple<uint32_t, std::string, std::string>;  // register, abbreviation, description

class MdtReports : public ModuleUnit {
protected:
    void SetUp() override {
        ModuleUnit::SetUp();
        m_module.m_pMDT = &m_mdt;
    }
    void setEntries(const std::vector<Entry>& entries) {
        std::string text;
        for (const auto& [ulReg, abbrev, desc] : entries)
            text +=
                std::string(text.empty() ? "" : ",\n") +
                "    { \"address\": \"0x0000\", \"read\": 1, \"len\": 4, \"reg\": " + std::to_string(ulReg) +
                ", \"abbrev\": \"" + abbrev + "\", \"desc\": \"" + desc + "\" }";
        text = "{\n  \"registers\": [\n" + text + "\n  ]\n}\n";
        m_mdt.setPage(0, text.c_str(), static_cast<uint32_t>(text.size() + 1));
        ASSERT_TRUE(m_mdt.createRegisterList(0));
    }

    MDT m_mdt;
};

TEST_F(MdtReports, RegisterListNamesEachPublishedValueOnce) {
    std::string text;  // a page without text gives an empty array, no table an error
    ASSERT_EQ(request(8, 0, text), 0);
    EXPECT_EQ(text, "\"registers\": [\r\n]\r\n");
    EXPECT_EQ(request(8, 20, text), 0);  // the empty list and its NUL
    EXPECT_EQ(request(8, 19, text), 3);
    EXPECT_TRUE(m_bUntouched);
    setEntries({
        {70, "interval_AWATTHR", "Interval Energy A"},
        {3, "jrnl_VRMS_A", "RMS Voltage A"},
        {3, "jrnl_VRMS_X", "second entry for 3"},
        {5, "other_VRMS_C", "not published"},
        {117, "accum_TOT_FVAHR", "Running Fund. VA Energy"},
        {118, "accum_BEYOND", "past the record"},
        {0, "xjrnl_FREQ_A", "Frequency A"},
    });
    ASSERT_EQ(request(8, 0, text), 0);
    EXPECT_EQ(
        text,
        "\"registers\": [\r\n"
        "{\"reg\": 0, \"modbus\": 40001, \"abbrev\": \"xjrnl_FREQ_A\", \"desc\": \"Frequency A\" },\r\n"
        "{\"reg\": 3, \"modbus\": 40007, \"abbrev\": \"jrnl_VRMS_A\", \"desc\": \"RMS Voltage A\" },\r\n"
        "{\"reg\": 70, \"modbus\": 40141, \"abbrev\": \"interval_AWATTHR\", \"desc\": \"Interval Energy A\" "
        "},\r\n"
        "{\"reg\": 117, \"modbus\": 40235, \"abbrev\": \"accum_TOT_FVAHR\", \"desc\": \"Running Fund. VA "
        "Energy\" }\r\n"
        "]\r\n");
    const std::string full = text;
    ASSERT_EQ(request(9, 0, text), 0);
    EXPECT_EQ(text, full);
    const uint32_t ulNeeded = static_cast<uint32_t>(full.size() + 1);  // written whole or not at all
    EXPECT_EQ(request(8, ulNeeded, text), 0);
    EXPECT_EQ(text, full);
    EXPECT_EQ(request(8, ulNeeded - 1, text), 3);
    EXPECT_TRUE(m_bUntouched);
    m_module.m_pMDT = nullptr;
    EXPECT_EQ(request(8, 0, text), 2);
    EXPECT_TRUE(m_bUntouched);
    EXPECT_EQ(request(9, 100000, text), 2);
}

TEST_F(MdtReports, RegisterListParsesWhateverTheTableHoldsAndKeepsItsBound) {
    // Names as the table may hold them, up to the last byte the report reads.
    const std::pair<std::string, std::string> names[] = {
        {"jrnl_a\\b\t\x01", "{\"q\"}\r\n\x1f \xc2\xb0"},
        {"jrnl_" + std::string(26, '"'), std::string(127, '\x01')},  // full fields
    };
    std::vector<Entry> entries;
    for (uint32_t i = 0; i < 118; i++)
        entries.emplace_back(i, "jrnl_" + std::string(26, 'a'), std::string(127, 'd'));
    setEntries(entries);
    std::string text;
    EXPECT_EQ(request(8, 0, text), 0);  // the longest plain list fits an unbounded request
    for (MDT_REGLIST* pNode = m_mdt.getRegisterList(); pNode; pNode = pNode->pmdtRegNext) {
        const auto& [abbrev, desc] = names[pNode->mdtReg.s_ulReg % 2];
        memcpy(pNode->mdtReg.s_pszAbbrev, abbrev.c_str(), abbrev.size() + 1);
        memcpy(pNode->mdtReg.s_pszDescription, desc.c_str(), desc.size() + 1);
    }
    // Escaped, the text outgrows the host buffer an unbounded request assumes.
    EXPECT_EQ(request(8, 0, text), 3);
    EXPECT_TRUE(m_bUntouched);
    ASSERT_EQ(request(8, 200000, text), 0);
    const auto registers = nlohmann::json::parse("{" + text + "}").at("registers");
    ASSERT_EQ(registers.size(), 118u);
    for (uint32_t i = 0; i < 118; i++) {
        EXPECT_EQ(registers[i].at("modbus"), 40001 + 2 * i);
        EXPECT_EQ(registers[i].at("abbrev"), names[i % 2].first) << i;
        EXPECT_EQ(registers[i].at("desc"), names[i % 2].second) << i;
    }
}

TEST_F(MdtReports, JournalNamesComeFromTheFirstJrnlRegisterOfEachValue) {
    strcpy(m_module.m_pszJrnlName[10], "stale");
    setEntries({{3, "jrnl_VRMS_A", "RMS Voltage A"},
                {3, "jrnl_VRMS_A", "a later entry"},
                {6, "accum_X", "not a journal register"},
                {62, "jrnl_NIRMS1012", std::string(40, 'L')}});
    m_module.initializeJrnlList();
    EXPECT_EQ(std::string(m_module.m_pszJrnlName[62]), std::string(31, 'L'));
    for (int i : {6, 10}) EXPECT_STREQ(m_module.m_pszJrnlName[i], "") << i;
    EXPECT_STREQ(m_module.m_pszJrnlName[3], "RMS Voltage A");
}

}  // namespace
