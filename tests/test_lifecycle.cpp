// The module's lifecycle through the loaded plug-in: what it writes to the chip
// at initialize, updateConfig and monitorStart, and how it meets failures.
#include <map>

#include "HostCommands.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"

namespace {

using Writes = std::vector<std::pair<uint16_t, uint32_t>>;

// A write whose value is whatever the preceding read of that register returned.
constexpr uint32_t ECHO = 0xEC40EC40;

Writes neutralGainsAndOffsets() {
    Writes writes;
    for (uint16_t unAddress : {0x000, 0x00B, 0x020, 0x02B, 0x040, 0x04B, 0x06D, 0x072, 0x00E, 0x00F, 0x02E,
                               0x02F, 0x04E, 0x04F, 0x00C, 0x00D, 0x02C, 0x02D, 0x04C, 0x04D, 0x06B})
        writes.emplace_back(unAddress, 0);
    return writes;
}

// Register set-up with the configuration defaults: 60 Hz, 120 V nominal,
// 1077.11 V full scale, no wiring.
Writes configurationRegisters() {
    const uint32_t ulVLevel = static_cast<uint32_t>((1.0 / (120.0f / (1077.11f * 0.70710677))) * 1444084.0);
    return {{0x4B6, 0x000F},   {0x060, 0},        {0x481, 0x0802},     {0x4AF, 0x0C00},     {0x493, 0xF000},
            {0x424, 0x1FFFFF}, {0x498, 0xFFFF},   {0x49A, 0},          {0x49C, 1},          {0x4B0, 0x0011},
            {0x4B1, 7999},     {0x4B2, 7999},     {0x4B9, 0},          {0x491, 0},          {0x48B, 0},
            {0x405, 0},        {0x406, 0},        {0x402, 0xFFFFFFFF}, {0x403, 0xFFFFFFFF}, {0x072, 0},
            {0x492, 0x0100},   {0x40F, ulVLevel}, {0x4A0, 0x0010}};
}

Writes meterOffRoutingMeterOn() {
    return {{0x480, 0},          {0x405, 0},    {0x406, 0},          {0x424, 0x1FFFFF},
            {0x405, 0},          {0x406, 0},    {0x498, 0x0084},     {0x402, 0x00800000},
            {0x405, 0x00800000}, {0x402, ECHO}, {0x403, 0x00000240}, {0x406, 0x00000240},
            {0x403, ECHO},       {0x480, 1},    {0x4B6, 0x000F}};
}

// Compares the bus's write sequence with the parts expected in turn; ECHO
// entries must carry the value of the last read of the same register.
void expectWrites(std::initializer_list<Writes> parts) {
    Writes expected, actual;
    for (const Writes& part : parts) expected.insert(expected.end(), part.begin(), part.end());
    std::map<uint16_t, uint32_t> lastRead;
    for (const sim::SpiFrame& frame : sim::spiLog()) {
        if (frame.kind != sim::FrameKind::Write16 && frame.kind != sim::FrameKind::Write32) {
            lastRead[frame.address] = frame.value;
            continue;
        }
        if (actual.size() < expected.size() && expected[actual.size()].second == ECHO)
            expected[actual.size()].second =
                lastRead.count(frame.address) ? lastRead[frame.address] : ~frame.value;
        actual.emplace_back(frame.address, frame.value);
    }
    EXPECT_EQ(actual, expected);
}

class Lifecycle : public PluginTest {};

// The ring is zeroed, the current record kept.
TEST_F(Lifecycle, InitializeResetsTheChipThenConfiguresIt) {
    block().s_unAcqBufferNextIn = 7;
    block().s_AcquisitionBuffer[7].m_fJournal[jrnl_VRMS_A] = 230.0f;
    block().s_AcquisitionBuffer[4095].m_ulLimitStatusBits = 0x11;
    const uint64_t ullStart = sim::nowMicros();
    EXPECT_NE(captureStdout([&] { initialize(); }).find("Acquisition block size: 292\n"), std::string::npos);
    expectWrites({{{0x480, 0}, {0x405, 0}, {0x406, 0}}, neutralGainsAndOffsets(), configurationRegisters()});
    EXPECT_EQ(block().s_AcquisitionBuffer[7].m_fJournal[jrnl_VRMS_A], 0.0f);
    EXPECT_EQ(block().s_AcquisitionBuffer[4095].m_ulLimitStatusBits, 0u);
    EXPECT_EQ(nextIn(), 7);

    // Reset pulse: low for 150 ms, then 350 ms before the first frame.
    const auto& pins = sim::pinLog();
    ASSERT_GE(pins.size(), 4u);
    EXPECT_EQ(std::make_tuple(pins[2].pin, pins[2].level, pins[3].pin, pins[3].level),
              std::make_tuple(5, 0, 5, 1));
    EXPECT_EQ(pins[3].timeMicros - pins[2].timeMicros, 150000u);
    EXPECT_GE(sim::spiLog().front().timeMicros - pins[3].timeMicros, 350000u);
    EXPECT_GE(sim::spiLog().front().timeMicros - ullStart, 500000u);
    EXPECT_EQ(sim::spiSetupSpeed(), 2500000);
    EXPECT_TRUE(sim::isrRegistered(12));
    EXPECT_FALSE(sim::chipRunning());  // configured, not started
}

TEST_F(Lifecycle, UpdateConfigStartsTheChipAndMonitorStartRestartsItClearingTheWindow) {
    initialize();
    sim::clearSpiLog();
    ASSERT_EQ(m_pModule->updateConfig("QM9000.json"), 0);
    expectWrites({configurationRegisters(), meterOffRoutingMeterOn()});
    EXPECT_TRUE(sim::chipRunning());
    block().s_unAcqBufferNextWrite = 17;
    block().s_unAcqBufferLastWrite = 40;
    block().s_ulEventFirstRecordID = 3;
    block().s_fEventVMax[2] = 250.0f;
    sim::clearSpiLog();
    ASSERT_EQ(m_pModule->monitorStart(), 0);
    expectWrites({meterOffRoutingMeterOn()});
    EXPECT_EQ(block().s_unAcqBufferNextWrite, 0);
    EXPECT_EQ(block().s_unAcqBufferLastWrite, 0);
    EXPECT_EQ(block().s_ulEventFirstRecordID, 0u);
    EXPECT_EQ(block().s_fEventVMax[2], 0.0f);
    EXPECT_EQ(m_pModule->monitorStop(), 0);
}

// A failed interrupt registration or SPI open is printed and the set-up goes
// on; without SPI nothing reaches the chip. Neither that nor an absent chip
// (reading all ones or all zeros) makes a record. The host sees in the block
// which of them it is, as far as the bus can tell: failing transfers are a
// chip not answering too, and a chip that answers clears both.
TEST_F(Lifecycle, SetUpFailuresArePrintedAndTheModuleCarriesOn) {
    const uint16_t unHealth = SIGNAL_CHIP_NOT_ANSWERING | SIGNAL_SPI_FAILING;
    for (bool bSpiFails : {false, true}) {
        SCOPED_TRACE(bSpiFails);
        sim::reset();
        (bSpiFails ? sim::setSpiSetupResult : sim::setIsrSetupResult)(-1);
        const std::string output = captureStdout([&] { start(); });
        EXPECT_NE(output.find(bSpiFails ? "nSPIfd = -1\r\n" : "Unable to setup ISR for IRQ1.\n"),
                  std::string::npos);
        EXPECT_EQ(sim::chipRunning(), !bSpiFails);
        EXPECT_EQ(sim::spiLog().empty(), bSpiFails);
        runFor(100);
        EXPECT_EQ(block().s_unSignalValidFlags & unHealth, bSpiFails ? unHealth : 0);
    }
    EXPECT_EQ(nextIn(), 0);
    for (sim::BusFault fault : {sim::BusFault::AbsentReadsOnes, sim::BusFault::AbsentReadsZeros}) {
        sim::reset();
        sim::setBusFault(fault);
        start();
        runFor(200);
        EXPECT_EQ(nextIn(), 0) << static_cast<int>(fault);
        const bool bOnes = fault == sim::BusFault::AbsentReadsOnes;
        EXPECT_EQ(block().s_unSignalValidFlags & unHealth, bOnes ? SIGNAL_CHIP_NOT_ANSWERING : 0);
        sim::setBusFault(sim::BusFault::None);
        runFor(20);
        EXPECT_EQ(block().s_unSignalValidFlags & unHealth, 0);
    }
}

// Calls out of contract: before initialize there is no block to touch, and a
// request with nowhere to write its result is refused. The register hooks are
// not supported.
TEST_F(Lifecycle, CallsOutOfContractAreRefused) {
    std::vector<char> buffer(16);
    EXPECT_EQ(m_pModule->realtimeGet(0, buffer.data(), 0), 2);
    EXPECT_NE(m_pModule->process(), 0);
    EXPECT_NE(m_pModule->monitorStart(), 0);
    EXPECT_NE(m_pModule->monitorStop(), 0);
    EXPECT_NE(m_pModule->initialize("QM9000.json", nullptr, nullptr), 0);
    EXPECT_TRUE(sim::spiLog().empty());
    EXPECT_FALSE(sim::isrRegistered(12));
    start();
    for (int nType : {0, 1, 2, 4, 5, 6, 8, 9, 10, 11})
        for (uint32_t ulMax : {0u, 100000u})
            EXPECT_EQ(m_pModule->realtimeGet(nType, nullptr, ulMax), 3) << nType;
    uint32_t ulValue = 0xA5A5A5A5;
    EXPECT_EQ(m_pModule->registerRead(0x402, &ulValue), 1);
    EXPECT_EQ(m_pModule->registerWrite(0x402, &ulValue), 1);
    EXPECT_EQ(ulValue, 0xA5A5A5A5u);
}

}  // namespace
