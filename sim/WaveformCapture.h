// The chip's waveform buffer capture: while the chip runs with WFB_CFG bit
// 0x0010 set, it records one page of 256 sample sets at 128 sets per line
// cycle (two cycles), then raises STATUS0 bit 23 and stops until the bit is
// cleared and set again. Channels 0..5 are IA, VA, IB, VB, IC, VC; samples
// are signed 16 bits, sample = volts / FSV x 18196 or amps / (FSA x
// 3.003003003003003) x 18196, after the channel's gain (intrinsic error and
// calibration registers) and phase (error and xPHCAL), plus the channel's DC
// offset. The sample rate is fixed at 128 x the line frequency when the
// capture starts; with no signal the capture waits for one. The page lands in
// the buffer whole when it is full. Guarded by the board mutex.
#pragma once

#include <cstdint>
#include <functional>

#include "ChipModel.h"
#include "Clock.h"
#include "MeterModel.h"
#include "MeterSetup.h"
#include "SignalHistory.h"

namespace sim::detail {

class WaveformCapture {
public:
    static constexpr int kSets = 256;
    static constexpr int kSetsPerCycle = 128;
    static constexpr int kChannelsPerSet = 6;

    // onPageFull(generation) runs on the clock without the board mutex; it
    // takes the mutex, checks isCurrent() and calls completePage().
    using Handler = std::function<void(uint64_t generation)>;

    WaveformCapture(Clock& clock, ChipModel& chip, const MeterModel& meter, const SignalHistory& history,
                    const MeterSetup& setup, Handler onPageFull)
        : m_clock(clock),
          m_chip(chip),
          m_meter(meter),
          m_history(history),
          m_setup(setup),
          m_onPageFull(std::move(onPageFull)) {}

    void reset();
    // enabled: the chip runs with the capture bit set. A rising edge arms a
    // new page; a falling edge abandons the one in progress.
    void update(bool enabled);
    bool isCurrent(uint64_t generation) const { return m_capturing && generation == m_generation; }
    void completePage();

private:
    void tryStart();

    Clock& m_clock;
    ChipModel& m_chip;
    const MeterModel& m_meter;
    const SignalHistory& m_history;
    const MeterSetup& m_setup;
    Handler m_onPageFull;

    bool m_enabled = false;
    bool m_capturing = false;
    bool m_full = false;  // stopped after a page, until re-armed
    uint64_t m_startNanos = 0;
    double m_setsPerSecond = 0;
    uint64_t m_generation = 0;
    EventId m_pending = 0;
};

}  // namespace sim::detail
