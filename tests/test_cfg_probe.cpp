// The probe catalogue: the probe file the host loads, the lookups and the JSON rendering for the
// host. The built-in ratings are checked where the measurement configuration uses them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AppFiles.h"
#include "CfgProbe.h"
#include "ScratchFiles.h"

namespace {

// Probe, name, full scale at 50 Hz and 60 Hz, Rogowski: one per line.
std::string catalogue(CfgProbe& probes) {
    std::string text;
    for (const PROBE_LIST_ELEMENT* p = probes.m_probeList; p; p = p->pNext)
        text += std::to_string(p->unIndex) + " " + p->pszName + " " + std::to_string(p->fScale_50Hz) + " " +
                std::to_string(p->fScale_60Hz) + (p->bIsRogowski ? " R\n" : "\n");
    return text;
}

// Without a file the built-in probes apply, rendered for the host when there is room (1024 bytes).
TEST(CfgProbeTest, BuiltInProbesWithoutAFileTheJSONWithinItsBufferAndTheHostsFile) {
    ScratchAppDirectory dir;
    CfgProbe builtIn;
    std::vector<char> buffer(4096, 'X');
    EXPECT_EQ(captureStdout([&] { builtIn.load("absent.json"); }),
              "Couldn't open file: " + dir.path("absent.json") + "\r\n");
    EXPECT_EQ(builtIn.getFullScale(7, 100.0f, 60.0f), 1685.0f);
    EXPECT_TRUE(builtIn.isRogowski(8) && !builtIn.isRogowski(5));
    builtIn.getProbeJSON(buffer.data(), 4096);
    const std::string json(buffer.data());
    const std::string last =
        "{ \"id\": 8, \"name\": \"Coil-3000A-xx\", \"FS50Hz\": 3370.000000, \"FS60Hz\": 3370.000000 }]\n\n";
    EXPECT_EQ(json.substr(json.size() - last.size()), last);
    EXPECT_EQ(builtIn.getProbeJSON(buffer.data(), 1023), 0u);
    CfgProbe empty;
    EXPECT_EQ(empty.getProbeJSON(buffer.data(), 1024), strlen("   \"probes\": [\n\n") + 1);

    // It stays within every buffer size, also when an element is longer than the space the loop reserves.
    for (uint32_t i = 0; i < 6; i++) empty.addProbe(i, std::string(63, 'n').c_str(), 3.4e38f, 3.4e38f, false);
    const uint32_t ulWhole = empty.getProbeJSON(buffer.data(), 4096);
    for (uint32_t ulMax = 1024; ulMax < ulWhole + 8; ulMax++) {
        std::vector<char> cut(ulMax + 1, 'X');  // one guard byte
        const uint32_t ulCut = empty.getProbeJSON(cut.data(), ulMax);
        ASSERT_EQ(ulCut, strlen(cut.data()) + 1) << ulMax;
        ASSERT_EQ(cut[ulMax], 'X') << ulMax;
        ASSERT_EQ(std::string(cut.data()).find(']') != std::string::npos, ulMax >= ulWhole) << ulMax;
    }

    // The host loads the file of the application directory.
    dir.write(PROBE_FILE_NAME,
              "{ \"probes\": [\n{ \"id\": 6, \"name\": \"Coil-A\", \"FS50Hz\": 600.5, \"FS60Hz\": "
              "\"610.25\", \"rogowski\": 1 },\n"
              "{ \"id\": 6, \"name\": \"Coil-B\", \"FS50Hz\": 1, \"FS60Hz\": 1, \"rogowski\": 0 },\n"
              "{ \"id\": 9, \"FS50Hz\": 10, \"FS60Hz\": 12 },\n{ \"name\": \"NoId\", \"FS50Hz\": 7 },\n{ "
              "\"id\": 5 }\n] }\n");
    const std::unique_ptr<CfgProbe> probes = loadCfgProbe();
    // In file order; no name: the previous line's; no "id", or no string after it: no probe.
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

}  // namespace
