// The process cycle through the loaded plug-in: the interrupt gate, record
// time stamps, the IRQ1 watchdog and the operating modes.
#include "ConfigFile.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"

namespace {

constexpr int IRQ1_PIN = 12;

class ProcessCycle : public PluginTest {
protected:
    // A running module of the given nominal frequency whose interrupts come
    // only from the test.
    void startQuiet(const char* pszNominalHertz = "60") {
        sim::setLineFrequency(0);
        startAt(pszNominalHertz);
        runFor(5);
    }
    void startAt(const char* pszNominalHertz) {
        const std::string config = m_dir.path("QM9000.json");
        writeConfig(config, with(wyeMeter(), "FNominal", pszNominalHertz));
        ASSERT_EQ(m_pModule->initialize(config.c_str(), nullptr, m_block.get()), 0);
        ASSERT_EQ(m_pModule->updateConfig(config.c_str()), 0);
    }
    static std::pair<size_t, size_t> status1ReadsAndWrites() {
        return {countFrames(sim::FrameKind::Read32, 0x403), countFrames(sim::FrameKind::Write32, 0x403)};
    }
    ScratchDirectory m_dir;
};

// An interrupt starts a record only more than three quarters of a nominal
// half-cycle after the one that last did.
TEST_F(ProcessCycle, InterruptGateAcceptsOneRecordPerHalfCycle) {
    const struct {
        const char* pszNominalHertz;
        uint64_t ullApartMicros;
        uint16_t unRecords;
    } cases[] = {{"50", 7000, 1}, {"50", 7500, 1}, {"50", 7501, 2}, {"50", 10000, 2},
                 {"60", 6000, 1}, {"60", 6250, 1}, {"60", 6251, 2}, {"60", 8333, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pszNominalHertz << " Hz, " << c.ullApartMicros << " us");
        startQuiet(c.pszNominalHertz);
        sim::advanceMillis(100);  // well clear of any earlier interrupt
        const uint16_t unBefore = nextIn();
        const uint64_t ullFirst = sim::nowMicros();
        sim::fallingEdge(IRQ1_PIN);
        m_pModule->process();
        sim::advance(ullFirst + c.ullApartMicros - sim::nowMicros());
        sim::fallingEdge(IRQ1_PIN);
        m_pModule->process();
        m_pModule->process();
        EXPECT_EQ(static_cast<uint16_t>(nextIn() - unBefore), c.unRecords);
    }
}

// On a line at its exact nominal frequency, with the interrupt thread late by
// anything up to 0.8 ms (0.4 ms +- 0.4 ms), every half-cycle makes its record;
// so does the module built for the board's system timer where it cannot map
// that timer (here), on the monotonic clock it then says it uses.
TEST_F(ProcessCycle, EveryHalfCycleMakesOneRecordThroughInterruptLatency) {
    const struct {
        const char* pszPlugin;
        const char* pszNominalHertz;
        double dLineHertz;
        int nRecordsPerSecond;
    } cases[] = {{QM_PLUGIN_PATH, "50", 50.0, 100},
                 {QM_PLUGIN_PATH, "60", 60.0, 120},
                 {QM_BOARD_TIMER_PLUGIN_PATH, "50", 50.0, 100}};
    m_loader.destroy(m_pModule);
    m_pModule = nullptr;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pszPlugin << ", " << c.pszNominalHertz << " Hz");
        sim::reset();
        PluginLoader loader;
        ASSERT_TRUE(loader.open(c.pszPlugin)) << loader.error();
        const std::string created = captureStdout([&] { m_pModule = loader.create(); });
        if (c.pszPlugin != std::string(QM_PLUGIN_PATH)) {
            EXPECT_NE(created.find("Microsecond counter: the board's monotonic clock"), std::string::npos)
                << created;
        }
        sim::setLineFrequency(c.dLineHertz);
        sim::setInterruptLatency(800);
        startAt(c.pszNominalHertz);
        runFor(3000);  // past the warm-up
        const uint16_t unBefore = nextIn();
        runFor(10000);
        EXPECT_NEAR((nextIn() + ACQ_BUFFER_RECORDS - unBefore) % ACQ_BUFFER_RECORDS, 10 * c.nRecordsPerSecond, 1);
        loader.destroy(m_pModule);
        m_pModule = nullptr;
    }
}

// The record is published at the end of the ring (the index wraps) and
// carries the wall time of its interrupt: serviced 1.5 s after an interrupt
// at ...000.800000, taking the delay off the service time borrows a second.
TEST_F(ProcessCycle, RecordIsPublishedWithTheTimeOfItsInterrupt) {
    startQuiet();
    sim::advanceMillis(100);
    sim::setWallClock(1700000000, 800000);
    sim::fallingEdge(IRQ1_PIN);
    sim::advance(1500000);
    m_pModule->process();
    PublishedRecord published = readPublished(block());
    EXPECT_EQ(published.record.m_tvSeconds, 1700000000u);
    EXPECT_EQ(published.record.m_tvMicroSeconds, 800000u);
    block().s_unAcqBufferNextIn = 4095;
    sim::advanceMillis(100);
    sim::fallingEdge(IRQ1_PIN);
    m_pModule->process();
    published = readPublished(block());
    EXPECT_EQ(published.unIndex, 4095);
    EXPECT_EQ(published.unNextIn, 0);
}

TEST_F(ProcessCycle, Irq1WatchdogClearsStatus1EveryQuarterSecondWithoutInterrupts) {
    startQuiet();
    m_pModule->process();  // the start-up itself took longer than the watchdog
    sim::clearSpiLog();
    runFor(300);
    EXPECT_EQ(status1ReadsAndWrites(), std::make_pair(size_t{1}, size_t{1}));
    runFor(260);
    EXPECT_EQ(status1ReadsAndWrites(), std::make_pair(size_t{2}, size_t{2}));
}

// Test mode (99) runs the register test only, calibration mode (1) its
// command only: neither services the chip's status, the accumulator or the
// ring; back in measuring mode the pending interrupt gives its record.
TEST_F(ProcessCycle, TestAndCalibrationModesLeaveRingAndStatusAlone) {
    for (uint32_t ulMode : {99u, 1u}) {
        SCOPED_TRACE(ulMode);
        startQuiet();
        sim::advanceMillis(100);
        const uint16_t unBefore = nextIn();
        block().s_pLastAccumulator = nullptr;
        block().s_ulOpMode = ulMode;
        sim::fallingEdge(IRQ1_PIN);
        sim::setChipRegister(0x402, 0x00000001);
        sim::clearSpiLog();
        const std::string output = captureStdout([&] { EXPECT_EQ(m_pModule->process(), 0); });
        EXPECT_EQ(countFrames(sim::FrameKind::Read32, 0x402), 0u);
        EXPECT_EQ(sim::chipRegister(0x402), 1u);
        EXPECT_EQ(nextIn(), unBefore);
        EXPECT_TRUE(block().s_pLastAccumulator == nullptr);  // packed field: compared, not bound
        // The register test writes and reads back one register.
        EXPECT_EQ(output.find("Address: 0x000B, Value: 0x00012345\r\n") != std::string::npos, ulMode == 99);
        EXPECT_EQ(sim::spiLog().size(), ulMode == 99 ? 2u : 0u);
        EXPECT_EQ(countFrames(sim::FrameKind::Read32, 0x00B), ulMode == 99 ? 1u : 0u);
        block().s_ulOpMode = 0;
        m_pModule->process();
        EXPECT_EQ(static_cast<uint16_t>(nextIn() - unBefore), 1);
        EXPECT_TRUE(block().s_pLastAccumulator != nullptr);
    }
}

}  // namespace
