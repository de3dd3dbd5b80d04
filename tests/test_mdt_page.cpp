// Pages of the description table: names, register list, arrays, the configuration file.
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

class MdtPage : public ::testing::Test {
protected:
    ScratchAppDirectory m_appDir;
    MDT_Page m_page;
    char* m_pszArray = nullptr;
    uint32_t m_ulLength = 0;
};

TEST_F(MdtPage, NamesArrayAndConfigurationFileOnlyInsideTheDirectory) {
    setText(m_page, g_pszJSON);
    EXPECT_STREQ(m_page.getHandlerName(), "QM9000.so");
    // The "config" object as the page holds it; no temporary file left.
    const std::string text = g_pszJSON;
    const size_t config = text.find("\"config\"");
    EXPECT_EQ(m_appDir.read("CfgActive.json"),
              "{\n" + text.substr(config, text.find("\n  }", config) + 4 - config) + "\n}\n");
    EXPECT_EQ(m_appDir.entries(), std::vector<std::string>{"CfgActive.json"});
    ASSERT_TRUE(m_page.createRegisterList());
    const size_t open = text.find('[', text.find("\"calibration\""));
    ASSERT_TRUE(m_page.getArray("\"calibration\"", &m_pszArray, m_ulLength));
    EXPECT_EQ(m_pszArray, m_page.m_pszBuffer + open);
    EXPECT_EQ(std::string(m_pszArray, m_ulLength), text.substr(open, text.find("\n  ]", open) + 4 - open));

    // An existing configuration file is never replaced; names are cut to their fields.
    m_appDir.write("CfgActive.json", "own\n");
    setText(m_page, R"({ "config_file": "CfgActive.json", )"
                    R"("config": { "a": 1 }, "module_desc": ")" +
                        std::string(80, 'm') + "\" }");
    EXPECT_EQ(m_appDir.read("CfgActive.json"), "own\n");
    EXPECT_EQ(m_page.getDescription(), std::string(63, 'm'));

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
        EXPECT_EQ(m_appDir.entries(), (std::vector<std::string>{"App", "CfgActive.json"}));
        struct stat st {};
        EXPECT_NE(stat((appDir + "/New.json").c_str(), &st), 0);
    }
}

TEST_F(MdtPage, RegisterListFollowsTheArrayElementsAndLeavesTheTextWhole) {
    const std::string longAbbrev(40, 'a'), longDesc(200, 'd');
    // Page text, result, the list.
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"{ \"registers\": [\n  ]\n}", true, ""},
        {R"({ "regs": [ { "reg": 1 } ] })", false, ""},
        {R"({ "registers": [ { "reg": 1 })", false, ""},
        {R"({ "registers": [ { "address": "0x04A0", "read": 0, "len": 2, "reg": 3, "abbrev": "jrnl_VRMS_A", )"
         R"("desc": "RMS Voltage A" }, { "address": "0x1F", "read": 7, "len": 4, "reg": 117, "desc": "Y" } ] })",
         true, "1184,0,2,3,jrnl_VRMS_A,RMS Voltage A;31,1,4,117,,Y;"},
        {"{ \"registers\": [ { \"abbrev\": \"" + longAbbrev + "\", \"desc\": \"" + longDesc + "\" } ] }",
         true, "0,0,0,0," + longAbbrev.substr(0, 31) + "," + longDesc.substr(0, 127) + ";"},
        {R"({ "other": [ { "reg": 9 } ], "registers": [ { "reg": 5 } ] })", true, "0,0,0,5,,;"},
        {R"({ "registers": [ { "reg": 7, "x": { "reg": 8 } }, { "reg": 6 } ] })", true,
         "0,0,0,7,,;0,0,0,6,,;"},
    };
    for (const auto& [text, bResult, expected] : cases) {
        SCOPED_TRACE(text.substr(0, 40));
        MDT_Page page;
        setText(page, text);
        // Built twice from the same text, the list is the same.
        for (int pass = 0; pass < 2; pass++) EXPECT_EQ(page.createRegisterList(), bResult);
        EXPECT_EQ(registersOf(page), expected);
        EXPECT_EQ(std::string(page.m_pszBuffer), text);
    }
    EXPECT_FALSE(m_page.createRegisterList());  // no text
}

}  // namespace
