// The arithmetic of the calibration procedures: expected chip codes for the
// applied test quantities, and the calibration register values computed from
// what the chip measured. Each formula keeps its own mix of single and double
// precision, because the stored constants depend on it to the last count.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "Driver_ADE9000.h"
#include "RegisterMath.h"

namespace calmath {

constexpr double RMS_FULL_SCALE_CODE = 52702092.0;            // RMS registers at full-scale input
constexpr double POWER_FULL_SCALE_CODE = 20694066.0;          // power registers at full-scale V and I
constexpr float PEAK_TO_RMS = 0.70710677f;                    // the RMS procedures' factor, single precision
constexpr double POWER_PEAK_TO_RMS = 0.70710678;              // the power gain's factor, double precision
constexpr double CURRENT_CHANNEL_FACTOR = 3.003003003003003;  // 1 / 0.333
constexpr double CURRENT_CHANNEL_RATIO = 0.333;
constexpr double GAIN_UNIT = 134217728.0;    // 2^27: gain and phase register formats
constexpr double RMS_OFFSET_UNIT = 32768.0;  // RMS offsets act on the squared code in these units
constexpr double SAMPLES_PER_SECOND = 8000.0;
constexpr double ENERGY_PER_SAMPLE = 0.00012207;  // xWATTHR_HI counts per power code and sample
constexpr double PI = 3.141592653589793;
constexpr double CAL_ANGLE_DEGREES = 60.0;  // the phase test signal: current lags by this much
// A correction beyond a factor of ten is a wrong input or wrong wiring, not a calibration.
constexpr double MIN_GAIN = 0.1;
constexpr double MAX_GAIN = 10.0;

// An applied test quantity the procedures can work with: finite and above zero.
inline bool usableApplied(float fValue) {
    return std::isfinite(fValue) && fValue > 0.0f;
}

// A gain factor (applied over measured) that a calibration can set. Not a
// number compares false.
inline bool usableGain(double dGain) {
    return dGain >= MIN_GAIN && dGain <= MAX_GAIN;
}

// The RMS code the chip reads for an applied voltage: the product of full
// scale and peak-to-RMS factor in single precision, the rest in double.
inline double expectedVoltageCode(float fVolts, float fFullScaleVolts) {
    return fVolts / static_cast<double>(fFullScaleVolts * PEAK_TO_RMS) * RMS_FULL_SCALE_CODE;
}

// The same for an applied current on a current channel (0.333 of full scale
// reaches the converter).
inline double expectedCurrentCode(float fAmps, float fFullScaleAmps) {
    return fAmps / (static_cast<double>(fFullScaleAmps * PEAK_TO_RMS) * CURRENT_CHANNEL_FACTOR) *
           RMS_FULL_SCALE_CODE;
}

// A gain in the chip's format: (gain - 1) x 2^27, truncated and saturated. An
// infinite gain (a channel that read nothing) saturates to 0x7FFFFFFF.
inline int32_t gainRegister(double dGain) {
    return toRegisterS32((dGain - 1.0) * GAIN_UNIT);
}

// The RMS offset that makes the measured code read the expected one: the
// difference of the squared codes in units of 2^15, negative when the
// measurement reads high.
inline double rmsOffset(double dExpected, int32_t lAverage) {
    const double dAverage = lAverage;
    return (dExpected * dExpected - dAverage * dAverage) / RMS_OFFSET_UNIT;
}

// The line frequency as an angle per chip sample.
inline double omega(float fNominalFreq) {
    return 2 * PI * fNominalFreq / SAMPLES_PER_SECOND;
}

// The tangent of the calibration angle minus the angle that the active and
// reactive energies of the 60-degree test signal show.
inline double phaseTangent(int32_t lWattHours, int32_t lVarHours) {
    const double dSin60 = std::sin(CAL_ANGLE_DEGREES * PI / 180.0);
    const double dCos60 = std::cos(CAL_ANGLE_DEGREES * PI / 180.0);
    return (lWattHours * dSin60 - lVarHours * dCos60) / (lWattHours * dCos60 + lVarHours * dSin60);
}

// The measured angle minus the calibration angle, in radians.
inline double phaseError(double dTangent) {
    return -std::atan(dTangent);
}

// The phase calibration register's value, as a fraction of 2^27, that shifts
// the current back by dPhaseError at the angle per sample dOmega.
inline double phaseCorrection(double dPhaseError, double dOmega) {
    return (std::sin(dPhaseError - dOmega) + std::sin(dOmega)) / std::sin(2 * dOmega - dPhaseError);
}

// The active power code for an in-phase test signal, everything in double.
inline double expectedPowerCode(float fVolts, float fAmps, float fFullScaleVolts, float fFullScaleAmps) {
    const double dVoltageRatio = fVolts / (fFullScaleVolts * POWER_PEAK_TO_RMS);
    const double dCurrentRatio = fAmps / ((fFullScaleAmps / CURRENT_CHANNEL_RATIO) * POWER_PEAK_TO_RMS);
    return dVoltageRatio * dCurrentRatio * POWER_FULL_SCALE_CODE;
}

// The active power code of the test signal through the module's own scaling
// (watts per count of the power registers): product in single precision,
// quotient in double.
inline double expectedWattCode(float fVolts, float fAmps, float fPMAX_LSB) {
    const float fWatts = fVolts * fAmps;
    return static_cast<double>(fWatts) / static_cast<double>(fPMAX_LSB);
}

// What xWATTHR_HI holds after one energy interval of 8000 samples at that power.
inline double intervalEnergyCode(double dPowerCode) {
    return dPowerCode * SAMPLES_PER_SECOND * ENERGY_PER_SAMPLE;
}

// The power gain register's value before truncation: the relative error of
// the reading, scaled by 2^27.
inline double powerGain(double dExpected, int32_t lReading) {
    return (dExpected - lReading) / lReading;
}

// The mean of one channel of the waveform buffer: samples byte-swapped into
// host order, read as signed, summed and divided by 256 toward zero.
inline int32_t waveformChannelMean(const ADE9000_WAVEFORM_RECV_BUFFER& buffer, int nChannel) {
    int32_t lAccumOS = 0;
    for (const auto& set : buffer.unSample)
        lAccumOS += static_cast<int16_t>(ADE_9000::swapBytes(set[nChannel]));
    return lAccumOS / 256;
}

// The waveform offset: the mean of the three voltage channels' means.
inline int32_t waveformOffset(const ADE9000_WAVEFORM_RECV_BUFFER& buffer) {
    int32_t lAccum = 0;
    for (int nChannel : {1, 3, 5}) lAccum += waveformChannelMean(buffer, nChannel);
    return lAccum / 3;
}

}  // namespace calmath
