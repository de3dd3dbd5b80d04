// The simulated chip's waveform buffer: pages of 256 sample sets at 128 sets
// per line cycle, the page-full bit, and samples that scale to the signal.
#include <gtest/gtest.h>

#include <cmath>

#include "SimTestBus.h"

namespace {

using namespace simtest;
using sim::Phase;

constexpr double kPi = 3.14159265358979323846;
constexpr int kSets = 256;

int16_t sampleOf(const std::vector<int16_t>& page, int set, int channel) {
    return page[static_cast<size_t>(set * 6 + channel)];
}

using WaveformPages = SimSuite;

TEST_F(WaveformPages, PageFullComesTwoCyclesAfterCaptureStartsAndOnlyWhileEnabled) {
    const struct {
        const char* name;
        double hertz;
        bool capture;
        uint64_t fullAfterMicros;  // 0: never
    } cases[] = {
        {"50 Hz", 50, true, 40000},
        {"60 Hz", 60, true, 33333},
        {"capture off", 50, false, 0},
        {"no signal", 0, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset();
        wiringPiSPISetup(0, 2500000);
        sim::setLineFrequency(c.hertz);
        startChipLikeTheModule();
        if (!c.capture) write16(reg::WFB_CFG, 0);
        if (c.fullAfterMicros == 0) {
            sim::advanceMillis(500);
            EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kPageFull, 0u);
            continue;
        }
        sim::advance(c.fullAfterMicros - 100);
        EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kPageFull, 0u);
        sim::advance(200);
        EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kPageFull, kPageFull);
        // Stopped when full: no further page until the capture is re-armed.
        write32(reg::STATUS0, kPageFull);
        sim::advanceMillis(200);
        EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kPageFull, 0u);
        write16(reg::WFB_CFG, 0);
        write16(reg::WFB_CFG, 0x0010);
        const uint64_t rearmed = sim::nowMicros();
        sim::advance(rearmed + c.fullAfterMicros - 100 - sim::nowMicros());
        EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kPageFull, 0u);
        sim::advance(200);
        EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kPageFull, kPageFull);
    }
}

TEST_F(WaveformPages, ClearingTheCaptureBitAbandonsThePageInProgress) {
    startChipLikeTheModule();
    sim::advanceMillis(30);
    write16(reg::WFB_CFG, 0);
    sim::advanceMillis(100);
    EXPECT_EQ(sim::chipRegister(reg::STATUS0) & kPageFull, 0u);
}

// Each sample against the signal at its moment: 128 sets per cycle from the
// line's phase when the capture started.
TEST_F(WaveformPages, SamplesFollowTheSignalAt128SetsPerCycle) {
    sim::setPhase(Phase::B, {230, 12, 30, {}, {{3, 5}}});
    startChipLikeTheModule();  // RUN: phase A's voltage rises through zero now
    const uint64_t run = sim::nowMicros() - 13;
    sim::advanceMillis(45);
    write32(reg::STATUS0, kPageFull);
    write16(reg::WFB_CFG, 0);
    write16(reg::WFB_CFG, 0x0010);
    const double startCycles = (sim::nowMicros() - 13 - run) * 50 / 1e6;
    sim::advanceMillis(41);
    ASSERT_EQ(sim::chipRegister(reg::STATUS0) & kPageFull, kPageFull);
    const std::vector<int16_t> page = waveformPage();

    struct Channel {
        int index;
        double rms, lagDegrees, fullScale;
        std::vector<sim::Harmonic> harmonics;
    };
    const Channel channels[] = {
        {0, 5, 36.87, 10 * 3.003003003003003, {}},      {1, 230, 0, 500, {}},
        {2, 12, 150, 10 * 3.003003003003003, {{3, 5}}}, {3, 230, 120, 500, {}},
        {4, 5, 276.87, 10 * 3.003003003003003, {}},     {5, 230, 240, 500, {}},
    };
    for (const Channel& ch : channels) {
        SCOPED_TRACE(ch.index);
        for (int set = 0; set < kSets; ++set) {
            const double cycles = startCycles + set / 128.0;
            const double lag = ch.lagDegrees * kPi / 180;
            double value = std::sin(2 * kPi * cycles - lag);
            for (const auto& h : ch.harmonics)
                value += h.percent / 100 * std::sin(h.order * (2 * kPi * cycles - lag));
            const double expected = std::sqrt(2.0) * ch.rms * value / ch.fullScale * 18196;
            // One microsecond of timing uncertainty is under 4 counts; one set is hundreds.
            ASSERT_NEAR(sampleOf(page, set, ch.index), expected, 6) << "set " << set;
        }
    }
}

TEST_F(WaveformPages, Channel1RisesThroughZeroOncePerCycleWhereTheModuleLooksForIt) {
    startChipLikeTheModule();
    sim::advanceMillis(41);
    const std::vector<int16_t> page = waveformPage();
    // The capture began with the chip, on phase A's rising zero crossing:
    // the module's search (sample s negative, s + 1 not) finds s = 127.
    int first = -1;
    for (int s = 0; s <= 128 && first < 0; ++s)
        if (sampleOf(page, s, 1) < 0 && sampleOf(page, s + 1, 1) >= 0) first = s;
    EXPECT_EQ(first, 127);
    int rising = 0;
    for (int s = 0; s + 1 < kSets; ++s)
        if (sampleOf(page, s, 1) < 0 && sampleOf(page, s + 1, 1) >= 0) ++rising;
    EXPECT_EQ(rising, 1);  // at 127/128; the next falls at 255/256, past the page
}

TEST_F(WaveformPages, SamplesScaleToVoltsAndAmpsWithTheModulesFactors) {
    sim::setFullScale(1077.11, 100);
    sim::setPhase(Phase::A, {120, 40, 0, {}, {}});
    startChipLikeTheModule();
    sim::advanceMillis(41);
    const std::vector<int16_t> page = waveformPage();
    int16_t peakVolts = 0, peakAmps = 0;
    for (int s = 0; s < kSets; ++s) {
        peakVolts = std::max(peakVolts, sampleOf(page, s, 1));
        peakAmps = std::max(peakAmps, sampleOf(page, s, 0));
    }
    EXPECT_NEAR(ModuleScale::sampleVolts(peakVolts, 1077.11f), 120 * std::sqrt(2.0),
                120 * std::sqrt(2.0) * 1e-3);
    EXPECT_NEAR(ModuleScale::sampleAmps(peakAmps, 100), 40 * std::sqrt(2.0), 40 * std::sqrt(2.0) * 2e-3);
}

TEST_F(WaveformPages, ChannelErrorsShowInTheSamples) {
    sim::setChannelError(sim::Channel::VB, {2.0, 0, 0, 37});
    startChipLikeTheModule();
    // The samples come ahead of the calibration registers: a gain register
    // that corrects the readings leaves the samples as the channel delivers them.
    sim::setChipRegister(0x02B, static_cast<uint32_t>(static_cast<int32_t>((1 / 1.02 - 1) * 134217728.0)));
    sim::advanceMillis(41);
    const std::vector<int16_t> page = waveformPage();
    long sum = 0;
    int16_t peak = 0;
    for (int s = 0; s < kSets; ++s) {
        sum += sampleOf(page, s, 3);
        peak = std::max(peak, sampleOf(page, s, 3));
    }
    EXPECT_NEAR(sum / 256.0, 37, 0.5);  // two whole cycles: the DC offset is the mean
    EXPECT_NEAR(peak - 37, 230 * std::sqrt(2.0) * 1.02 / 500 * 18196, 2);
}

TEST_F(WaveformPages, BufferReadsZeroBeforeTheFirstPageAndInReset) {
    for (int16_t sample : waveformPage()) ASSERT_EQ(sample, 0);
    startChipLikeTheModule();
    sim::advanceMillis(41);
    EXPECT_NE(sampleOf(waveformPage(), 10, 1), 0);
    digitalWrite(5, 0);
    for (int16_t sample : waveformPage()) ASSERT_EQ(sample, 0);
}

}  // namespace
