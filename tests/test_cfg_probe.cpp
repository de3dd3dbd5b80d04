// The probe catalogue: the built-in list, the probe file, the lookups the
// measurement configuration makes and the JSON rendering for the host.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AppFiles.h"
#include "CfgProbe.h"
#include "ScratchFiles.h"

namespace {

class CfgProbeTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("QM_APP_DIR", m_dir.path().c_str(), 1); }
    void TearDown() override { unsetenv("QM_APP_DIR"); }

    void writeProbes(const std::string& lines) { m_dir.write(PROBE_FILE_NAME, lines); }

    static size_t count(CfgProbe& probes) {
        size_t n = 0;
        for (const PROBE_LIST_ELEMENT* p = probes.m_probeList; p; p = p->pNext) n++;
        return n;
    }

    ScratchDirectory m_dir;
    CfgProbe m_probes;
};

TEST_F(CfgProbeTest, WithoutAFileTheBuiltInProbesApply) {
    EXPECT_EQ(captureStdout([&] { m_probes.load(PROBE_FILE_NAME); }),
              "Couldn't open file: " + m_dir.path(PROBE_FILE_NAME) + "\r\n");
    EXPECT_EQ(count(m_probes), 9u);
    EXPECT_EQ(m_probes.getFullScale(6, 100.0f, 50.0f), 668.0f);
    EXPECT_EQ(m_probes.getFullScale(8, 100.0f, 60.0f), 3370.0f);
    EXPECT_EQ(m_probes.getFullScale(0, 100.0f, 50.0f), 100.0f);  // custom: the configured value
    EXPECT_EQ(m_probes.getFullScale(42, 100.0f, 60.0f), 100.0f);
    EXPECT_TRUE(m_probes.isRogowski(7));
    EXPECT_FALSE(m_probes.isRogowski(5));
    EXPECT_FALSE(m_probes.isRogowski(0));
    EXPECT_FALSE(m_probes.isRogowski(42));
    ASSERT_NE(m_probes.findProbe(4), nullptr);
    EXPECT_STREQ(m_probes.findProbe(4)->pszName, "Clamp-100A");
}

TEST_F(CfgProbeTest, TheFiftyHertzRatingAppliesFrom45UpTo55Hertz) {
    writeProbes(R"({ "id": 3, "name": "Clamp-X", "FS50Hz": 10, "FS60Hz": 12, "rogowski": 0 })"
                "\r\n");
    m_probes.load(PROBE_FILE_NAME);
    const std::pair<float, float> cases[] = {{50.0f, 10.0f}, {45.0f, 10.0f}, {54.99f, 10.0f}, {44.9f, 12.0f},
                                             {55.0f, 12.0f}, {60.0f, 12.0f}, {0.0f, 12.0f}};
    for (const auto& [fFreq, fScale] : cases)
        EXPECT_EQ(m_probes.getFullScale(3, 1.0f, fFreq), fScale) << fFreq;
}

TEST_F(CfgProbeTest, FileLinesBecomeProbesInFileOrder) {
    writeProbes(
        "{ \"probes\": [\r\n"
        "  { \"id\": 6, \"name\": \"Coil-A\", \"FS50Hz\": 600.5, \"FS60Hz\": \"610.25\", \"rogowski\": 1 "
        "},\r\n"
        "  { \"id\": 6, \"name\": \"Coil-B\", \"FS50Hz\": 1, \"FS60Hz\": 1, \"rogowski\": 0 },\r\n"
        "  { \"id\": 9, \"FS50Hz\": 7, \"FS60Hz\": 8 },\r\n"
        "  { \"name\": \"NoId\", \"FS50Hz\": 7 },\r\n"
        "  { \"id\": 5 }\r\n"
        "] }\r\n");
    EXPECT_NE(captureStdout([&] { m_probes.load(PROBE_FILE_NAME); }).find("CfgProbe::load: "),
              std::string::npos);
    // An "id" with no string after it is no probe line, nor is a line without "id".
    EXPECT_EQ(count(m_probes), 3u);
    // The first of two probes with one index is the one found.
    EXPECT_STREQ(m_probes.findProbe(6)->pszName, "Coil-A");
    EXPECT_EQ(m_probes.getFullScale(6, 1.0f, 60.0f), 610.25f);
    EXPECT_TRUE(m_probes.isRogowski(6));
    // A probe line without a name takes the previous line's.
    EXPECT_STREQ(m_probes.findProbe(9)->pszName, "Coil-B");
    EXPECT_FALSE(m_probes.isRogowski(9));
}

TEST_F(CfgProbeTest, ReloadReplacesTheCatalogue) {
    writeProbes(R"({ "id": 1, "name": "One", "FS50Hz": 1, "FS60Hz": 1, "rogowski": 0 })"
                "\n");
    m_probes.load(PROBE_FILE_NAME);
    m_probes.load(PROBE_FILE_NAME);
    EXPECT_EQ(count(m_probes), 1u);
    m_probes.load("absent.json");
    EXPECT_EQ(count(m_probes), 9u);
    EXPECT_EQ(m_probes.getFullScale(1, 0.0f, 50.0f), 5.0f);
}

TEST_F(CfgProbeTest, ProbeJSONRendersEveryProbeWhenThereIsRoom) {
    m_probes.load("absent.json");
    std::vector<char> json(4096, 'X');
    const uint32_t ulLength = m_probes.getProbeJSON(json.data(), 4096);
    const std::string text(json.data());
    EXPECT_EQ(ulLength, text.size() + 1);
    EXPECT_EQ(text.rfind("   \"probes\": [\n"
                         "{ \"id\": 0, \"name\": \"Custom\", \"FS50Hz\": 5.000000, \"FS60Hz\": 5.000000 },\n",
                         0),
              0u);
    const std::string last =
        "{ \"id\": 8, \"name\": \"Coil-3000A-xx\", \"FS50Hz\": 3370.000000, "
        "\"FS60Hz\": 3370.000000 }]\n\n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);

    EXPECT_EQ(m_probes.getProbeJSON(json.data(), 1023), 0u);
    CfgProbe empty;
    EXPECT_EQ(empty.getProbeJSON(json.data(), 1024), strlen("   \"probes\": [\n\n") + 1);
}

TEST_F(CfgProbeTest, ProbeJSONStopsBeforeTheBufferEnds) {
    // Long names make each element longer than the space the loop reserves.
    for (uint32_t i = 0; i < 20; i++)
        m_probes.addProbe(i, std::string(63, 'n').c_str(), 3.4e38f, 3.4e38f, false);
    std::vector<char> json(1024);
    const uint32_t ulLength = m_probes.getProbeJSON(json.data(), 1024);
    EXPECT_LE(ulLength, 1024u);
    EXPECT_EQ(ulLength, strlen(json.data()) + 1);
    EXPECT_EQ(std::string(json.data()).find(']'), std::string::npos);  // cut short: no closing bracket
}

TEST_F(CfgProbeTest, TheHostLoadsItsCatalogueFromTheApplicationDirectory) {
    EXPECT_EQ(appDirectory(), m_dir.path());
    writeProbes(R"({ "id": 2, "name": "Only", "FS50Hz": 2, "FS60Hz": 2, "rogowski": 0 })"
                "\n");
    const std::unique_ptr<CfgProbe> probes = loadCfgProbe();
    ASSERT_NE(probes, nullptr);
    EXPECT_STREQ(probes->findProbe(2)->pszName, "Only");
    EXPECT_EQ(probes->findProbe(0), nullptr);

    unsetenv("QM_APP_DIR");
    EXPECT_EQ(appDirectory(), "/home/kesh/marivel/App");
}

}  // namespace
