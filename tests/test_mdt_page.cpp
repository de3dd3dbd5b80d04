// Pages of the module description table: the names read from a page, the
// register list, arrays found in place, and the configuration file a page
// creates in the application directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "MDT.h"
#include "ScratchFiles.h"

namespace {

// One "address,read,len,reg,abbrev,desc;" (numbers in decimal) per node of the list.
std::string registersOf(MDT_Page& page) {
    std::string list;
    for (const MDT_REGLIST* pNode = page.getRegisterList(); pNode; pNode = pNode->pmdtRegNext) {
        const MDT_REGISTER r = pNode->mdtReg;  // a copy: the record is packed
        list += std::to_string(r.s_ulAddress) + "," + std::to_string(r.s_bReadOnly) + "," +
                std::to_string(r.s_ulLength) + "," + std::to_string(r.s_ulReg) + "," + r.s_pszAbbrev + "," +
                r.s_pszDescription + ";";
    }
    return list;
}

// The text with its NUL; returns what the page printed.
std::string setText(MDT_Page& page, const std::string& text) {
    return captureStdout([&] { page.setBuffer(text.c_str(), static_cast<uint32_t>(text.size() + 1)); });
}

// The application directory is a scratch directory for each test.
class MdtPage : public ::testing::Test {
protected:
    void SetUp() override { setenv("QM_APP_DIR", m_appDir.path().c_str(), 1); }
    void TearDown() override { unsetenv("QM_APP_DIR"); }

    ScratchDirectory m_appDir;
    MDT_Page m_page;
    char* m_pszArray = nullptr;
    uint32_t m_ulLength = 0;
};

TEST_F(MdtPage, DefaultPageGivesItsNamesConfigurationFileAndCalibrationArray) {
    setText(m_page, g_pszJSON);
    EXPECT_STREQ(m_page.getHandlerName(), "QM9000.so");
    EXPECT_STREQ(m_page.getConfigName(), "CfgActive.json");
    EXPECT_STREQ(m_page.getCalName(), "");
    EXPECT_STREQ(m_page.getDescription(), "Unknown");
    // The "config" object as the page holds it, a setting per line; no temporary file left.
    const std::string text = g_pszJSON;
    const size_t config = text.find("\"config\"");
    EXPECT_EQ(m_appDir.read("CfgActive.json"),
              "{\n" + text.substr(config, text.find("\n  }", config) + 4 - config) + "\n}\n");
    EXPECT_EQ(m_appDir.entries(), std::vector<std::string>{"CfgActive.json"});

    // Found in place after the register list was built, brackets included.
    ASSERT_TRUE(m_page.createRegisterList());
    const size_t open = text.find('[', text.find("\"calibration\""));
    ASSERT_TRUE(m_page.getArray("\"calibration\"", &m_pszArray, m_ulLength));
    EXPECT_EQ(m_pszArray, m_page.m_pszBuffer + open);
    EXPECT_EQ(std::string(m_pszArray, m_ulLength), text.substr(open, text.find("\n  ]", open) + 4 - open));

    // An existing configuration file is never replaced.
    m_appDir.write("CfgActive.json", "the meter's own settings\n");
    setText(m_page, g_pszJSON);
    EXPECT_EQ(m_appDir.read("CfgActive.json"), "the meter's own settings\n");
}

TEST_F(MdtPage, RegisterListFollowsTheArrayElementsAndLeavesTheTextWhole) {
    const std::string longAbbrev(40, 'a'), longDesc(200, 'd');
    const struct {
        const char* name;
        std::string text;
        bool bResult;
        std::string expected;
    } cases[] = {
        {"default page", g_pszJSON, true,
         "0,1,4,0,abbrev,description;2,1,4,0,abbrev,description;4,0,4,0,abbrev,description;"
         "6,1,524288,0,abbrev,description;"},
        {"empty array", "{ \"registers\": [\n  ]\n}", true, ""},
        {"no registers key", R"({ "regs": [ { "reg": 1 } ] })", false, ""},
        {"unbalanced array", R"({ "registers": [ { "reg": 1 })", false, ""},
        {"every key",
         R"({ "registers": [ { "address": "0x04A0", "read": 0, "len": 2, "reg": 3, "abbrev": "jrnl_VRMS_A", )"
         R"("desc": "RMS Voltage A" }, { "address": "0x1F", "read": 7, "len": 4, "reg": 117, "desc": "Y" } ] })",
         true, "1184,0,2,3,jrnl_VRMS_A,RMS Voltage A;31,1,4,117,,Y;"},
        {"long names are cut",
         "{ \"registers\": [ { \"abbrev\": \"" + longAbbrev + "\", \"desc\": \"" + longDesc + "\" } ] }",
         true, "0,0,0,0," + longAbbrev.substr(0, 31) + "," + longDesc.substr(0, 127) + ";"},
        {"the registers array, not an earlier one",
         R"({ "other": [ { "reg": 9 } ], "registers": [ { "reg": 5 } ] })", true, "0,0,0,5,,;"},
        {"nested elements count as one",
         R"({ "registers": [ { "reg": 7, "x": { "reg": 8 } }, { "reg": 6 } ] })", true,
         "0,0,0,7,,;0,0,0,6,,;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MDT_Page page;
        setText(page, c.text);
        // Built twice from the same text, the list is the same.
        for (int pass = 0; pass < 2; pass++) EXPECT_EQ(page.createRegisterList(), c.bResult);
        EXPECT_EQ(registersOf(page), c.expected);
        EXPECT_EQ(std::string(page.m_pszBuffer), c.text);
        EXPECT_EQ(page.getArray("\"registers\"", &m_pszArray, m_ulLength), c.bResult);
    }
    EXPECT_FALSE(m_page.createRegisterList());  // no text
    EXPECT_FALSE(m_page.getArray("\"registers\"", &m_pszArray, m_ulLength));
}

TEST_F(MdtPage, NamesAreCutToTheirFields) {
    const std::string desc80(80, 'm');
    setText(m_page, R"({ "handler": "H.so", "cal_file": "C.json", "config_file": "", "module_desc": ")" +
                        desc80 + "\" }");
    EXPECT_STREQ(m_page.getHandlerName(), "H.so");
    EXPECT_STREQ(m_page.getCalName(), "C.json");
    EXPECT_EQ(m_page.getDescription(), desc80.substr(0, 63));
    EXPECT_STREQ(m_page.getConfigName(), "");
    EXPECT_EQ(m_appDir.entries(), std::vector<std::string>{});
}

TEST_F(MdtPage, ConfigurationFileOnlyInsideTheDirectoryAndFromAConfigObject) {
    // The application directory one level down, so an escape would land in the scratch directory.
    const std::string appDir = m_appDir.path("App");
    ASSERT_EQ(mkdir(appDir.c_str(), 0700), 0);
    setenv("QM_APP_DIR", appDir.c_str(), 1);
    // Page text, message, result of parsing: refused names are no failure to parse, a missing object is.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {R"({ "config_file": "../Escape.json", "config": { "a": 1 } })", "is not a file name", true},
        {R"({ "config_file": "..", "config": { "a": 1 } })", "is not a file name", true},
        {R"({ "config_file": "sub/Cfg.json", "config": { "a": 1 } })", "is not a file name", true},
        {R"({ "config_file": "New.json" })", "no \"config\" object", false},
        {R"({ "config_file": "New.json", "config": { { "qm9000": [ ] })", "no \"config\" object", false},
    };
    for (const auto& [pszText, pszMessage, bParsed] : cases) {
        SCOPED_TRACE(pszText);
        const std::string output = setText(m_page, pszText);
        EXPECT_NE(output.find(pszMessage), std::string::npos) << output;
        EXPECT_EQ(m_page.parseContent(), bParsed);
        EXPECT_EQ(m_appDir.entries(), std::vector<std::string>{"App"});
        struct stat st {};
        EXPECT_NE(stat((appDir + "/New.json").c_str(), &st), 0);
    }
}

}  // namespace
