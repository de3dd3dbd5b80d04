// The chip's fixed scales: full-scale codes, sample rate, register formats.
// The module converts with the same constants, so a reading computed here
// converts back to the physical value it came from.
#pragma once

#include <cstdint>

namespace sim::detail {

constexpr double kRmsFullScaleCode = 52702092.0;    // RMS registers at full-scale input
constexpr double kPowerFullScaleCode = 20694066.0;  // power registers at full-scale V and I
constexpr double kPeakToRms = 0.70710677;
constexpr double kCurrentChannelFactor = 3.003003003003003;
constexpr double kSampleFullScale = 18196.0;  // waveform samples at a full-scale peak
constexpr double kSamplesPerSecond = 8000.0;
constexpr uint64_t kNanosPerSample = 125000;
constexpr double kGainUnit = 134217728.0;              // 2^27: gain, phase, PF and THD formats
constexpr double kRmsOffsetUnit = 32768.0;             // 2^15: RMS offset registers act on the squared code
constexpr double kPeriodCodesPerSecond = 524288000.0;  // 8000 x 65536
constexpr double kAngleCodesPerSecond = 1024000.0;
constexpr int kEnergyFractionBits = 13;  // _HI drops this many bits of the accumulated power codes

// Per-count values for the board's full scale (peak volts FSV, peak amps FSA).
struct ChipScale {
    double voltsPerCode;
    double ampsPerCode;
    double wattsPerCode;
    double fullScaleVolts;
    double fullScaleAmps;

    static ChipScale of(double fsv, double fsa) {
        return {kPeakToRms * fsv / kRmsFullScaleCode,
                kPeakToRms * fsa * kCurrentChannelFactor / kRmsFullScaleCode,
                fsv * kPeakToRms * fsa * kPeakToRms * kCurrentChannelFactor / kPowerFullScaleCode, fsv, fsa};
    }
};

}  // namespace sim::detail
