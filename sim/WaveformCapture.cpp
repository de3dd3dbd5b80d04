#include "WaveformCapture.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "ChipRegisters.h"

namespace sim::detail {

namespace {

constexpr double kTwoPi = 2 * 3.14159265358979323846;

int16_t toSample(double value, double fullScale, int dcOffset) {
    const double code = std::llround(value / fullScale * kSampleFullScale) + static_cast<double>(dcOffset);
    return static_cast<int16_t>(std::clamp(code, -32768.0, 32767.0));
}

}  // namespace

void WaveformCapture::reset() {
    if (m_pending != 0) m_clock.cancel(m_pending);
    m_pending = 0;
    m_enabled = m_capturing = m_full = false;
    ++m_generation;
}

void WaveformCapture::update(bool enabled) {
    if (!enabled) {
        if (m_enabled) reset();
        return;
    }
    if (!m_enabled) {
        m_enabled = true;
        m_full = false;
    }
    if (!m_capturing && !m_full) tryStart();
}

void WaveformCapture::tryStart() {
    const double hertz = m_history.current().frequencyHz;
    if (hertz <= 0) return;  // the resampler waits for a line period
    m_capturing = true;
    m_startNanos = m_clock.nowNanos();
    m_setsPerSecond = kSetsPerCycle * hertz;
    const auto duration = static_cast<uint64_t>(std::llround(kSets / m_setsPerSecond * 1e9));
    m_pending =
        m_clock.schedule(m_startNanos + duration,
                         [handler = m_onPageFull, generation = m_generation] { handler(generation); });
}

void WaveformCapture::completePage() {
    const MeterModel::Readings& readings = m_meter.readings();
    ChipModel::WaveformBuffer page{};
    const SignalHistory::Segment* segment = nullptr;
    std::array<std::vector<HarmonicPhasor>, kChannelsPerSet> spectra;
    for (int set = 0; set < kSets; ++set) {
        const double offset = set / m_setsPerSecond * 1e9;
        const uint64_t at = m_startNanos + static_cast<uint64_t>(std::llround(offset));
        const SignalHistory::Segment& now = m_history.at(at);
        if (&now != segment) {
            segment = &now;
            for (int phase = 0; phase < kPhases; ++phase) {
                spectra[currentChannel(phase)] = spectrum(now.signal, phase, Quantity::Current);
                spectra[voltageChannel(phase)] = spectrum(now.signal, phase, Quantity::Voltage);
            }
        }
        const double cycles = now.phase.cyclesAt(at);
        for (int phase = 0; phase < kPhases; ++phase) {
            const MeterModel::PhaseReadings& p = readings.phases[phase];
            double volts = 0, amps = 0;
            for (const HarmonicPhasor& h : spectra[voltageChannel(phase)])
                volts += std::abs(h.value) * std::sin(kTwoPi * h.order * cycles + std::arg(h.value));
            // The buffer takes the samples ahead of the calibration registers
            // (the module scales them with its own ratios): only the channel's
            // own gain and phase errors show.
            for (const HarmonicPhasor& h : spectra[currentChannel(phase)]) {
                const double shift = h.order * p.phaseError;
                amps += std::abs(h.value) * std::sin(kTwoPi * h.order * cycles + std::arg(h.value) - shift);
            }
            const int v = voltageChannel(phase), i = currentChannel(phase);
            page[set * kChannelsPerSet + v] =
                toSample(std::sqrt(2.0) * volts * p.voltageErrorGain, m_setup.fullScaleVolts,
                         m_setup.errors[v].dcOffsetCounts);
            page[set * kChannelsPerSet + i] =
                toSample(std::sqrt(2.0) * amps * p.currentErrorGain,
                         m_setup.fullScaleAmps * kCurrentChannelFactor, m_setup.errors[i].dcOffsetCounts);
        }
    }
    m_chip.writeWaveformBuffer(page);
    m_chip.raiseStatus0(kStatus0PageFull);
    m_capturing = false;
    m_full = true;
    m_pending = 0;
}

}  // namespace sim::detail
