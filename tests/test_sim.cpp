// The simulated board: the wire format it enforces, the chip behaviour the
// module relies on, its clock, interrupts and faults.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BoardIO.h"
#include "Sim.h"

namespace {

constexpr int kIrq1Pin = 12;
constexpr int kResetPin = 5;
constexpr int kSpiSpeed = 2500000;

constexpr uint16_t kStatus0 = 0x402;
constexpr uint16_t kStatus1 = 0x403;
constexpr uint16_t kMask0 = 0x405;
constexpr uint16_t kMask1 = 0x406;
constexpr uint16_t kRun = 0x480;
constexpr uint16_t kConfig1 = 0x481;
constexpr uint16_t kVLevel = 0x40F;
constexpr uint16_t kAIGain = 0x000;
constexpr uint16_t kAIrms = 0x20C;
constexpr uint32_t kZeroCrossing = 0x200;

using Bytes = std::vector<uint8_t>;

Bytes transfer(Bytes bytes, int channel = 0) {
    wiringPiSPIDataRW(channel, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

uint8_t hi(uint16_t address, bool read) {
    return static_cast<uint8_t>((address << 4 | (read ? 8 : 0)) >> 8);
}
uint8_t lo(uint16_t address, bool read) {
    return static_cast<uint8_t>(address << 4 | (read ? 8 : 0));
}

uint32_t read32(uint16_t address) {
    const Bytes reply = transfer({hi(address, true), lo(address, true), 0, 0, 0, 0, 0, 0});
    return uint32_t{reply[2]} << 24 | uint32_t{reply[3]} << 16 | uint32_t{reply[4]} << 8 | reply[5];
}

uint16_t read16(uint16_t address) {
    const Bytes reply = transfer({hi(address, true), lo(address, true), 0, 0, 0, 0});
    return static_cast<uint16_t>(reply[2] << 8 | reply[3]);
}

void write32(uint16_t address, uint32_t value) {
    transfer({hi(address, false), lo(address, false), static_cast<uint8_t>(value >> 24),
              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
              static_cast<uint8_t>(value)});
}

void write16(uint16_t address, uint16_t value) {
    transfer({hi(address, false), lo(address, false), static_cast<uint8_t>(value >> 8),
              static_cast<uint8_t>(value)});
}

Bytes burst(uint16_t command, int len) {
    Bytes bytes(static_cast<size_t>(len), 0);
    bytes[0] = static_cast<uint8_t>(command >> 8);
    bytes[1] = static_cast<uint8_t>(command);
    return transfer(bytes);
}

uint32_t burstWord(const Bytes& reply, int word) {
    const uint8_t* p = &reply[2 + 4 * word];
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// ISR for virtual-mode tests: runs on the advancing thread.
std::vector<uint64_t> g_isrTimes;
void recordingIsr() {
    g_isrTimes.push_back(micros());
}

// Starts the chip the way the module does: ISR on pin 12, MASK1, RUN.
void startChip(uint32_t mask1, int edgeType = BOARD_INT_EDGE_FALLING) {
    ASSERT_EQ(wiringPiISR(kIrq1Pin, edgeType, recordingIsr), 0);
    write32(kMask1, mask1);
    write16(kRun, 1);
}

// Moves time on in small steps, clearing STATUS1 over the bus after each step
// when asked (as the module's process cycle does).
void runFor(uint64_t micros, bool clearStatus1) {
    const uint64_t end = sim::nowMicros() + micros;
    while (sim::nowMicros() < end) {
        sim::advance(std::min<uint64_t>(500, end - sim::nowMicros()));
        const uint32_t status1 = sim::chipRegister(kStatus1);
        if (clearStatus1 && status1 != 0) write32(kStatus1, status1);
    }
}

class SimBoard : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        g_isrTimes.clear();
        ASSERT_EQ(wiringPiSPISetup(0, kSpiSpeed), 3);
    }
    void TearDown() override {
        if (m_expectCleanBus) {
            EXPECT_EQ(sim::protocolErrors(), std::vector<std::string>{});
        }
        sim::reset();
    }
    bool m_expectCleanBus = true;
};

// ---- SPI frames ------------------------------------------------------------------

using SpiFrames = SimBoard;

TEST_F(SpiFrames, WellFormedFramesDecodeToTheirKindAddressAndValue) {
    struct Case {
        const char* name;
        Bytes sent;
        sim::FrameKind kind;
        uint16_t address;
        uint32_t value;
        Bytes reply;
    };
    const Case cases[] = {
        {"16-bit read of CONFIG1",
         {0x48, 0x18, 0, 0, 0, 0},
         sim::FrameKind::Read16,
         0x481,
         0x0002,
         {0, 0, 0x00, 0x02, 0, 0}},
        {"32-bit read of VLEVEL",
         {0x40, 0xF8, 0, 0, 0, 0, 0, 0},
         sim::FrameKind::Read32,
         0x40F,
         0x0008C25A,
         {0, 0, 0x00, 0x08, 0xC2, 0x5A, 0, 0}},
        {"16-bit write of ZXTOUT",
         {0x49, 0x80, 0x00, 0x84},
         sim::FrameKind::Write16,
         0x498,
         0x0084,
         {0, 0, 0, 0}},
        {"32-bit write of AIGAIN",
         {0x00, 0x00, 0x01, 0x02, 0x03, 0x04},
         sim::FrameKind::Write32,
         0x000,
         0x01020304,
         {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(transfer(c.sent), c.reply);
        const sim::SpiFrame frame = sim::spiLog().back();
        EXPECT_EQ(frame.kind, c.kind);
        EXPECT_EQ(frame.address, c.address);
        EXPECT_EQ(frame.value, c.value);
        EXPECT_EQ(frame.sent, c.sent);
        EXPECT_EQ(sim::chipRegister(c.address), c.value);
    }
}

TEST_F(SpiFrames, BurstsDecodeByTheirCommandWord) {
    const Bytes values = burst(0x6808, 246);
    EXPECT_EQ(sim::spiLog().back().kind, sim::FrameKind::BurstValues);
    EXPECT_EQ(sim::spiLog().back().address, 0x680);
    EXPECT_EQ(values[0], 0);
    EXPECT_EQ(values[1], 0);
    burst(0x8018, 3074);
    EXPECT_EQ(sim::spiLog().back().kind, sim::FrameKind::BurstWaveform);
    EXPECT_EQ(sim::spiLog().back().address, 0x801);
}

TEST_F(SpiFrames, MalformedFramesAreRejectedWithAProtocolError) {
    m_expectCleanBus = false;
    struct Case {
        const char* name;
        int channel;
        Bytes sent;
    };
    auto sized = [](int len, uint8_t b0, uint8_t b1) {
        Bytes bytes(static_cast<size_t>(len), 0);
        bytes[0] = b0;
        bytes[1] = b1;
        return bytes;
    };
    const Case cases[] = {
        {"channel 1", 1, {0x40, 0x28, 0, 0, 0, 0, 0, 0}},
        {"2-byte frame", 0, {0x40, 0x28}},
        {"5-byte frame", 0, {0x40, 0x28, 0, 0, 0}},
        {"10-byte frame", 0, sized(10, 0x40, 0x28)},
        {"command bits 2..0 set", 0, {0x40, 0x2C, 0, 0, 0, 0, 0, 0}},
        {"values burst with a write command", 0, sized(246, 0x68, 0x00)},
        {"values burst at another address", 0, sized(246, 0x68, 0x18)},
        {"values burst carrying the waveform command", 0, sized(246, 0x80, 0x18)},
        {"waveform burst with a write command", 0, sized(3074, 0x80, 0x10)},
        {"16-bit write to 32-bit MASK0", 0, {0x40, 0x50, 0x12, 0x34}},
        {"32-bit write to 16-bit RUN", 0, {0x48, 0x00, 0, 0, 0, 1}},
        {"16-bit read of 32-bit STATUS0", 0, {0x40, 0x28, 0, 0, 0, 0}},
        {"32-bit read of 16-bit RUN", 0, {0x48, 0x08, 0, 0, 0, 0, 0, 0}},
        {"read of an address not in the catalogue", 0, {0x10, 0x08, 0, 0, 0, 0, 0, 0}},
        {"write to an address not in the catalogue", 0, {0x10, 0x00, 0, 0, 0, 1}},
        {"waveform buffer by a single read", 0, {0x80, 0x18, 0, 0, 0, 0, 0, 0}},
        {"4-byte frame with the read bit set", 0, {0x48, 0x08, 0, 0}},
        {"8-byte frame without the read bit", 0, {0x40, 0x50, 0, 0, 0, 1, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t errorsBefore = sim::protocolErrors().size();
        const uint32_t mask0 = sim::chipRegister(kMask0), run = sim::chipRegister(kRun);
        transfer(c.sent, c.channel);
        EXPECT_EQ(sim::protocolErrors().size(), errorsBefore + 1);
        EXPECT_EQ(sim::spiLog().back().kind, sim::FrameKind::Invalid);
        EXPECT_EQ(sim::spiWrites().size(), 0u);
        EXPECT_EQ(sim::chipRegister(kMask0), mask0);
        EXPECT_EQ(sim::chipRegister(kRun), run);
    }
}

TEST_F(SpiFrames, TransferBeforeSetupIsAProtocolError) {
    m_expectCleanBus = false;
    sim::reset();
    EXPECT_EQ(sim::spiSetupCount(), 0);
    Bytes frame{0x40, 0x50, 0, 0, 0, 1};
    EXPECT_LT(wiringPiSPIDataRW(0, frame.data(), 6), 0);
    EXPECT_EQ(sim::protocolErrors().size(), 1u);
    EXPECT_EQ(sim::chipRegister(kMask0), 0u);
}

TEST_F(SpiFrames, SetupRecordsItsCallsAndSpeed) {
    EXPECT_EQ(sim::spiSetupCount(), 1);
    EXPECT_EQ(sim::spiSetupSpeed(), kSpiSpeed);
}

TEST_F(SpiFrames, TransfersAdvanceTheClockByTheirTimeOnTheWireAt2500kHz) {
    // len x 8 bits / 2.5 MHz; the clock keeps the fractions, micros() truncates.
    const struct {
        const char* name;
        int len;
        uint16_t command;
        int count;
        uint64_t elapsedMicros;
        uint64_t lastStartMicros;
    } table[] = {
        {"16-bit write: 12.8 us", 4, 0x4980, 1, 12, 0},
        {"16-bit read: 19.2 us", 6, 0x4818, 1, 19, 0},
        {"32-bit read: 25.6 us", 8, 0x4028, 1, 25, 0},
        {"values burst: 787.2 us", 246, 0x6808, 1, 787, 0},
        {"five values bursts: 3936 us, the last starting at 3148.8 us", 246, 0x6808, 5, 3936, 3148},
        {"waveform burst: 9836.8 us", 3074, 0x8018, 1, 9836, 0},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.name);
        sim::reset(1000000);
        wiringPiSPISetup(0, kSpiSpeed);
        for (int i = 0; i < c.count; ++i) burst(c.command, c.len);
        EXPECT_EQ(micros(), 1000000 + c.elapsedMicros);
        EXPECT_EQ(sim::spiLog().front().timeMicros, 1000000u);  // logged at its start
        EXPECT_EQ(sim::spiLog().back().timeMicros, 1000000 + c.lastStartMicros);
    }
}

TEST_F(SpiFrames, WritesListTheWriteSequenceInOrderAndTheLogLimitKeepsTheLatest) {
    write32(kMask0, 0x800000);
    read32(kStatus0);
    write16(kRun, 1);
    write32(kMask1, 0x240);
    using Writes = std::vector<std::pair<uint16_t, uint32_t>>;
    EXPECT_EQ(sim::spiWrites(), (Writes{{kMask0, 0x800000}, {kRun, 1}, {kMask1, 0x240}}));
    sim::setSpiLogLimit(2);
    EXPECT_EQ(sim::spiWrites(), (Writes{{kRun, 1}, {kMask1, 0x240}}));
    write32(kMask1, 0);
    EXPECT_EQ(sim::spiWrites(), (Writes{{kMask1, 0x240}, {kMask1, 0}}));
    sim::clearSpiLog();
    EXPECT_TRUE(sim::spiLog().empty());
}

// ---- Chip registers --------------------------------------------------------------

using ChipRegisters = SimBoard;

TEST_F(ChipRegisters, StartAtTheirCatalogueResetValues) {
    const struct {
        const char* name;
        uint16_t address;
        int width;
        uint32_t value;
    } cases[] = {
        {"VLEVEL", 0x40F, 32, 0x0008C25A}, {"CONFIG1", 0x481, 16, 0x0002}, {"ACCMODE", 0x492, 16, 0x0100},
        {"CONFIG3", 0x493, 16, 0xF000},    {"CF1DEN", 0x494, 16, 0xFFFF},  {"ZXTOUT", 0x498, 16, 0xFFFF},
        {"CONFIG2", 0x4AF, 16, 0x0C00},    {"RUN", 0x480, 16, 0},          {"STATUS1", 0x403, 32, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sim::chipRegister(c.address), c.value);
        EXPECT_EQ(c.width == 16 ? read16(c.address) : read32(c.address), c.value);
    }
}

TEST_F(ChipRegisters, StatusRegistersAreWriteOneToClear) {
    for (const uint16_t address : {kStatus0, kStatus1}) {
        SCOPED_TRACE(address);
        sim::setChipRegister(address, 0xF0F0F0F0);
        write32(address, 0);
        EXPECT_EQ(sim::chipRegister(address), 0xF0F0F0F0u);
        write32(address, 0x00F000F0);
        EXPECT_EQ(sim::chipRegister(address), 0xF000F000u);
        EXPECT_EQ(read32(address), 0xF000F000u);
    }
}

TEST_F(ChipRegisters, WritesFollowEachRegistersAccess) {
    const struct {
        const char* name;
        uint16_t address;
        int width;
        uint32_t written;
        uint32_t expected;  // the register started at 0x5A5A
    } cases[] = {
        {"AIRMS is a measurement", 0x20C, 32, 0x12345678, 0x5A5A},
        {"APERIOD is a measurement", 0x418, 32, 0x12345678, 0x5A5A},
        {"ANGL_VA_VB is a measurement", 0x482, 16, 0x1234, 0x5A5A},
        {"AIRMS_2 mirrors a measurement", 0x682, 32, 0x12345678, 0x5A5A},
        {"PART_ID identifies the chip", 0x472, 32, 0x12345678, 0x5A5A},
        {"MASK0 is plain", 0x405, 32, 0x12345678, 0x12345678},
        {"MASK1 is plain", 0x406, 32, 0x12345678, 0x12345678},
        {"AIGAIN is plain", 0x000, 32, 0x12345678, 0x12345678},
        {"ZXTOUT is plain", 0x498, 16, 0x1234, 0x1234},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::setChipRegister(c.address, 0x5A5A);
        if (c.width == 16)
            write16(c.address, static_cast<uint16_t>(c.written));
        else
            write32(c.address, c.written);
        EXPECT_EQ(sim::chipRegister(c.address), c.expected);
    }
}

TEST_F(ChipRegisters, SixteenBitRegistersHoldSixteenBits) {
    sim::setChipRegister(kConfig1, 0x12345678);
    EXPECT_EQ(sim::chipRegister(kConfig1), 0x5678u);
    EXPECT_EQ(read16(kConfig1), 0x5678u);
}

TEST_F(ChipRegisters, TestFaceRejectsAddressesNotInTheCatalogue) {
    EXPECT_THROW(sim::chipRegister(0x100), std::out_of_range);
    EXPECT_THROW(sim::setChipRegister(0x801, 1), std::out_of_range);
}

TEST_F(ChipRegisters, BurstWordsMirrorTheirPrimaryRegistersAtReadTime) {
    // Burst word k reads this primary register.
    const uint16_t primaries[61] = {
        0x20B, 0x20A, 0x20C, 0x20D, 0x210, 0x212, 0x211, 0x214, 0x216, 0x217,
        0x218, 0x213, 0x215, 0x20E, 0x20F, 0x219, 0x21A, 0x21B, 0x21C,  // phase A
        0x22B, 0x22A, 0x22C, 0x22D, 0x230, 0x232, 0x231, 0x234, 0x236, 0x237,
        0x238, 0x233, 0x235, 0x22E, 0x22F, 0x239, 0x23A, 0x23B, 0x23C,  // phase B
        0x24B, 0x24A, 0x24C, 0x24D, 0x250, 0x252, 0x251, 0x254, 0x256, 0x257,
        0x258, 0x253, 0x255, 0x24E, 0x24F, 0x259, 0x25A, 0x25B, 0x25C,  // phase C
        0x265, 0x266, 0x267, 0x268,                                     // neutral
    };
    for (const uint16_t primary : primaries) sim::setChipRegister(primary, 0xA5000000u | primary);
    Bytes reply = burst(0x6808, 246);
    for (int word = 0; word < 61; ++word) {
        SCOPED_TRACE(word);
        EXPECT_EQ(burstWord(reply, word), 0xA5000000u | primaries[word]);
        EXPECT_EQ(sim::chipRegister(static_cast<uint16_t>(0x680 + word)), 0xA5000000u | primaries[word]);
    }
    // Not a copy: a later change of the primary shows in the next read.
    sim::setChipRegister(kAIrms, 0x01234567);
    reply = burst(0x6808, 246);
    EXPECT_EQ(burstWord(reply, 2), 0x01234567u);
    EXPECT_EQ(read32(0x682), 0x01234567u);
}

// ---- Reset pin -------------------------------------------------------------------

using ResetPin = SimBoard;

TEST_F(ResetPin, ChipIsPoweredAndIdleBeforeTheFirstPulse) {
    EXPECT_FALSE(sim::chipRunning());
    write32(kMask0, 0x800000);
    EXPECT_EQ(read32(kMask0), 0x800000u);
    digitalWrite(kResetPin, 1);  // high without a low pulse completes nothing
    EXPECT_EQ(sim::chipResetCount(), 0u);
    EXPECT_EQ(read32(kMask0), 0x800000u);
}

TEST_F(ResetPin, LowHoldsTheChipAndHighRestoresResetValues) {
    write32(kMask0, 0x800000);
    write16(kConfig1, 0x0802);
    write16(kRun, 1);
    EXPECT_TRUE(sim::chipRunning());

    digitalWrite(kResetPin, 0);
    EXPECT_FALSE(sim::chipRunning());
    EXPECT_EQ(read32(kVLevel), 0u);
    EXPECT_EQ(read16(kConfig1), 0u);
    const Bytes values = burst(0x6808, 246);
    EXPECT_EQ(values, Bytes(246, 0));
    write32(kMask1, 0x240);
    EXPECT_EQ(sim::chipRegister(kMask1), 0u);
    EXPECT_EQ(sim::chipResetCount(), 0u);

    digitalWrite(kResetPin, 1);
    EXPECT_EQ(sim::chipResetCount(), 1u);
    EXPECT_FALSE(sim::chipRunning());
    EXPECT_EQ(read32(kMask0), 0u);
    EXPECT_EQ(read16(kConfig1), 0x0002u);
    EXPECT_EQ(read16(kRun), 0u);
    EXPECT_EQ(read32(kVLevel), 0x0008C25Au);
}

// ---- IRQ1 ------------------------------------------------------------------------

using Irq1 = SimBoard;

TEST_F(Irq1, EdgesArriveEveryHalfCycleAtTheLineFrequencyWhenCleared) {
    for (const uint64_t hertz : {50u, 60u}) {
        SCOPED_TRACE(hertz);
        sim::reset(1000000);
        g_isrTimes.clear();
        sim::setLineFrequency(static_cast<double>(hertz));
        ASSERT_EQ(wiringPiISR(kIrq1Pin, BOARD_INT_EDGE_FALLING, recordingIsr), 0);
        sim::setChipRegister(kMask1, kZeroCrossing);
        sim::setChipRegister(kRun, 1);  // the half-cycles start counting now
        wiringPiSPISetup(0, kSpiSpeed);
        const uint64_t start = sim::nowMicros();
        runFor(1000000, true);
        // Crossing k at start + k / (2 f) seconds, as micros() reads inside the ISR.
        std::vector<uint64_t> expected;
        for (uint64_t k = 1; k <= 2 * hertz; ++k) expected.push_back(start + k * 1000000 / (2 * hertz));
        ASSERT_GE(g_isrTimes.size(), expected.size());
        EXPECT_EQ(std::vector<uint64_t>(g_isrTimes.begin(), g_isrTimes.begin() + expected.size()), expected);
        EXPECT_LE(g_isrTimes.size(), expected.size() + 1);  // the bus writes run a little past one second
        EXPECT_EQ(sim::irq1EdgeCount(), g_isrTimes.size());
    }
}

TEST_F(Irq1, EdgesNeedARunningChipAnUnmaskedBitASignalAndClearing) {
    const struct {
        const char* name;
        uint16_t run;
        uint32_t mask1;
        double hertz;
        int edgeType;
        bool clear;
        size_t edges;  // in 100 ms at 50 Hz
        bool statusSet;
    } cases[] = {
        {"running, unmasked, cleared", 1, 0x200, 50, BOARD_INT_EDGE_FALLING, true, 10, true},
        {"mask the module programs", 1, 0x240, 50, BOARD_INT_EDGE_FALLING, true, 10, true},
        {"ISR for both edges", 1, 0x200, 50, 3, true, 10, true},
        {"never cleared", 1, 0x200, 50, BOARD_INT_EDGE_FALLING, false, 1, true},
        {"stopped", 0, 0x200, 50, BOARD_INT_EDGE_FALLING, true, 0, false},
        {"masked", 1, 0, 50, BOARD_INT_EDGE_FALLING, false, 0, true},
        {"no signal", 1, 0x200, 0, BOARD_INT_EDGE_FALLING, true, 0, false},
        {"ISR for rising edges only", 1, 0x200, 50, 2, true, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        g_isrTimes.clear();
        wiringPiSPISetup(0, kSpiSpeed);
        sim::setLineFrequency(c.hertz);
        ASSERT_EQ(wiringPiISR(kIrq1Pin, c.edgeType, recordingIsr), 0);
        write32(kMask1, c.mask1);
        write16(kRun, c.run);
        runFor(100000, c.clear);
        EXPECT_EQ(g_isrTimes.size(), c.edges);
        EXPECT_EQ(sim::irq1EdgeCount(), c.edgeType == 2 ? 0u : c.edges);
        if (!c.clear) {
            EXPECT_EQ((sim::chipRegister(kStatus1) & kZeroCrossing) != 0, c.statusSet);
        }
    }
}

TEST_F(Irq1, StoppingTheChipStopsTheHalfCycles) {
    startChip(kZeroCrossing);
    runFor(50000, true);
    EXPECT_EQ(g_isrTimes.size(), 5u);
    write16(kRun, 0);
    runFor(50000, true);
    EXPECT_EQ(g_isrTimes.size(), 5u);
    write16(kRun, 1);
    runFor(50000, true);
    EXPECT_EQ(g_isrTimes.size(), 10u);
    digitalWrite(kResetPin, 0);
    runFor(50000, true);
    EXPECT_EQ(g_isrTimes.size(), 10u);
}

TEST_F(Irq1, LineIsAssertedWhileAnUnmaskedStatusBitIsSet) {
    ASSERT_EQ(wiringPiISR(kIrq1Pin, BOARD_INT_EDGE_FALLING, recordingIsr), 0);
    write16(kRun, 1);
    sim::advance(10000);  // one half-cycle, masked
    EXPECT_EQ(sim::chipRegister(kStatus1), kZeroCrossing);
    EXPECT_FALSE(sim::irq1Asserted());
    EXPECT_TRUE(g_isrTimes.empty());
    const uint64_t unmaskedAt = sim::nowMicros();
    write32(kMask1, kZeroCrossing);  // the pending bit pulls the line down now
    EXPECT_TRUE(sim::irq1Asserted());
    EXPECT_EQ(g_isrTimes, std::vector<uint64_t>{unmaskedAt});
    write32(kStatus1, kZeroCrossing);
    EXPECT_FALSE(sim::irq1Asserted());
}

TEST_F(Irq1, InjectedFallingEdgeRunsTheIsrRegisteredForThatPin) {
    sim::fallingEdge(kIrq1Pin);  // nothing registered yet
    EXPECT_TRUE(g_isrTimes.empty());
    ASSERT_EQ(wiringPiISR(kIrq1Pin, BOARD_INT_EDGE_FALLING, recordingIsr), 0);
    EXPECT_TRUE(sim::isrRegistered(kIrq1Pin));
    EXPECT_FALSE(sim::isrRegistered(7));
    sim::fallingEdge(7);
    EXPECT_TRUE(g_isrTimes.empty());
    sim::fallingEdge(kIrq1Pin);
    sim::fallingEdge(kIrq1Pin);
    EXPECT_EQ(g_isrTimes.size(), 2u);
    EXPECT_EQ(sim::irq1EdgeCount(), 2u);
}

// ---- Faults ----------------------------------------------------------------------

using Faults = SimBoard;

TEST_F(Faults, AbsentChipReadsAConstantSwallowsWritesAndRaisesNoInterrupt) {
    const struct {
        const char* name;
        sim::BusFault fault;
        uint8_t fill;
    } cases[] = {
        {"reads ones", sim::BusFault::AbsentReadsOnes, 0xFF},
        {"reads zeros", sim::BusFault::AbsentReadsZeros, 0x00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        g_isrTimes.clear();
        wiringPiSPISetup(0, kSpiSpeed);
        ASSERT_EQ(wiringPiISR(kIrq1Pin, BOARD_INT_EDGE_FALLING, recordingIsr), 0);
        sim::setChipRegister(kMask1, kZeroCrossing);
        sim::setChipRegister(kRun, 1);
        sim::setBusFault(c.fault);
        EXPECT_EQ(transfer({0x40, 0xF8, 0, 0, 0, 0, 0, 0}), Bytes(8, c.fill));
        EXPECT_EQ(transfer({0x48, 0x18, 0, 0, 0, 0}), Bytes(6, c.fill));
        Bytes values(246, 0);
        values[0] = 0x68;
        values[1] = 0x08;
        EXPECT_EQ(transfer(values), Bytes(246, c.fill));
        write32(kMask0, 0x800000);
        EXPECT_EQ(sim::chipRegister(kMask0), 0u);
        runFor(100000, false);
        EXPECT_TRUE(g_isrTimes.empty());
        EXPECT_FALSE(sim::irq1Asserted());

        sim::setBusFault(sim::BusFault::None);  // the chip comes back with its bit pending
        EXPECT_EQ(read32(kVLevel), 0x0008C25Au);
        EXPECT_EQ(g_isrTimes.size(), 1u);
    }
}

TEST_F(Faults, IgnoredWritesLeaveTheRegisterAsItWas) {
    sim::setIgnoreWrites(kMask0, true);
    write32(kMask0, 0x800000);
    EXPECT_EQ(read32(kMask0), 0u);
    write32(kMask1, 0x240);
    EXPECT_EQ(read32(kMask1), 0x240u);
    sim::setIgnoreWrites(kMask0, false);
    write32(kMask0, 0x800000);
    EXPECT_EQ(read32(kMask0), 0x800000u);
}

TEST_F(Faults, NoInterruptsKeepsIrq1ReleasedWhileStatusBitsStillSet) {
    sim::setNoInterrupts(true);
    startChip(kZeroCrossing);
    runFor(100000, false);
    EXPECT_TRUE(g_isrTimes.empty());
    EXPECT_FALSE(sim::irq1Asserted());
    EXPECT_EQ(sim::chipRegister(kStatus1), kZeroCrossing);
}

TEST_F(Faults, StuckStatusBitsReadSetAndNeverClear) {
    const struct {
        uint16_t address;
        uint32_t bits;
    } cases[] = {{kStatus0, 0x00800000}, {kStatus1, 0x00000200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        sim::setStuckStatus(c.address, c.bits);
        sim::setChipRegister(c.address, 0x1);
        EXPECT_EQ(read32(c.address), c.bits | 0x1);
        write32(c.address, 0xFFFFFFFF);
        EXPECT_EQ(read32(c.address), c.bits);
        sim::setStuckStatus(c.address, 0);
        EXPECT_EQ(read32(c.address), 0u);
    }
    EXPECT_THROW(sim::setStuckStatus(kMask0, 1), std::invalid_argument);
}

TEST_F(Faults, StuckUnmaskedStatus1BitHoldsIrq1AssertedSoNoFurtherEdgesCome) {
    sim::setStuckStatus(kStatus1, kZeroCrossing);
    startChip(kZeroCrossing);  // unmasking the stuck bit makes the only edge
    EXPECT_EQ(g_isrTimes.size(), 1u);
    runFor(100000, true);
    EXPECT_EQ(g_isrTimes.size(), 1u);
    EXPECT_TRUE(sim::irq1Asserted());
}

TEST_F(Faults, SpiOpenFailureReturnsItsResultAndNothingReachesTheChip) {
    sim::reset();
    sim::setSpiSetupResult(-1);
    EXPECT_EQ(wiringPiSPISetup(0, kSpiSpeed), -1);
    Bytes frame{0x40, 0x50, 0, 0x80, 0, 0};
    EXPECT_EQ(wiringPiSPIDataRW(0, frame.data(), 6), -1);
    EXPECT_EQ(sim::chipRegister(kMask0), 0u);
    EXPECT_EQ(sim::nowMicros(), 1000000u);
}

TEST_F(Faults, IsrSetupFailureReturnsItsResultAndRegistersNothing) {
    sim::setIsrSetupResult(-1);
    EXPECT_EQ(wiringPiISR(kIrq1Pin, BOARD_INT_EDGE_FALLING, recordingIsr), -1);
    EXPECT_FALSE(sim::isrRegistered(kIrq1Pin));
    sim::fallingEdge(kIrq1Pin);
    EXPECT_TRUE(g_isrTimes.empty());
}

// ---- Clock -----------------------------------------------------------------------

using Clock = SimBoard;

TEST_F(Clock, EventsFireInTimeOrderWithTheClockAtTheirTime) {
    std::vector<std::pair<std::string, uint64_t>> fired;
    auto record = [&fired](const char* name) {
        return [&fired, name] { fired.emplace_back(name, sim::nowMicros()); };
    };
    const uint64_t t = sim::nowMicros();
    sim::schedule(t + 300, record("300"));
    sim::schedule(t + 200, record("200 first"));
    sim::schedule(t + 100, record("100"));
    sim::schedule(t + 200, record("200 second"));
    const sim::EventId cancelled = sim::schedule(t + 150, record("cancelled"));
    sim::cancel(cancelled);
    sim::advance(250);
    using Fired = std::vector<std::pair<std::string, uint64_t>>;
    EXPECT_EQ(fired, (Fired{{"100", t + 100}, {"200 first", t + 200}, {"200 second", t + 200}}));
    EXPECT_EQ(sim::nowMicros(), t + 250);
    sim::advance(50);
    EXPECT_EQ(fired.size(), 4u);
    EXPECT_EQ(fired.back(), std::make_pair(std::string("300"), t + 300));
}

TEST_F(Clock, EventsScheduledByAnEventFireInTheSameAdvance) {
    std::vector<uint64_t> fired;
    const uint64_t t = sim::nowMicros();
    sim::schedule(t + 10, [&] {
        fired.push_back(sim::nowMicros());
        sim::schedule(t + 20, [&] { fired.push_back(sim::nowMicros()); });
    });
    sim::advance(30);
    EXPECT_EQ(fired, (std::vector<uint64_t>{t + 10, t + 20}));
}

TEST_F(Clock, DelaysAdvanceTheClockAndFireDueEventsOnTheCallingThread) {
    std::thread::id firedOn;
    sim::schedule(sim::nowMicros() + 100000, [&] { firedOn = std::this_thread::get_id(); });
    delay(150);
    EXPECT_EQ(sim::nowMicros(), 1150000u);
    EXPECT_EQ(firedOn, std::this_thread::get_id());
    delayMicroseconds(5000);
    EXPECT_EQ(sim::nowMicros(), 1155000u);
    sim::advanceMillis(2);
    EXPECT_EQ(sim::nowMicros(), 1157000u);
}

TEST_F(Clock, MillisAndMicrosAreTheLow32BitsSoTheyWrap) {
    const struct {
        const char* name;
        uint64_t start;
        uint64_t advance;
        unsigned micros;
        unsigned millis;
    } cases[] = {
        {"micros wraps", 4294967286u, 20, 10, 4294967},
        {"millis wraps", 4294967294000u, 5000, 3000, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset(c.start);
        const unsigned millisBefore = millis(), microsBefore = micros();
        sim::advance(c.advance);
        EXPECT_EQ(micros(), c.micros);
        EXPECT_EQ(millis(), c.millis);
        EXPECT_EQ(sim::nowMicros(), c.start + c.advance);
        EXPECT_EQ(micros() - microsBefore, static_cast<unsigned>(c.advance));  // unsigned differences survive
        EXPECT_EQ(millis() - millisBefore, static_cast<unsigned>(c.advance / 1000));
    }
}

TEST_F(Clock, WallClockRunsWithTheClockFromTheMomentItIsSet) {
    sim::setWallClock(1700000000, 999000);
    int64_t seconds = 0, microseconds = 0;
    sim::wallClock(seconds, microseconds);
    EXPECT_EQ(seconds, 1700000000);
    EXPECT_EQ(microseconds, 999000);
    sim::advance(1500);
    sim::wallClock(seconds, microseconds);
    EXPECT_EQ(seconds, 1700000001);
    EXPECT_EQ(microseconds, 500);
    delay(2500);
    sim::wallClock(seconds, microseconds);
    EXPECT_EQ(seconds, 1700000003);
    EXPECT_EQ(microseconds, 500500);
}

// ---- Whole board -----------------------------------------------------------------

using Board = SimBoard;

TEST_F(Board, ResetReturnsEverythingToPowerOn) {
    m_expectCleanBus = false;
    bool fired = false;
    sim::schedule(sim::nowMicros() + 100, [&] { fired = true; });
    startChip(kZeroCrossing);
    transfer({0x40, 0x28, 0});  // a protocol error
    digitalWrite(kResetPin, 0);
    digitalWrite(kResetPin, 1);
    write32(kMask0, 0x800000);
    sim::setLineFrequency(60);
    sim::setIgnoreWrites(kAIGain, true);
    sim::setNoInterrupts(true);
    sim::setStuckStatus(kStatus0, 1);
    sim::setSpiSetupResult(-1);
    sim::setIsrSetupResult(-1);
    sim::setBusFault(sim::BusFault::AbsentReadsOnes);

    sim::reset(5000);
    EXPECT_EQ(sim::nowMicros(), 5000u);
    EXPECT_EQ(sim::clockMode(), sim::ClockMode::Virtual);
    EXPECT_FALSE(sim::isrRegistered(kIrq1Pin));
    EXPECT_TRUE(sim::spiLog().empty());
    EXPECT_TRUE(sim::protocolErrors().empty());
    EXPECT_TRUE(sim::pinLog().empty());
    EXPECT_EQ(sim::pinLevel(kResetPin), -1);
    EXPECT_EQ(sim::spiSetupCount(), 0);
    EXPECT_EQ(sim::chipResetCount(), 0u);
    EXPECT_EQ(sim::irq1EdgeCount(), 0u);
    EXPECT_EQ(sim::lineFrequency(), 50.0);
    EXPECT_EQ(sim::chipRegister(kMask0), 0u);
    EXPECT_EQ(sim::chipRegister(kStatus0), 0u);
    EXPECT_FALSE(sim::chipRunning());
    sim::advance(1000);
    EXPECT_FALSE(fired);

    // Faults are gone: setup and ISR succeed, writes land, interrupts come.
    EXPECT_EQ(wiringPiSPISetup(0, kSpiSpeed), 3);
    g_isrTimes.clear();
    startChip(kZeroCrossing);
    write32(kAIGain, 7);
    EXPECT_EQ(read32(kAIGain), 7u);
    runFor(20000, true);
    EXPECT_EQ(g_isrTimes.size(), 2u);
}

// ---- Real-time mode --------------------------------------------------------------

struct IsrWitness {
    std::mutex mutex;
    std::condition_variable called;
    std::vector<std::thread::id> threads;
};
IsrWitness g_witness;

void witnessIsr() {
    std::lock_guard<std::mutex> lock(g_witness.mutex);
    g_witness.threads.push_back(std::this_thread::get_id());
    g_witness.called.notify_all();
}

bool waitForIsrCalls(size_t count) {
    std::unique_lock<std::mutex> lock(g_witness.mutex);
    return g_witness.called.wait_for(lock, std::chrono::seconds(20),
                                     [count] { return g_witness.threads.size() >= count; });
}

using RealTime = SimBoard;

TEST_F(RealTime, IsrRunsOnTheBoardsInterruptThread) {
    {
        std::lock_guard<std::mutex> lock(g_witness.mutex);
        g_witness.threads.clear();
    }
    ASSERT_EQ(wiringPiISR(kIrq1Pin, BOARD_INT_EDGE_FALLING, witnessIsr), 0);
    const uint64_t before = sim::nowMicros();
    sim::setClockMode(sim::ClockMode::RealTime);
    EXPECT_EQ(sim::clockMode(), sim::ClockMode::RealTime);

    sim::fallingEdge(kIrq1Pin);  // injected
    ASSERT_TRUE(waitForIsrCalls(1));
    write32(kMask1, kZeroCrossing);  // a half-cycle from the running chip
    write16(kRun, 1);
    ASSERT_TRUE(waitForIsrCalls(2));
    write32(kStatus1, kZeroCrossing);  // cleared: the next half-cycle makes another edge
    ASSERT_TRUE(waitForIsrCalls(3));

    sim::setClockMode(sim::ClockMode::Virtual);
    EXPECT_EQ(sim::clockMode(), sim::ClockMode::Virtual);
    EXPECT_GE(sim::nowMicros(), before);  // virtual time continues from real time
    std::lock_guard<std::mutex> lock(g_witness.mutex);
    for (const std::thread::id& thread : g_witness.threads) EXPECT_NE(thread, std::this_thread::get_id());
}

}  // namespace
