// Pages of the module description table: the names read from a page, the
// register list, arrays found in place, and the configuration file a page
// creates in the application directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MDT.h"
#include "ScratchFiles.h"

namespace {

// The register fields of one list node, copied out of the packed record.
struct Register {
    uint32_t ulAddress;
    bool bReadOnly;
    uint32_t ulLength;
    uint32_t ulReg;
    std::string abbrev;
    std::string desc;
};

bool operator==(const Register& a, const Register& b) {
    return a.ulAddress == b.ulAddress && a.bReadOnly == b.bReadOnly && a.ulLength == b.ulLength &&
           a.ulReg == b.ulReg && a.abbrev == b.abbrev && a.desc == b.desc;
}

std::ostream& operator<<(std::ostream& os, const Register& r) {
    return os << "{0x" << std::hex << r.ulAddress << std::dec << ", " << r.bReadOnly << ", " << r.ulLength
              << ", " << r.ulReg << ", " << r.abbrev << ", " << r.desc << "}";
}

std::vector<Register> registersOf(MDT_Page& page) {
    std::vector<Register> registers;
    for (const MDT_REGLIST* pNode = page.getRegisterList(); pNode; pNode = pNode->pmdtRegNext) {
        const MDT_REGISTER reg = pNode->mdtReg;
        registers.push_back({reg.s_ulAddress, reg.s_bReadOnly, reg.s_ulLength, reg.s_ulReg, reg.s_pszAbbrev,
                             reg.s_pszDescription});
    }
    return registers;
}

void setText(MDT_Page& page, const std::string& text) {
    page.setBuffer(text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

// The application directory is a scratch directory for each test.
class MdtPage : public ::testing::Test {
protected:
    void SetUp() override { setenv("QM_APP_DIR", m_appDir.path().c_str(), 1); }
    void TearDown() override { unsetenv("QM_APP_DIR"); }

    ScratchDirectory m_appDir;
    MDT_Page m_page;
};

// The "config" object of the default page, as the configuration file holds it.
const char DEFAULT_CONFIG_FILE[] =
    "{\n"
    "\"config\": {\n"
    "    \"qm9000\": [\n"
    "      { \"name\": \"opMode\", \"value\": 0 },\n"
    "      { \"name\": \"Wiring\", \"value\": 0 },\n"
    "      { \"name\": \"FNominal\", \"value\": 60.0 },\n"
    "      { \"name\": \"VNominal\", \"value\": 120.0 },\n"
    "      { \"name\": \"INominal\", \"value\": 5.0 },\n"
    "      { \"name\": \"JournalEnabled\", \"value\": 0 },\n"
    "      { \"name\": \"JournalInterval\", \"value\": 600 }\n"
    "    ]\n"
    "  }\n"
    "}\n";

TEST_F(MdtPage, DefaultPageGivesItsNamesAndItsConfigurationFile) {
    ASSERT_EQ(strlen(g_pszJSON), 2548u);
    m_page.setBuffer(g_pszJSON, 2549);
    EXPECT_STREQ(m_page.getHandlerName(), "QM9000.so");
    EXPECT_STREQ(m_page.getConfigName(), "CfgActive.json");
    EXPECT_STREQ(m_page.getCalName(), "");
    EXPECT_STREQ(m_page.getDescription(), "Unknown");
    EXPECT_EQ(m_appDir.read("CfgActive.json"), DEFAULT_CONFIG_FILE);
    // The file is the only thing created: no temporary file is left behind.
    EXPECT_EQ(m_appDir.entries(), std::vector<std::string>{"CfgActive.json"});
    // The text ends with a comma after the last array and the brace on its own line.
    EXPECT_EQ(std::string(g_pszJSON).substr(2548 - 6), "  ],\n}");
}

TEST_F(MdtPage, DefaultPageListsItsFourRegisters) {
    m_page.setBuffer(g_pszJSON, 2549);
    ASSERT_TRUE(m_page.createRegisterList());
    const std::vector<Register> expected = {
        {0x0000, true, 4, 0, "abbrev", "description"},
        {0x0002, true, 4, 0, "abbrev", "description"},
        {0x0004, false, 4, 0, "abbrev", "description"},
        {0x0006, true, 524288, 0, "abbrev", "description"},
    };
    EXPECT_EQ(registersOf(m_page), expected);
}

TEST_F(MdtPage, RegisterListLeavesThePageTextWhole) {
    m_page.setBuffer(g_pszJSON, 2549);
    ASSERT_TRUE(m_page.createRegisterList());
    char* pszText = nullptr;
    ASSERT_EQ(m_page.getBuffer(&pszText, 10000), 2549u);
    EXPECT_EQ(std::string(pszText), g_pszJSON);
    char* pszArray = nullptr;
    uint32_t ulLength = 0;
    EXPECT_TRUE(m_page.getArray("\"calibration\"", &pszArray, ulLength));
    // Built again from the same text, the list is the same.
    const std::vector<Register> first = registersOf(m_page);
    ASSERT_TRUE(m_page.createRegisterList());
    EXPECT_EQ(registersOf(m_page), first);
}

TEST_F(MdtPage, GetArrayFindsTheCalibrationArrayInPlace) {
    m_page.setBuffer(g_pszJSON, 2549);
    const std::string text = g_pszJSON;
    const size_t open = text.find('[', text.find("\"calibration\""));
    const size_t close = text.find("\n  ]", open) + 3;
    char* pszArray = nullptr;
    uint32_t ulLength = 0;
    ASSERT_TRUE(m_page.getArray("\"calibration\"", &pszArray, ulLength));
    EXPECT_EQ(pszArray, m_page.m_pszBuffer + open);
    EXPECT_EQ(ulLength, close - open + 1);
    const std::string array(pszArray, ulLength);
    EXPECT_EQ(array.front(), '[');
    EXPECT_EQ(array.back(), ']');
    size_t elements = 0;
    for (size_t at = array.find("\"name\""); at != std::string::npos; at = array.find("\"name\"", at + 1))
        elements++;
    EXPECT_EQ(elements, 21u);
    EXPECT_NE(array.find("\"NIRMSOS\""), std::string::npos);

    EXPECT_FALSE(m_page.getArray("\"no such array\"", &pszArray, ulLength));
    setText(m_page, "{ \"open\": [ [ 1 ] }");
    EXPECT_FALSE(m_page.getArray("\"open\"", &pszArray, ulLength));
    MDT_Page empty;
    EXPECT_FALSE(empty.getArray("\"calibration\"", &pszArray, ulLength));
}

struct RegisterListCase {
    const char* name;
    std::string text;
    bool bResult;
    std::vector<Register> expected;
};

TEST_F(MdtPage, RegisterListFollowsTheArrayElements) {
    const std::string longAbbrev(40, 'a');
    const std::string longDesc(200, 'd');
    const RegisterListCase cases[] = {
        {"empty array", "{ \"registers\": [ ] }", true, {}},
        {"empty array over two lines", "{ \"registers\": [\n  ]\n}", true, {}},
        {"no registers key", "{ \"regs\": [ { \"reg\": 1 } ] }", false, {}},
        {"unbalanced array", "{ \"registers\": [ { \"reg\": 1 }", false, {}},
        {"keys missing read as zero", "{ \"registers\": [ { } ] }", true, {{0, false, 0, 0, "", ""}}},
        {"every key",
         "{ \"registers\": [\n"
         "  { \"address\": \"0x04A0\", \"read\": 0, \"len\": 2, \"reg\": 3, \"abbrev\": \"jrnl_VRMS_A\", "
         "\"desc\": \"RMS Voltage A\" },\n"
         "  { \"address\": \"0x1F\", \"read\": 1, \"len\": 4, \"reg\": 117, \"abbrev\": \"accum_X\", "
         "\"desc\": \"X\" }\n"
         "] }",
         true,
         {{0x04A0, false, 2, 3, "jrnl_VRMS_A", "RMS Voltage A"}, {0x1F, true, 4, 117, "accum_X", "X"}}},
        {"long names are cut",
         "{ \"registers\": [ { \"abbrev\": \"" + longAbbrev + "\", \"desc\": \"" + longDesc + "\" } ] }",
         true,
         {{0, false, 0, 0, longAbbrev.substr(0, 31), longDesc.substr(0, 127)}}},
        {"the registers array, not an earlier one",
         "{ \"other\": [ { \"reg\": 9 } ], \"registers\": [ { \"reg\": 5 } ] }",
         true,
         {{0, false, 0, 5, "", ""}}},
        {"nested elements count as one",
         "{ \"registers\": [ { \"reg\": 7, \"x\": { \"reg\": 8 } }, { \"reg\": 6 } ] }",
         true,
         {{0, false, 0, 7, "", ""}, {0, false, 0, 6, "", ""}}},
    };
    for (const RegisterListCase& c : cases) {
        SCOPED_TRACE(c.name);
        MDT_Page page;
        setText(page, c.text);
        EXPECT_EQ(page.createRegisterList(), c.bResult);
        EXPECT_EQ(registersOf(page), c.expected);
        // The text is as it was.
        EXPECT_EQ(std::string(page.m_pszBuffer), c.text);
    }
    MDT_Page noText;
    EXPECT_FALSE(noText.createRegisterList());
}

TEST_F(MdtPage, NamesAreReadAndCutToTheirFields) {
    const std::string desc80(80, 'm');
    setText(m_page, "{ \"handler\": \"H.so\", \"cal_file\": \"C.json\", \"module_desc\": \"" + desc80 +
                        "\", \"config_file\": \"\" }");
    EXPECT_STREQ(m_page.getHandlerName(), "H.so");
    EXPECT_STREQ(m_page.getCalName(), "C.json");
    EXPECT_EQ(std::string(m_page.getDescription()), desc80.substr(0, 63));
    EXPECT_STREQ(m_page.getConfigName(), "");
    EXPECT_EQ(m_appDir.entries(), std::vector<std::string>{});
}

TEST_F(MdtPage, ExistingConfigurationFileIsNeverReplaced) {
    m_appDir.write("CfgActive.json", "the meter's own settings\n");
    m_page.setBuffer(g_pszJSON, 2549);
    EXPECT_TRUE(m_page.parseContent());
    EXPECT_EQ(m_appDir.read("CfgActive.json"), "the meter's own settings\n");
    EXPECT_EQ(m_appDir.entries(), std::vector<std::string>{"CfgActive.json"});
}

TEST_F(MdtPage, PageWithoutAConfigObjectCreatesNoFile) {
    for (const std::string text : {"{ \"config_file\": \"New.json\" }",
                                   "{ \"config_file\": \"New.json\", \"config\": { \"qm9000\": [ ] "}) {
        SCOPED_TRACE(text);
        std::string output = captureStdout([&] { setText(m_page, text); });
        EXPECT_NE(output.find("no \"config\" object"), std::string::npos) << output;
        EXPECT_FALSE(m_page.parseContent());
        EXPECT_EQ(m_appDir.entries(), std::vector<std::string>{});
    }
}

TEST_F(MdtPage, ConfigurationNameOutsideTheDirectoryIsRefused) {
    // The application directory one level down, so an escape would land in the scratch directory.
    const std::string appDir = m_appDir.path("App");
    ASSERT_EQ(mkdir(appDir.c_str(), 0700), 0);
    setenv("QM_APP_DIR", appDir.c_str(), 1);
    for (const char* pszName : {"../Escape.json", "..", "sub/Cfg.json"}) {
        SCOPED_TRACE(pszName);
        const std::string output = captureStdout([&] {
            setText(m_page,
                    std::string("{ \"config_file\": \"") + pszName + "\", \"config\": { \"a\": 1 } }");
        });
        EXPECT_NE(output.find("is not a file name"), std::string::npos) << output;
        EXPECT_TRUE(m_page.parseContent());
    }
    EXPECT_EQ(m_appDir.entries(), std::vector<std::string>{"App"});
    struct stat st {};
    EXPECT_NE(stat((appDir + "/sub").c_str(), &st), 0);
}

TEST_F(MdtPage, TextIsAlwaysTerminatedWithinItsLength) {
    const char unterminated[] = {'{', '"', 'a', '"'};
    m_page.setBuffer(unterminated, sizeof(unterminated));
    ASSERT_NE(m_page.m_pszBuffer, nullptr);
    EXPECT_EQ(m_page.m_ulBufferLength, 4u);
    EXPECT_STREQ(m_page.m_pszBuffer, "{\"a");
    m_page.setBuffer(unterminated, 0);
    EXPECT_EQ(m_page.m_pszBuffer, nullptr);
    EXPECT_FALSE(m_page.m_bBufferInitialized);
    EXPECT_EQ(m_page.getBuffer(nullptr, 100), 0u);
}

TEST_F(MdtPage, ClearDropsTheTextOnly) {
    MDT_HEADER header{1, 2549, 0, 0, 1, 8160, {0, 0}};
    m_page.setHeader(&header);
    m_page.setBuffer(g_pszJSON, 2549);
    ASSERT_TRUE(m_page.createRegisterList());
    m_page.clear();
    EXPECT_EQ(m_page.m_pszBuffer, nullptr);
    EXPECT_EQ(m_page.m_ulBufferLength, 0u);
    EXPECT_FALSE(m_page.m_bBufferInitialized);
    EXPECT_STREQ(m_page.getHandlerName(), "QM9000.so");
    EXPECT_EQ(registersOf(m_page).size(), 4u);
    MDT_HEADER* pHeader = nullptr;
    EXPECT_EQ(m_page.getHeader(&pHeader), 32u);
    EXPECT_EQ(pHeader, &m_page.m_mhHeader);
    EXPECT_EQ(memcmp(pHeader, &header, sizeof(header)), 0);
    EXPECT_TRUE(m_page.m_bHeaderInitialized);
    m_page.destroyRegisterList();
    EXPECT_EQ(m_page.getRegisterList(), nullptr);
}

}  // namespace
