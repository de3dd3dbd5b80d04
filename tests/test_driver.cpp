// The chip driver on the simulated bus: frame formats, interrupt masks,
// read-modify-write helpers and the two bursts.
#include <gtest/gtest.h>

#include <vector>

#include "BoardIO.h"
#include "Driver_ADE9000.h"
#include "Sim.h"

namespace {

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_GE(wiringPiSPISetup(0, 2500000), 0);
    }
    void TearDown() override {
        for (const std::string& error : sim::protocolErrors())
            ADD_FAILURE() << "SPI protocol error: " << error;
        sim::reset();
    }
    const sim::SpiFrame& lastFrame() { return sim::spiLog().back(); }

    ADE_9000 m_chip;
};

TEST_F(DriverTest, ReadFrameSendsCommandWithReadBitThenZeros) {
    sim::setChipRegister(0x402, 0x12345678);
    uint32_t ulValue = 0;
    m_chip.readReg(0x402, ulValue);
    EXPECT_EQ(ulValue, 0x12345678u);
    const std::vector<uint8_t> expected = {0x40, 0x28, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(lastFrame().sent, expected);
}

TEST_F(DriverTest, WriteFramesSendValueMostSignificantByteFirst) {
    m_chip.writeReg(0x405, 0x11223344);
    EXPECT_EQ(lastFrame().sent, (std::vector<uint8_t>{0x40, 0x50, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(sim::chipRegister(0x405), 0x11223344u);

    m_chip.writeReg16(0x4B9, 0xABCD);
    EXPECT_EQ(lastFrame().sent, (std::vector<uint8_t>{0x4B, 0x90, 0xAB, 0xCD}));
    EXPECT_EQ(sim::chipRegister(0x4B9), 0xABCDu);

    uint16_t unValue = 0;
    m_chip.readReg16(0x4B9, unValue);
    EXPECT_EQ(unValue, 0xABCD);
    EXPECT_EQ(lastFrame().sent, (std::vector<uint8_t>{0x4B, 0x98, 0, 0, 0, 0}));
}

TEST_F(DriverTest, InterruptsOnForcesReservedMaskBitsToZero) {
    m_chip.interruptsOn(0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(sim::chipRegister(0x405), 0x07FFFFFFu);
    EXPECT_EQ(sim::chipRegister(0x406), 0xFFF6FFFFu);
    EXPECT_EQ(m_chip.m_ulMask0, 0x07FFFFFFu);
    EXPECT_EQ(m_chip.m_ulMask1, 0xFFF6FFFFu);
}

TEST_F(DriverTest, InterruptsOnClearsPendingStatusInOrder) {
    // Pending bits inside the new masks are cleared first; whatever else is
    // pending is then read, remembered and written back to clear it.
    sim::setChipRegister(0x402, 0x00800005);
    sim::setChipRegister(0x403, 0x00000201);
    sim::clearSpiLog();
    m_chip.interruptsOn(0x00800000, 0x240);
    EXPECT_EQ(m_chip.m_ulStatus0, 0x00000005u);
    EXPECT_EQ(m_chip.m_ulStatus1, 0x00000001u);
    const std::vector<std::pair<uint16_t, uint32_t>> expected = {{0x402, 0x00800000}, {0x405, 0x00800000},
                                                                 {0x402, 0x00000005}, {0x403, 0x00000240},
                                                                 {0x406, 0x00000240}, {0x403, 0x00000001}};
    EXPECT_EQ(sim::spiWrites(), expected);
    EXPECT_EQ(sim::chipRegister(0x402), 0u);
    EXPECT_EQ(sim::chipRegister(0x403), 0u);
}

TEST_F(DriverTest, InterruptsOffClearsBothMasks) {
    sim::setChipRegister(0x405, 0x1234);
    sim::setChipRegister(0x406, 0x5678);
    sim::clearSpiLog();
    m_chip.interruptsOff();
    EXPECT_EQ(sim::spiWrites(), (std::vector<std::pair<uint16_t, uint32_t>>{{0x405, 0}, {0x406, 0}}));
}

TEST_F(DriverTest, ReadModifyWriteHelpersKeepOtherBits) {
    struct Case {
        const char* name;
        bool bSet;
        bool b32;
        uint32_t ulBefore, ulBits, ulWritten;
    };
    const Case cases[] = {
        {"set16 already set", true, false, 0x00F0, 0x0010, 0x00F0},
        {"clear16", false, false, 0x00F0, 0x0010, 0x00E0},
        {"set16 new bit", true, false, 0x00F0, 0x0100, 0x01F0},
        {"set32", true, true, 0x80000001, 0x00010000, 0x80010001},
        {"clear32", false, true, 0x80010001, 0x80000000, 0x00010001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint16_t unAddress = c.b32 ? 0x060 : 0x4A0;  // CONFIG0 (32 bits), WFB_CFG (16 bits)
        sim::setChipRegister(unAddress, c.ulBefore);
        sim::clearSpiLog();
        if (c.b32)
            c.bSet ? m_chip.setRegBits32(unAddress, c.ulBits) : m_chip.clearRegBits32(unAddress, c.ulBits);
        else
            c.bSet ? m_chip.setRegBits16(unAddress, static_cast<uint16_t>(c.ulBits))
                   : m_chip.clearRegBits16(unAddress, static_cast<uint16_t>(c.ulBits));
        EXPECT_EQ(sim::spiWrites(), (std::vector<std::pair<uint16_t, uint32_t>>{{unAddress, c.ulWritten}}));
    }
}

TEST_F(DriverTest, InputsOrderOrsTheMapEntryIntoConfig0) {
    struct Case {
        uint8_t uVoltage, uCurrent;
        uint32_t ulExpected;
    };
    const Case cases[] = {{2, 3, 0x2401}, {0, 0, 0x0001}, {4, 4, 0x0001}, {5, 1, 0x2A01}, {1, 4, 0x0901}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.uVoltage) << "," << int(c.uCurrent));
        sim::setChipRegister(0x060, 0x0001);
        m_chip.setInputsOrder(c.uVoltage, c.uCurrent);
        EXPECT_EQ(sim::chipRegister(0x060), c.ulExpected);
    }
}

TEST_F(DriverTest, InputsOrderOutOfRangeTouchesNothing) {
    sim::clearSpiLog();
    m_chip.setInputsOrder(6, 0);
    m_chip.setInputsOrder(0, 200);
    EXPECT_TRUE(sim::spiLog().empty());
}

TEST_F(DriverTest, ByteOrderHelpers) {
    EXPECT_EQ(ADE_9000::swapBytes(0x1234), 0x3412);
    EXPECT_EQ(ADE_9000::swapWords(0x11223344), 0x44332211u);
    EXPECT_EQ(ADE_9000::swapWords(ADE_9000::swapWords(0xDEADBEEF)), 0xDEADBEEFu);
}

TEST_F(DriverTest, ValueBurstLandsWordsByPhaseAsReceived) {
    // Give every primary register of the burst a distinct value.
    for (int k = 0; k < BURST_WORDS; k++) sim::setChipRegister(g_readTable[k], 0xA0000000u | (k << 8) | k);
    sim::clearSpiLog();
    const ADE9000_VALUES_RECV_BUFFER* pValues = m_chip.readValues();
    ASSERT_NE(pValues, nullptr);
    ASSERT_EQ(sim::spiLog().size(), 1u);
    EXPECT_EQ(sim::spiLog()[0].kind, sim::FrameKind::BurstValues);
    EXPECT_EQ(sim::spiLog()[0].sent.size(), 246u);
    EXPECT_EQ(sim::spiLog()[0].sent[0], 0x68);
    EXPECT_EQ(sim::spiLog()[0].sent[1], 0x08);
    for (int k = 0; k < BURST_WORDS; k++) {
        const uint32_t ulRaw = k < 57 ? pValues->ulValues[k / 19][k % 19] : pValues->ulNValues[k - 57];
        EXPECT_EQ(ADE_9000::swapWords(ulRaw), 0xA0000000u | (k << 8) | k) << "word " << k;
    }
}

TEST_F(DriverTest, WaveformBurstIsOneTransferWithItsCommandWord) {
    sim::clearSpiLog();
    const ADE9000_WAVEFORM_RECV_BUFFER* pWaveforms = m_chip.readWaveforms();
    ASSERT_NE(pWaveforms, nullptr);
    ASSERT_EQ(sim::spiLog().size(), 1u);
    const sim::SpiFrame& frame = sim::spiLog()[0];
    EXPECT_EQ(frame.kind, sim::FrameKind::BurstWaveform);
    ASSERT_EQ(frame.sent.size(), 3074u);
    EXPECT_EQ(frame.sent[0], 0x80);
    EXPECT_EQ(frame.sent[1], 0x18);
    for (size_t i = 2; i < frame.sent.size(); i++) ASSERT_EQ(frame.sent[i], 0) << "byte " << i;
}

TEST_F(DriverTest, RunRegisterStartsAndStopsTheChip) {
    m_chip.startDSP();
    EXPECT_EQ(sim::chipRegister(0x480), 1u);
    EXPECT_TRUE(sim::chipRunning());
    m_chip.stopDSP();
    EXPECT_EQ(sim::chipRegister(0x480), 0u);
    EXPECT_FALSE(sim::chipRunning());
}

TEST(DriverBegin, ResetsThroughThePinThenOpensSpi) {
    sim::reset(5000000);
    ADE_9000 chip;
    EXPECT_TRUE(chip.begin(8, 5));
    const auto& pins = sim::pinLog();
    ASSERT_EQ(pins.size(), 4u);
    EXPECT_EQ(pins[0].pin, 5);
    EXPECT_EQ(pins[0].mode, 1);   // output
    EXPECT_EQ(pins[1].level, 1);  // idle high
    EXPECT_EQ(pins[2].level, 0);  // reset asserted
    EXPECT_EQ(pins[2].timeMicros, 5000000u);
    EXPECT_EQ(pins[3].level, 1);  // released after 150 ms
    EXPECT_EQ(pins[3].timeMicros, 5150000u);
    EXPECT_EQ(sim::nowMicros(), 5500000u);  // then 350 ms to settle
    EXPECT_EQ(sim::chipResetCount(), 1u);
    EXPECT_EQ(sim::spiSetupCount(), 1);
    EXPECT_EQ(sim::spiSetupSpeed(), 2500000);
    sim::reset();
}

TEST(DriverBegin, ReportsFailureWhenSpiCannotBeOpened) {
    sim::reset();
    sim::setSpiSetupResult(-1);
    ADE_9000 chip;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(chip.begin(8, 5));
    fflush(stdout);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("nSPIfd = -1\r\n"), std::string::npos);
    sim::reset();
}

}  // namespace
