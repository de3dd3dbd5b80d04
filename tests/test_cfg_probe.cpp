// The probe catalogue: the built-in list, the probe file the host loads from
// the application directory, the lookups the measurement configuration makes
// and the JSON rendering for the host.
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

    // Probe, name, full scale at 50 Hz and 60 Hz, Rogowski: one per line.
    std::string catalogue(CfgProbe& probes) {
        std::string text;
        for (const PROBE_LIST_ELEMENT* p = probes.m_probeList; p; p = p->pNext)
            text += std::to_string(p->unIndex) + " " + p->pszName + " " + std::to_string(p->fScale_50Hz) +
                    " " + std::to_string(p->fScale_60Hz) + (p->bIsRogowski ? " R\n" : "\n");
        return text;
    }

    ScratchDirectory m_dir;
    CfgProbe m_probes;
    std::vector<char> m_json = std::vector<char>(4096, 'X');
};

TEST_F(CfgProbeTest, WithoutAFileTheBuiltInProbesApply) {
    EXPECT_EQ(captureStdout([&] { m_probes.load("absent.json"); }),
              "Couldn't open file: " + m_dir.path("absent.json") + "\r\n");
    EXPECT_EQ(m_probes.getFullScale(6, 100.0f, 50.0f), 668.0f);
    EXPECT_EQ(m_probes.getFullScale(7, 100.0f, 60.0f), 1685.0f);
    EXPECT_TRUE(m_probes.isRogowski(8));
    EXPECT_FALSE(m_probes.isRogowski(5));
    EXPECT_STREQ(m_probes.findProbe(4)->pszName, "Clamp-100A");
    // The custom probe and unknown ones keep the configured full scale and are no coils.
    EXPECT_EQ(m_probes.getFullScale(0, 100.0f, 50.0f), 100.0f);
    EXPECT_EQ(m_probes.getFullScale(42, 100.0f, 60.0f), 100.0f);
    EXPECT_FALSE(m_probes.isRogowski(0) || m_probes.isRogowski(42));

    // Rendered for the host when there is room; nothing below 1024 bytes.
    const uint32_t ulLength = m_probes.getProbeJSON(m_json.data(), 4096);
    const std::string json(m_json.data());
    EXPECT_EQ(ulLength, json.size() + 1);
    const std::string first =
        "   \"probes\": [\n{ \"id\": 0, \"name\": \"Custom\", \"FS50Hz\": 5.000000, \"FS60Hz\": 5.000000 "
        "},\n";
    const std::string last =
        "{ \"id\": 8, \"name\": \"Coil-3000A-xx\", \"FS50Hz\": 3370.000000, \"FS60Hz\": 3370.000000 }]\n\n";
    EXPECT_EQ(json.substr(0, first.size()), first);
    EXPECT_EQ(json.substr(json.size() - last.size()), last);
    EXPECT_EQ(m_probes.getProbeJSON(m_json.data(), 1023), 0u);
    CfgProbe empty;
    EXPECT_EQ(empty.getProbeJSON(m_json.data(), 1024), strlen("   \"probes\": [\n\n") + 1);
}

TEST_F(CfgProbeTest, TheHostLoadsTheFileOfTheApplicationDirectory) {
    m_dir.write(
        PROBE_FILE_NAME,
        "{ \"probes\": [\r\n"
        "  { \"id\": 6, \"name\": \"Coil-A\", \"FS50Hz\": 600.5, \"FS60Hz\": \"610.25\", \"rogowski\": 1 "
        "},\r\n"
        "  { \"id\": 6, \"name\": \"Coil-B\", \"FS50Hz\": 1, \"FS60Hz\": 1, \"rogowski\": 0 },\r\n"
        "  { \"id\": 9, \"FS50Hz\": 10, \"FS60Hz\": 12 },\r\n  { \"name\": \"NoId\", \"FS50Hz\": 7 },\r\n"
        "  { \"id\": 5 }\r\n] }\r\n");
    const std::unique_ptr<CfgProbe> probes = loadCfgProbe();
    ASSERT_NE(probes, nullptr);
    // In file order; a line without a name takes the previous line's; a line
    // without "id", or whose "id" has no string after it, is no probe.
    const std::string loaded =
        "6 Coil-A 600.500000 610.250000 R\n6 Coil-B 1.000000 1.000000\n9 Coil-B 10.000000 12.000000\n";
    EXPECT_EQ(catalogue(*probes), loaded);
    EXPECT_STREQ(probes->findProbe(6)->pszName, "Coil-A");  // the first of one index
    // The 50 Hz rating applies from 45 up to, not including, 55 Hz.
    const std::pair<float, float> bands[] = {{50.0f, 10.0f}, {45.0f, 10.0f}, {54.99f, 10.0f}, {44.9f, 12.0f},
                                             {55.0f, 12.0f}, {60.0f, 12.0f}, {0.0f, 12.0f}};
    for (const auto& [fFreq, fScale] : bands)
        EXPECT_EQ(probes->getFullScale(9, 1.0f, fFreq), fScale) << fFreq;

    // A reload replaces the catalogue.
    captureStdout([&] { probes->load(PROBE_FILE_NAME); });
    EXPECT_EQ(catalogue(*probes), loaded);
    probes->load("absent.json");
    EXPECT_EQ(probes->findProbe(9), nullptr);

    unsetenv("QM_APP_DIR");
    EXPECT_EQ(appDirectory(), "/home/kesh/marivel/App");
}

TEST_F(CfgProbeTest, ProbeJSONStaysWithinEveryBufferSize) {
    // Long names make each element longer than the space the loop reserves.
    for (uint32_t i = 0; i < 6; i++)
        m_probes.addProbe(i, std::string(63, 'n').c_str(), 3.4e38f, 3.4e38f, false);
    const uint32_t ulWhole = m_probes.getProbeJSON(m_json.data(), 4096);
    for (uint32_t ulMax = 1024; ulMax < ulWhole + 8; ulMax++) {
        std::vector<char> json(ulMax + 1, 'X');  // one guard byte
        const uint32_t ulLength = m_probes.getProbeJSON(json.data(), ulMax);
        ASSERT_EQ(ulLength, strlen(json.data()) + 1) << ulMax;
        ASSERT_EQ(json[ulMax], 'X') << ulMax;
        // Cut short, the array has no closing bracket.
        ASSERT_EQ(std::string(json.data()).find(']') != std::string::npos, ulMax >= ulWhole) << ulMax;
    }
}

}  // namespace
