// The register initialization file applied to the simulated chip: what is
// written, what is printed, and which lines are skipped.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "BoardIO.h"
#include "QM9000.h"
#include "ScratchFiles.h"
#include "Sim.h"

namespace {

using Writes = std::vector<std::pair<uint16_t, uint32_t>>;

class Init9000Test : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_GE(wiringPiSPISetup(0, 2500000), 0);
        m_module.m_jsonInit.initialize(&m_module);
    }
    void TearDown() override {
        EXPECT_EQ(sim::protocolErrors(), std::vector<std::string>{});
        sim::reset();
    }
    // Applies the file; returns what it printed.
    std::string apply(const std::string& path) {
        sim::clearSpiLog();
        return captureStdout([&] { m_module.m_jsonInit.load(path.c_str()); });
    }

    ScratchDirectory m_dir;
    QM9000 m_module;
};

TEST_F(Init9000Test, WritesEachEntryInOrderAndPrintsTheRegisterReadBack) {
    const std::string path =
        m_dir.write("Init9000.json",
                    "[\r\n"
                    "  { \"address\": \"0x041C\", \"value\": \"0x12345678\", \"bits\": \"0x20\" },\r\n"
                    "  { \"address\": \"0x0499\", \"value\": \"0x00012345\", \"bits\": \"0x10\" },\r\n"
                    // Other widths print the request and write nothing; a decimal width
                    // takes the next "0x" on the line as the width, or skips the line.
                    "{ \"address\": \"0x041C\", \"value\": \"0x5\", \"bits\": \"0x8\" }\n"
                    "{ \"address\": \"0x041C\", \"value\": \"0x5\", \"bits\": 32, \"extra\": \"0x4\" }\n"
                    "{ \"address\": \"0x041C\", \"value\": \"0x5\", \"bits\": 32 }\n"
                    // A width but no address or no value, or no chip register: skipped with a message.
                    "{ \"value\": \"0x5\", \"bits\": \"0x20\" }\n"
                    "{ \"address\": \"0x041C\", \"bits\": \"0x20\" }\n"
                    "{ \"address\": \"0x141C\", \"value\": \"0x5\", \"bits\": \"0x20\" }\n"
                    // A later entry for one register wins.
                    "{ \"address\": 0x041C, \"value\": 0x2, \"bits\": 0x20 }\n"
                    "]\r\n");
    EXPECT_EQ(apply(path), "Init9000::load: " + path + "\r\n" +
                               "0x041C = 0x12345678 (32) == > 0x041C = 0x12345678\n"
                               "0x0499 = 0x00012345 (16) == > 0x0499 = 0x2345\n"
                               "0x041C = 0x00000005 (8) == > \n"
                               "0x041C = 0x00000005 (4) == > \n"
                               "Init9000::load: no address or value, line skipped: "
                               "{ \"value\": \"0x5\", \"bits\": \"0x20\" }\r\n"
                               "Init9000::load: no address or value, line skipped: "
                               "{ \"address\": \"0x041C\", \"bits\": \"0x20\" }\r\n"
                               "Init9000::load: not a chip register, line skipped: "
                               "{ \"address\": \"0x141C\", \"value\": \"0x5\", \"bits\": \"0x20\" }\r\n"
                               "0x041C = 0x00000002 (32) == > 0x041C = 0x00000002\n");
    EXPECT_EQ(sim::spiWrites(), (Writes{{0x41C, 0x12345678}, {0x499, 0x2345}, {0x41C, 2}}));
    EXPECT_EQ(sim::chipRegister(0x41C), 2u);
}

TEST_F(Init9000Test, MissingFileWritesNothingAndTheShippedExampleAppliesCleanly) {
    EXPECT_EQ(apply(m_dir.path("Init9000.json")),
              "Couldn't open file: " + m_dir.path("Init9000.json") + "\r\n");
    EXPECT_TRUE(sim::spiWrites().empty());
    const std::string output = apply(QM_SOURCE_DIR "/config/Init9000.json");
    EXPECT_EQ(output.find("skipped"), std::string::npos) << output;
    EXPECT_EQ(sim::spiWrites().size(), 4u);
}

}  // namespace
