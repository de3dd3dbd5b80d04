// The register initialization file applied to the simulated chip: what is
// written, what is printed, and which lines are skipped.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "BoardIO.h"
#include "HostBlock.h"
#include "QM9000.h"
#include "ScratchFiles.h"
#include "Sim.h"

namespace {

using Writes = std::vector<std::pair<uint16_t, uint32_t>>;

constexpr uint16_t ACT_NL_LVL = 0x41C;  // a 32-bit register
constexpr uint16_t ZXTHRSH = 0x499;     // a 16-bit register

class Init9000Test : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_GE(wiringPiSPISetup(0, 2500000), 0);
        m_module.m_jsonInit.initialize(&m_module);
    }
    void TearDown() override {
        for (const std::string& error : sim::protocolErrors())
            ADD_FAILURE() << "SPI protocol error: " << error;
        sim::reset();
    }

    // Applies a file of these lines; returns what it printed.
    std::string apply(const std::string& lines) {
        const std::string path = m_dir.write("Init9000.json", lines);
        sim::clearSpiLog();
        return captureStdout([&] { m_module.m_jsonInit.load(path.c_str()); });
    }
    std::string header() const { return "Init9000::load: " + m_dir.path("Init9000.json") + "\r\n"; }

    ScratchDirectory m_dir;
    QM9000 m_module;
};

TEST_F(Init9000Test, WritesEachEntryAndPrintsTheRegisterReadBack) {
    const std::string output = apply(
        "[\r\n"
        "  { \"address\": \"0x041C\", \"value\": \"0x12345678\", \"bits\": \"0x20\" },\r\n"
        "  { \"address\": \"0x0499\", \"value\": \"0x00012345\", \"bits\": \"0x10\" },\r\n"
        "]\r\n");
    EXPECT_EQ(output, header() +
                          "0x041C = 0x12345678 (32) == > 0x041C = 0x12345678\n"
                          "0x0499 = 0x00012345 (16) == > 0x0499 = 0x2345\n");
    EXPECT_EQ(sim::spiWrites(), (Writes{{ACT_NL_LVL, 0x12345678}, {ZXTHRSH, 0x2345}}));
    EXPECT_EQ(sim::chipRegister(ZXTHRSH), 0x2345u);
}

TEST_F(Init9000Test, LaterEntriesForOneRegisterWin) {
    apply(
        "{ \"address\": 0x041C, \"value\": 0x1, \"bits\": 0x20 }\n"
        "{ \"address\": 0x041C, \"value\": 0x2, \"bits\": 0x20 }\n");
    EXPECT_EQ(sim::spiWrites(), (Writes{{ACT_NL_LVL, 1}, {ACT_NL_LVL, 2}}));
    EXPECT_EQ(sim::chipRegister(ACT_NL_LVL), 2u);
}

TEST_F(Init9000Test, OtherWidthsPrintTheRequestAndWriteNothing) {
    EXPECT_EQ(apply("{ \"address\": \"0x041C\", \"value\": \"0x5\", \"bits\": \"0x8\" }\n"),
              header() + "0x041C = 0x00000005 (8) == > \n");
    // A decimal width takes the next "0x" on the line as the width.
    EXPECT_EQ(apply("{ \"address\": \"0x041C\", \"value\": \"0x5\", \"bits\": 32, \"extra\": \"0x4\" }\n"),
              header() + "0x041C = 0x00000005 (4) == > \n");
    EXPECT_TRUE(sim::spiWrites().empty());
}

TEST_F(Init9000Test, LinesWithoutAUsableEntryAreSkipped) {
    const std::string output = apply(
        // No width: silently ignored, as are lines without any entry.
        "{ \"address\": \"0x041C\", \"value\": \"0x5\", \"bits\": 32 }\n"
        "[\n"
        // A width but no address, or no value: skipped with a message.
        "{ \"value\": \"0x5\", \"bits\": \"0x20\" }\n"
        "{ \"address\": \"0x041C\", \"bits\": \"0x20\" }\n"
        // Not a register address of the chip.
        "{ \"address\": \"0x141C\", \"value\": \"0x5\", \"bits\": \"0x20\" }\n");
    EXPECT_EQ(output, header() +
                          "Init9000::load: no address or value, line skipped: "
                          "{ \"value\": \"0x5\", \"bits\": \"0x20\" }\r\n"
                          "Init9000::load: no address or value, line skipped: "
                          "{ \"address\": \"0x041C\", \"bits\": \"0x20\" }\r\n"
                          "Init9000::load: not a chip register, line skipped: "
                          "{ \"address\": \"0x141C\", \"value\": \"0x5\", \"bits\": \"0x20\" }\r\n");
    EXPECT_TRUE(sim::spiWrites().empty());
}

TEST_F(Init9000Test, MissingFileWritesNothing) {
    const std::string missing = m_dir.path("Init9000.json");
    EXPECT_EQ(captureStdout([&] { m_module.m_jsonInit.load(missing.c_str()); }),
              "Couldn't open file: " + missing + "\r\n");
    EXPECT_TRUE(sim::spiWrites().empty());
}

TEST_F(Init9000Test, ShippedExampleAppliesCleanly) {
    sim::clearSpiLog();
    const std::string output =
        captureStdout([&] { m_module.m_jsonInit.load(QM_SOURCE_DIR "/config/Init9000.json"); });
    EXPECT_EQ(output.find("skipped"), std::string::npos) << output;
    EXPECT_FALSE(sim::spiWrites().empty());
}

}  // namespace
