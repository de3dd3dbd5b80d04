// The chip driver on the simulated bus: the exact frames and write sequences
// it sends and the two bursts. Its reset pulse and SPI set-up are checked
// through the loaded module (test_lifecycle).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "BoardIO.h"
#include "Driver_ADE9000.h"
#include "Sim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Writes = std::vector<std::pair<uint16_t, uint32_t>>;

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_GE(wiringPiSPISetup(0, 2500000), 0);
    }
    void TearDown() override {
        EXPECT_EQ(sim::protocolErrors(), std::vector<std::string>{});
        sim::reset();
    }
    // Sets the registers, runs the driver's helper and returns what it wrote.
    Writes writesOf(const Writes& before, const std::function<void(ADE_9000&)>& act) {
        for (const auto& [unAddress, ulValue] : before) sim::setChipRegister(unAddress, ulValue);
        sim::clearSpiLog();
        act(m_chip);
        return sim::spiWrites();
    }
    std::vector<Bytes> sent() {
        std::vector<Bytes> frames;
        for (const sim::SpiFrame& frame : sim::spiLog()) frames.push_back(frame.sent);
        return frames;
    }
    ADE_9000 m_chip;
};

TEST_F(DriverTest, RegisterFramesAreTheCommandWordThenTheValueMostSignificantByteFirst) {
    sim::setChipRegister(0x402, 0x12345678);
    uint32_t ulValue = 0;
    uint16_t unValue = 0;
    m_chip.readReg(0x402, ulValue);
    m_chip.writeReg(0x405, 0x11223344);
    m_chip.writeReg16(0x4B9, 0xABCD);
    m_chip.readReg16(0x4B9, unValue);
    EXPECT_EQ(ulValue, 0x12345678u);
    EXPECT_EQ(unValue, 0xABCD);
    EXPECT_EQ(sim::chipRegister(0x405), 0x11223344u);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x40, 0x28, 0, 0, 0, 0, 0, 0},
                                          {0x40, 0x50, 0x11, 0x22, 0x33, 0x44},
                                          {0x4B, 0x90, 0xAB, 0xCD},
                                          {0x4B, 0x98, 0, 0, 0, 0}}));
}

TEST_F(DriverTest, HelpersSendTheirWriteSequence) {
    // Pending bits of the new masks are cleared first, then whatever else is
    // pending; reserved mask bits stay zero.
    EXPECT_EQ(
        writesOf({{0x402, 0x00800005}, {0x403, 0x201}},
                 [](ADE_9000& c) { c.interruptsOn(0xF8800000, 0x00090240); }),
        (Writes{
            {0x402, 0x800000}, {0x405, 0x800000}, {0x402, 5}, {0x403, 0x240}, {0x406, 0x240}, {0x403, 1}}));
    EXPECT_EQ(writesOf({{0x405, 1}, {0x406, 1}}, [](ADE_9000& c) { c.interruptsOff(); }),
              (Writes{{0x405, 0}, {0x406, 0}}));
    // Read-modify-write keeps the other bits; the inputs order is ORed into CONFIG0.
    EXPECT_EQ(writesOf({{0x4A0, 0x00F0}}, [](ADE_9000& c) { c.setRegBits16(0x4A0, 0x0110); }),
              (Writes{{0x4A0, 0x01F0}}));
    EXPECT_EQ(writesOf({{0x4A0, 0x00F0}}, [](ADE_9000& c) { c.clearRegBits16(0x4A0, 0x0110); }),
              (Writes{{0x4A0, 0x00E0}}));
    EXPECT_EQ(writesOf({{0x060, 1}}, [](ADE_9000& c) { c.setInputsOrder(2, 3); }), (Writes{{0x060, 0x2401}}));
    EXPECT_EQ(writesOf({}, [](ADE_9000& c) { c.setInputsOrder(6, 0); }), Writes{});
    EXPECT_EQ(writesOf({}, [](ADE_9000& c) { c.setInputsOrder(0, 6); }), Writes{});
    EXPECT_EQ(writesOf({}, [](ADE_9000& c) { c.startDSP(); }), (Writes{{0x480, 1}}));
    EXPECT_EQ(writesOf({}, [](ADE_9000& c) { c.stopDSP(); }), (Writes{{0x480, 0}}));
}

TEST_F(DriverTest, EachBurstIsOneFrameWithItsCommandWordAndLandsWordsAsReceived) {
    for (int k = 0; k < BURST_WORDS; k++) sim::setChipRegister(g_readTable[k], 0xA0000000u | (k << 8) | k);
    const ADE9000_VALUES_RECV_BUFFER* pValues = m_chip.readValues();
    const ADE9000_WAVEFORM_RECV_BUFFER* pWaveforms = m_chip.readWaveforms();
    ASSERT_TRUE(pValues && pWaveforms);
    Bytes values{0x68, 0x08}, waveforms{0x80, 0x18};  // the command words, then zeros
    values.resize(246);
    waveforms.resize(3074);
    EXPECT_EQ(sent(), (std::vector<Bytes>{values, waveforms}));
    for (int k = 0; k < BURST_WORDS; k++) {
        const uint32_t ulWire = k < 57 ? pValues->ulValues[k / 19][k % 19] : pValues->ulNValues[k - 57];
        EXPECT_EQ(ADE_9000::swapWords(ulWire), 0xA0000000u | (k << 8) | k) << "word " << k;
    }
}

}  // namespace
