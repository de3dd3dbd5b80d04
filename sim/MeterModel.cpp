#include "MeterModel.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "ChipRegisters.h"

namespace sim::detail {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 180.0 / kPi;

// Offsets within a phase's calibration block (phase x at 0x20 x).
constexpr int kIGain = 0x00, kIGainRegion = 0x01, kPhCalRegion = 0x06, kVGain = 0x0B, kIRmsOs = 0x0C,
              kVRmsOs = 0x0D, kPGain = 0x0E, kWattOs = 0x0F, kVarOs = 0x10, kFWattOs = 0x11, kFVarOs = 0x12,
              kIFRmsOs = 0x13, kVFRmsOs = 0x14, kVRmsOneOs = 0x15, kIRmsOneOs = 0x16, kVRms1012Os = 0x17,
              kIRms1012Os = 0x18;
constexpr uint16_t kCalibrationStride = 0x20;
constexpr uint16_t kMtThrLow = 0x061, kMtThrHigh = 0x066;
constexpr uint16_t kNIRmsOs = 0x06B, kNIGain = 0x06D, kNIRmsOneOs = 0x06F, kNIRms1012Os = 0x070;
constexpr uint32_t kConfig0Multipoint = 0x0010;
constexpr uint32_t kAccModeSixtyHertz = 0x0100;
constexpr int kRegions = 5;

// Measurement registers of a phase: offsets from 0x20A, phase x at + 0x20 x.
constexpr uint16_t kPhaseMeasurementsFirst = 0x20A;
constexpr uint16_t kPhaseMeasurementsStride = 0x20;
enum MeasurementOffset {
    kIPcf = 0x00,
    kVPcf,
    kIRms,
    kVRms,
    kIFRms,
    kVFRms,
    kWattReg,
    kVarReg,
    kVaReg,
    kFWattReg,
    kFVarReg,
    kFVaReg,
    kPf,
    kVThd,
    kIThd,
    kIRmsOne,
    kVRmsOne,
    kIRms1012,
    kVRms1012,
    kMtRegion
};
constexpr uint16_t kNIRms = 0x266, kNIRmsOne = 0x267, kNIRms1012 = 0x268;
constexpr uint16_t kPeriodFirst = 0x418, kComPeriod = 0x41B;
constexpr uint16_t kAnglesFirst = 0x482, kAnglesLast = 0x48A;

double gainOf(int32_t reg) {
    return 1.0 + reg / kGainUnit;
}

double signedSquare(double value) {
    return value < 0 ? -value * value : value * value;
}

double rmsCode(double gain, double meanSquare, double noise, double perCode, int32_t offset) {
    const double input = std::max(0.0, meanSquare + noise);
    const double square = gain * gain * input / (perCode * perCode) + offset * kRmsOffsetUnit;
    return square > 0 ? std::sqrt(square) : 0.0;
}

double wrapDegrees(double degrees) {
    degrees = std::fmod(degrees, 360.0);
    return degrees < 0 ? degrees + 360.0 : degrees;
}

// Which phase measurement an address is, or -1.
bool phaseMeasurement(uint16_t address, int& phase, int& offset) {
    if (address < kPhaseMeasurementsFirst) return false;
    const int relative = address - kPhaseMeasurementsFirst;
    phase = relative / kPhaseMeasurementsStride;
    offset = relative % kPhaseMeasurementsStride;
    // The instantaneous samples and the region report are not modelled.
    return phase < kPhases && offset >= kIRms && offset <= kVRms1012;
}

}  // namespace

uint32_t unsignedCode(double code) {
    if (!(code > 0)) return 0;
    if (code >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(std::llround(code));
}

uint32_t signedCode(double code) {
    if (std::isnan(code)) return 0;
    const double clamped = std::clamp(code, -2147483648.0, 2147483647.0);
    return static_cast<uint32_t>(static_cast<int32_t>(std::llround(clamped)));
}

int32_t MeterModel::signedRegister(uint16_t address) const {
    return static_cast<int32_t>(m_chip.stored(address));
}

bool MeterModel::computes(uint16_t address) const {
    int phase, offset;
    return phaseMeasurement(address, phase, offset) || (address >= kNIRms && address <= kNIRms1012) ||
           (address >= kPeriodFirst && address <= kComPeriod) ||
           (address >= kAnglesFirst && address <= kAnglesLast);
}

bool MeterModel::compute(uint16_t address, uint32_t& value) const {
    if (!m_chip.running() || !computes(address)) return false;
    const Readings& r = readings();
    int phase, offset;
    if (phaseMeasurement(address, phase, offset)) {
        value = phaseRegister(phase, offset);
    } else if (address == kNIRms) {
        value = unsignedCode(r.nirms);
    } else if (address == kNIRmsOne || address == kNIRms1012) {
        const double cycles =
            address == kNIRmsOne ? 1.0 : (m_chip.stored(kRegAccMode) & kAccModeSixtyHertz ? 12.0 : 10.0);
        value = unsignedCode(windowedCode(kNeutralChannel, cycles, r.neutralGain, r.neutralNoise,
                                          address == kNIRmsOne ? r.nirmsOneOffset : r.nirms1012Offset,
                                          r.scale.ampsPerCode));
    } else if (address == kComPeriod) {
        double period = 0;
        for (const PhaseReadings& p : r.phases) period = std::max(period, p.period);
        value = unsignedCode(period);
    } else if (address >= kPeriodFirst && address < kComPeriod) {
        value = unsignedCode(r.phases[address - kPeriodFirst].period);
    } else {
        value = angleRegister(address);
    }
    return true;
}

uint32_t MeterModel::phaseRegister(int phase, int offset) const {
    const Readings& r = readings();
    const PhaseReadings& p = r.phases[phase];
    const double tenOrTwelve = m_chip.stored(kRegAccMode) & kAccModeSixtyHertz ? 12.0 : 10.0;
    switch (offset) {
        case kIRms:
            return unsignedCode(p.irms);
        case kVRms:
            return unsignedCode(p.vrms);
        case kIFRms:
            return unsignedCode(p.ifrms);
        case kVFRms:
            return unsignedCode(p.vfrms);
        case kWattReg:
            return signedCode(p.power[kWatt]);
        case kVarReg:
            return signedCode(p.power[kVar]);
        case kVaReg:
            return signedCode(p.power[kVa]);
        case kFWattReg:
            return signedCode(p.power[kFundWatt]);
        case kFVarReg:
            return signedCode(p.power[kFundVar]);
        case kFVaReg:
            return signedCode(p.power[kFundVa]);
        case kPf:
            return signedCode(p.pf * kGainUnit);
        case kVThd:
            return signedCode(p.vthd * kGainUnit);
        case kIThd:
            return signedCode(p.ithd * kGainUnit);
        case kIRmsOne:
            return unsignedCode(windowedCode(currentChannel(phase), 1.0, p.currentGain, p.currentNoise,
                                             p.irmsOneOffset, r.scale.ampsPerCode));
        case kVRmsOne:
            return unsignedCode(windowedCode(voltageChannel(phase), 1.0, p.voltageGain, p.voltageNoise,
                                             p.vrmsOneOffset, r.scale.voltsPerCode));
        case kIRms1012:
            return unsignedCode(windowedCode(currentChannel(phase), tenOrTwelve, p.currentGain,
                                             p.currentNoise, p.irms1012Offset, r.scale.ampsPerCode));
        case kVRms1012:
            return unsignedCode(windowedCode(voltageChannel(phase), tenOrTwelve, p.voltageGain,
                                             p.voltageNoise, p.vrms1012Offset, r.scale.voltsPerCode));
        default:
            return 0;
    }
}

uint32_t MeterModel::angleRegister(uint16_t address) const {
    const Readings& r = readings();
    const auto& ph = r.phases;
    // Each register: the lag of `to` behind `from`, both present.
    struct Pair {
        double from, to;
        bool present;
    };
    const Pair pairs[] = {
        {ph[0].vAngle, ph[1].vAngle, ph[0].hasVoltage && ph[1].hasVoltage},  // ANGL_VA_VB
        {ph[1].vAngle, ph[2].vAngle, ph[1].hasVoltage && ph[2].hasVoltage},  // ANGL_VB_VC
        {ph[0].vAngle, ph[2].vAngle, ph[0].hasVoltage && ph[2].hasVoltage},  // ANGL_VA_VC
        {ph[0].vAngle, ph[0].iAngle, ph[0].hasVoltage && ph[0].hasCurrent},  // ANGL_VA_IA
        {ph[1].vAngle, ph[1].iAngle, ph[1].hasVoltage && ph[1].hasCurrent},  // ANGL_VB_IB
        {ph[2].vAngle, ph[2].iAngle, ph[2].hasVoltage && ph[2].hasCurrent},  // ANGL_VC_IC
        {ph[0].iAngle, ph[1].iAngle, ph[0].hasCurrent && ph[1].hasCurrent},  // ANGL_IA_IB
        {ph[1].iAngle, ph[2].iAngle, ph[1].hasCurrent && ph[2].hasCurrent},  // ANGL_IB_IC
        {ph[0].iAngle, ph[2].iAngle, ph[0].hasCurrent && ph[2].hasCurrent},  // ANGL_IA_IC
    };
    const Pair& pair = pairs[address - kAnglesFirst];
    if (!pair.present || r.frequencyHz <= 0) return 0;
    const double seconds = wrapDegrees(pair.from - pair.to) / 360.0 / r.frequencyHz;
    return std::min<uint32_t>(unsignedCode(seconds * kAngleCodesPerSecond), 0xFFFF);
}

double MeterModel::windowedCode(int channel, double cycles, double gain, double noise, int32_t offset,
                                double perCode) const {
    const double f = m_history.current().frequencyHz;
    double meanSquare = 0;
    if (f > 0) {
        const uint64_t now = m_clock.nowNanos();
        const uint64_t window = static_cast<uint64_t>(std::llround(cycles / f * 1e9));
        meanSquare = m_history.windowMeanSquare(channel, now > window ? now - window : 0, now);
    }
    return rmsCode(gain, meanSquare, noise, perCode, offset);
}

double MeterModel::measuredShift(const PhaseReadings& phase, int order, double frequencyHz) {
    const double w = 2 * kPi * frequencyHz * order / kSamplesPerSecond;
    const double k = phase.phaseCorrection;
    return order * phase.phaseError - 2 * std::atan2(k * std::sin(w), 1 + k * std::cos(w));
}

const MeterModel::Readings& MeterModel::readings() const {
    const CacheKey key{m_chip.changeCount(), m_history.version(), m_setup.version};
    if (!m_cached || !(key == m_key)) {
        m_readings = computeReadings();
        m_key = key;
        m_cached = true;
    }
    return m_readings;
}

MeterModel::Readings MeterModel::computeReadings() const {
    Readings r{};
    const LineSignal& line = m_history.current();
    r.scale = ChipScale::of(m_setup.fullScaleVolts, m_setup.fullScaleAmps);
    r.frequencyHz = line.frequencyHz;
    const bool multipoint = (m_chip.stored(kRegConfig0) & kConfig0Multipoint) != 0;

    for (int phase = 0; phase < kPhases; ++phase) {
        PhaseReadings& p = r.phases[phase];
        const uint16_t cal = static_cast<uint16_t>(phase * kCalibrationStride);
        const auto reg = [&](int offset) { return signedRegister(static_cast<uint16_t>(cal + offset)); };
        const ChannelError& eV = m_setup.errors[voltageChannel(phase)];
        const ChannelError& eI = m_setup.errors[currentChannel(phase)];
        const auto voltage = spectrum(line, phase, Quantity::Voltage);
        const auto current = spectrum(line, phase, Quantity::Current);
        const double vms = meanSquare(voltage), ims = meanSquare(current);
        const double v1 = voltage.empty() ? 0.0 : std::abs(voltage.front().value);
        const double i1 = current.empty() ? 0.0 : std::abs(current.front().value);
        p.hasVoltage = v1 > 0;
        p.hasCurrent = i1 > 0;

        p.voltageErrorGain = 1 + eV.gainPercent / 100;
        p.currentErrorGain = 1 + eI.gainPercent / 100;
        p.voltageGain = p.voltageErrorGain * gainOf(reg(kVGain));
        const double currentGain = p.currentErrorGain * gainOf(reg(kIGain));
        int region = 0;
        if (multipoint) {
            const double code = currentGain * std::sqrt(ims) / r.scale.ampsPerCode;
            for (int candidate = 0; candidate < kRegions; ++candidate) {
                const double low = m_chip.stored(static_cast<uint16_t>(kMtThrLow + candidate));
                const double high = m_chip.stored(static_cast<uint16_t>(kMtThrHigh + candidate));
                if (low <= code && code < high) {
                    region = candidate;
                    break;
                }
            }
        }
        p.currentGain = currentGain * (multipoint ? gainOf(reg(kIGainRegion + region)) : 1.0);
        p.phaseCorrection = reg(kPhCalRegion + (multipoint ? region : 0)) / kGainUnit;
        p.phaseError = eI.phaseDegrees / kDegreesPerRadian;
        p.voltageNoise = signedSquare(eV.rmsOffset);
        p.currentNoise = signedSquare(eI.rmsOffset);
        p.vrmsOneOffset = reg(kVRmsOneOs);
        p.irmsOneOffset = reg(kIRmsOneOs);
        p.vrms1012Offset = reg(kVRms1012Os);
        p.irms1012Offset = reg(kIRms1012Os);

        const double vPerCode = r.scale.voltsPerCode, iPerCode = r.scale.ampsPerCode;
        p.vrms = rmsCode(p.voltageGain, vms, p.voltageNoise, vPerCode, reg(kVRmsOs));
        p.vfrms = rmsCode(p.voltageGain, v1 * v1, p.voltageNoise, vPerCode, reg(kVFRmsOs));
        p.irms = rmsCode(p.currentGain, ims, p.currentNoise, iPerCode, reg(kIRmsOs));
        p.ifrms = rmsCode(p.currentGain, i1 * i1, p.currentNoise, iPerCode, reg(kIFRmsOs));
        p.vthd = p.hasVoltage ? std::sqrt(std::max(0.0, vms - v1 * v1)) / v1 : 0.0;
        p.ithd = p.hasCurrent ? std::sqrt(std::max(0.0, ims - i1 * i1)) / i1 : 0.0;

        // Powers from the harmonics present in both, with the current as measured.
        std::complex<double> total, fundamental;
        for (const HarmonicPhasor& v : voltage)
            for (const HarmonicPhasor& i : current)
                if (v.order == i.order) {
                    const double shift = measuredShift(p, i.order, line.frequencyHz);
                    const std::complex<double> s = v.value * std::conj(i.value * std::polar(1.0, -shift));
                    total += s;
                    if (v.order == 1) fundamental = s;
                }
        if (p.hasVoltage) p.vAngle = std::arg(voltage.front().value) * kDegreesPerRadian;
        if (p.hasCurrent)
            p.iAngle =
                (std::arg(current.front().value) - measuredShift(p, 1, line.frequencyHz)) * kDegreesPerRadian;

        const double g = p.voltageGain * p.currentGain;
        const double wpc = r.scale.wattsPerCode;
        const double powerGain = gainOf(reg(kPGain));
        const double wattOffset = m_setup.wattOffset[phase], varOffset = m_setup.varOffset[phase];
        p.power[kWatt] = (g * total.real() + wattOffset) / wpc * powerGain + reg(kWattOs);
        p.power[kVar] = (g * total.imag() + varOffset) / wpc * powerGain + reg(kVarOs);
        p.power[kFundWatt] = (g * fundamental.real() + wattOffset) / wpc * powerGain + reg(kFWattOs);
        p.power[kFundVar] = (g * fundamental.imag() + varOffset) / wpc * powerGain + reg(kFVarOs);
        p.power[kVa] = g * std::sqrt(vms * ims) / wpc * powerGain;
        p.power[kFundVa] = g * v1 * i1 / wpc * powerGain;
        p.pf = p.power[kVa] > 0 ? std::clamp(p.power[kWatt] / p.power[kVa], -1.0, 1.0) : 0.0;
        p.period = p.hasVoltage ? kPeriodCodesPerSecond / line.frequencyHz - 1 : 0.0;
    }

    const ChannelError& eN = m_setup.errors[kNeutralChannel];
    r.neutralGain = (1 + eN.gainPercent / 100) * gainOf(signedRegister(kNIGain));
    r.neutralNoise = signedSquare(eN.rmsOffset);
    r.nirms = rmsCode(r.neutralGain, neutralMeanSquare(line), r.neutralNoise, r.scale.ampsPerCode,
                      signedRegister(kNIRmsOs));
    r.nirmsOneOffset = signedRegister(kNIRmsOneOs);
    r.nirms1012Offset = signedRegister(kNIRms1012Os);
    return r;
}

}  // namespace sim::detail
