// The simulated board's contract every other suite trusts: strict SPI framing,
// the virtual clock's event order and write-1-to-clear status.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "BoardIO.h"
#include "Sim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Kind = sim::FrameKind;

constexpr uint16_t kStatus0 = 0x402, kMask0 = 0x405, kRun = 0x480;

Bytes transfer(Bytes bytes, int channel = 0) {
    wiringPiSPIDataRW(channel, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

// A frame of `len` bytes: the command word, then `data`, then zeros.
Bytes frame(int len, uint16_t command, const Bytes& data = {}) {
    Bytes bytes{static_cast<uint8_t>(command >> 8), static_cast<uint8_t>(command)};
    bytes.resize(static_cast<size_t>(len));
    std::copy(data.begin(), data.end(), bytes.begin() + 2);
    return bytes;
}

class SimBoard : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_EQ(wiringPiSPISetup(0, 2500000), 3);
    }
};

TEST_F(SimBoard, WellFormedFramesDecodeByLengthCommandWordAndWidth) {
    const std::tuple<const char*, Bytes, Kind, uint16_t, uint32_t, Bytes> cases[] = {
        {"read16 CONFIG1", frame(6, 0x4818), Kind::Read16, 0x481, 0x0002, {0, 0, 0, 2, 0, 0}},
        {"read32 VLEVEL", frame(8, 0x40F8), Kind::Read32, 0x40F, 0x8C25A, {0, 0, 0, 8, 0xC2, 0x5A, 0, 0}},
        {"write16 ZXTOUT", frame(4, 0x4980, {0, 0x84}), Kind::Write16, 0x498, 0x0084, {}},
        {"write32 AIGAIN", frame(6, 0x0000, {1, 2, 3, 4}), Kind::Write32, 0x000, 0x01020304, {}},
        {"values burst", frame(246, 0x6808), Kind::BurstValues, 0x680, 0, {}},
        {"waveform burst", frame(3074, 0x8018), Kind::BurstWaveform, 0x801, 0, {}},
    };
    for (const auto& [name, sent, kind, address, value, reply] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(transfer(sent), reply.empty() ? Bytes(sent.size(), 0) : reply);
        const sim::SpiFrame logged = sim::spiLog().back();
        EXPECT_EQ(std::make_tuple(logged.kind, logged.address, logged.value),
                  std::make_tuple(kind, address, value));
        const bool bBurst = kind == Kind::BurstValues || kind == Kind::BurstWaveform;
        EXPECT_TRUE(bBurst || sim::chipRegister(address) == value);
    }
    EXPECT_EQ(sim::protocolErrors(), std::vector<std::string>{});
}

TEST_F(SimBoard, MalformedFramesAreProtocolErrorsAndReachNoRegister) {
    const std::tuple<const char*, int, Bytes> cases[] = {
        {"channel 1", 1, frame(8, 0x4028)},
        {"2-byte frame", 0, frame(2, 0x4028)},
        {"5-byte frame", 0, frame(5, 0x4028)},
        {"command bits 2..0 set", 0, frame(8, 0x402C)},
        {"values burst with a write command", 0, frame(246, 0x6800)},
        {"values burst at another address", 0, frame(246, 0x6818)},
        {"waveform buffer by a single read", 0, frame(8, 0x8018)},
        {"16-bit write to 32-bit MASK0", 0, frame(4, 0x4050, {0x12, 0x34})},
        {"32-bit write to 16-bit RUN", 0, frame(6, 0x4800, {0, 0, 0, 1})},
        {"16-bit read of 32-bit STATUS0", 0, frame(6, 0x4028)},
        {"read of an address not in the catalogue", 0, frame(8, 0x1008)},
        {"write to an address not in the catalogue", 0, frame(6, 0x1000, {0, 0, 0, 1})},
        {"4-byte frame with the read bit set", 0, frame(4, 0x4808)},
        {"8-byte frame without the read bit", 0, frame(8, 0x4050, {0, 0, 0, 1})},
    };
    for (const auto& [name, channel, sent] : cases) {
        SCOPED_TRACE(name);
        const size_t errorsBefore = sim::protocolErrors().size();
        transfer(sent, channel);
        EXPECT_EQ(sim::protocolErrors().size(), errorsBefore + 1);
        EXPECT_EQ(sim::spiLog().back().kind, Kind::Invalid);
        EXPECT_TRUE(sim::spiWrites().empty());
        EXPECT_EQ(sim::chipRegister(kMask0) | sim::chipRegister(kRun), 0u);
    }
    // Before wiringPiSPISetup nothing reaches the chip either.
    sim::reset();
    Bytes early = frame(6, 0x4050, {0, 0, 0, 1});
    EXPECT_EQ(wiringPiSPIDataRW(0, early.data(), 6), -1);
    EXPECT_EQ(sim::protocolErrors().size(), 1u);
    EXPECT_EQ(sim::chipRegister(kMask0), 0u);
}

TEST_F(SimBoard, WritesFollowEachRegistersAccess) {
    const std::tuple<const char*, uint16_t, Bytes, uint32_t> cases[] = {
        {"STATUS0 clears the bits written as ones", kStatus0, {0, 0xF0, 0, 0xF0}, 0xF000F000},
        {"a status write of zeros clears nothing", kStatus0, {0, 0, 0, 0}, 0xF0F0F0F0},
        {"a measurement is read only", 0x20C, {0x12, 0x34, 0x56, 0x78}, 0xF0F0F0F0},
        {"a mask takes what is written", kMask0, {0x12, 0x34, 0x56, 0x78}, 0x12345678},
    };
    for (const auto& [name, address, written, after] : cases) {
        SCOPED_TRACE(name);
        sim::setChipRegister(address, 0xF0F0F0F0);  // then the write, then the value after it
        transfer(frame(6, static_cast<uint16_t>(address << 4), written));
        EXPECT_EQ(sim::chipRegister(address), after);
    }
    EXPECT_EQ(sim::protocolErrors(), std::vector<std::string>{});
}

TEST_F(SimBoard, ClockFiresEventsInTimeOrderAtTheirOwnTime) {
    using Fired = std::vector<std::pair<std::string, uint64_t>>;
    Fired fired;
    auto record = [&](const char* name) { return [&, name] { fired.emplace_back(name, sim::nowMicros()); }; };
    const uint64_t t = sim::nowMicros();
    sim::schedule(t + 300, record("300"));
    sim::schedule(t + 200, record("200a"));
    sim::schedule(t + 100, [&] {
        record("100")();
        sim::schedule(t + 150, record("150"));
    });
    sim::schedule(t + 200, record("200b"));
    sim::cancel(sim::schedule(t + 120, record("cancelled")));
    sim::advance(250);
    EXPECT_EQ(fired, (Fired{{"100", t + 100}, {"150", t + 150}, {"200a", t + 200}, {"200b", t + 200}}));
    EXPECT_EQ(sim::nowMicros(), t + 250);
    delay(1);  // delays move the clock on and fire what falls due
    EXPECT_EQ(fired.back(), Fired::value_type("300", t + 300));
    delayMicroseconds(7);
    EXPECT_EQ(sim::nowMicros(), t + 1257);
}

TEST_F(SimBoard, TransfersTakeTheirTimeOnTheWireAndTheCountersWrapAt32Bits) {
    sim::reset(4294967000u);  // micros() wraps 296 us later
    wiringPiSPISetup(0, 2500000);
    transfer(frame(246, 0x6808));  // 246 x 8 bits at 2.5 MHz: 787.2 us
    EXPECT_EQ(sim::spiLog().back().timeMicros, 4294967000u);
    EXPECT_TRUE(sim::nowMicros() == 4294967787u && micros() == 491u && millis() == 4294967u);
    sim::reset(4294967295000u);  // millis() wraps a millisecond later
    sim::advanceMillis(3);
    EXPECT_EQ(millis(), 2u);
}

}  // namespace
