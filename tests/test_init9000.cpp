// The register initialization file applied to the simulated chip: writes, prints, skipped lines.
#include <string>
#include <utility>
#include <vector>

#include "ModuleFixture.h"
#include "ScratchFiles.h"

namespace {

class Init9000Test : public ModuleUnit {
protected:
    std::string apply(const std::string& path) {
        sim::clearSpiLog();
        return captureStdout([&] { m_module.m_jsonInit.load(path.c_str()); });
    }

    ScratchDirectory m_dir;
};

TEST_F(Init9000Test, WritesEachEntryInOrderAndPrintsTheRegisterReadBack) {
    // A width but no address or no value, or no chip register: skipped with a message.
    const std::string noAddress = R"({ "value": "0x5", "bits": "0x20" })",
                      noValue = R"({ "address": "0x041C", "bits": "0x20" })",
                      wide = R"({ "address": "0x141C", "value": "0x5", "bits": "0x20" })";
    const std::string path =
        m_dir.write("Init9000.json",
                    "[\r\n  { \"address\": \"0x041C\", \"value\": \"0x12345678\", \"bits\": \"0x20\" },\r\n"
                    "  { \"address\": \"0x0499\", \"value\": \"0x00012345\", \"bits\": \"0x10\" },\r\n"
                    // Other widths print the request and write nothing.
                    "{ \"address\": \"0x041C\", \"value\": \"0x5\", \"bits\": \"0x8\" }\n" +
                        noAddress + "\n" + noValue + "\n" + wide + "\n]\r\n");
    const std::string skipped = "Init9000::load: no address or value, line skipped: ";
    EXPECT_EQ(apply(path), "Init9000::load: " + path + "\r\n" +
                               "0x041C = 0x12345678 (32) == > 0x041C = 0x12345678\n"
                               "0x0499 = 0x00012345 (16) == > 0x0499 = 0x2345\n"
                               "0x041C = 0x00000005 (8) == > \n" +
                               skipped + noAddress + "\r\n" + skipped + noValue +
                               "\r\nInit9000::load: not a chip register, line skipped: " + wide + "\r\n");
    EXPECT_EQ(sim::spiWrites(),
              (std::vector<std::pair<uint16_t, uint32_t>>{{0x41C, 0x12345678}, {0x499, 0x2345}}));

    // A missing file writes nothing; the shipped example applies cleanly.
    EXPECT_EQ(apply(m_dir.path("absent.json")), "Couldn't open file: " + m_dir.path("absent.json") + "\r\n");
    EXPECT_TRUE(sim::spiWrites().empty());
    EXPECT_EQ(apply(QM_SOURCE_DIR "/config/Init9000.json").find("skipped"), std::string::npos);
    EXPECT_EQ(sim::spiWrites().size(), 4u);
}

}  // namespace
