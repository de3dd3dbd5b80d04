// The process cycle through the loaded plug-in: the interrupt gate, record
// time stamps, the IRQ1 watchdog and the operating modes.
#include "PluginFixture.h"
#include "ScratchFiles.h"

namespace {

constexpr int IRQ1_PIN = 12;

class ProcessCycle : public PluginTest {
protected:
    // A running module whose interrupts come only from the test.
    void startQuiet() {
        sim::setLineFrequency(0);
        start();
        runFor(5);
    }
    static std::pair<size_t, size_t> status1ReadsAndWrites() {
        return {countFrames(sim::FrameKind::Read32, 0x403), countFrames(sim::FrameKind::Write32, 0x403)};
    }
};

TEST_F(ProcessCycle, InterruptGateAcceptsOneRecordPerTenMilliseconds) {
    const struct {
        uint64_t ullApartMicros;
        uint16_t unRecords;
    } cases[] = {{9000, 1}, {10000, 1}, {10001, 2}, {11000, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ullApartMicros);
        startQuiet();
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
