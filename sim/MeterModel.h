// The chip's measurements: computes the measurement registers from the line
// signal, the board's full scale and intrinsic errors, and the calibration
// registers as they stand, whenever they are read while the chip runs.
//
// Per phase x (codes as doubles, rounded to the nearest integer when read;
// s() is a register read as signed 32 bits; scale from ChipScale):
//   gV = (1 + voltage gain error) (1 + s(xVGAIN) / 2^27)
//   gI = (1 + current gain error) (1 + s(xIGAIN) / 2^27) [(1 + s(xIGAINr) / 2^27)]
//        the bracket only with CONFIG0 bit 0x0010 (multipoint): region r is
//        the first of 0..4 with MTTHR_Lr <= code < MTTHR_Hr, the code being
//        the current RMS before the region gain; no match is region 0
//   RMS flavour with input mean square m (volts^2 or amps^2) and offset
//   register OS:   code = sqrt(g^2 (m + n) / perCode^2 + s(OS) x 2^15)
//        n the channel's intrinsic RMS offset squared (negative when the
//        offset is); m: total (xVRMS/xIRMS), fundamental (xVFRMS/xIFRMS),
//        over the last cycle (xVRMSONE/xIRMSONE), over the last 10 cycles, or
//        12 with ACCMODE bit 0x0100 (xVRMS1012/xIRMS1012)
//   measured current lag of harmonic h:  lag_h + h x phase error - psi(k, h w)
//        psi(k, w) = 2 atan2(k sin w, 1 + k cos w), k = s(xPHCALr or xPHCAL0) / 2^27,
//        w = 2 pi f / 8000: the inverse of the phase calibration's formula
//   P, Q = sums over harmonics present in both of V_h I_h cos, sin(measured lag)
//   xWATT  = (gV gI P  + watt offset) / wattsPerCode (1 + s(xPGAIN)/2^27) + s(xWATTOS)
//   xVAR   = (gV gI Q  + VAR offset)  / wattsPerCode (1 + s(xPGAIN)/2^27) + s(xVAROS)
//   xFWATT, xFVAR the same from the fundamental with xFWATTOS, xFVAROS
//   xVA    = gV gI Vrms Irms / wattsPerCode (1 + s(xPGAIN)/2^27); xFVA from V1 I1
//   xPF    = xWATT / xVA x 2^27 (0 without VA)
//   xVTHD  = sqrt(Vrms^2 - V1^2) / V1 x 2^27; xITHD likewise
//   xPERIOD = 524288000 / f - 1 while the phase has voltage, else 0
//   ANGL_*  = angle in [0, 360) / 360 x 1024000 / f (16 bits): voltage to
//        voltage, voltage to its current (measured lag), current to current
// Neutral: NIRMS, NIRMSONE, NIRMS1012 as an RMS flavour with gN = (1 + error)
// (1 + s(NIGAIN)/2^27) and NIRMSOS, NIRMSONEOS, NIRMS1012OS.
#pragma once

#include <array>
#include <cstdint>

#include "ChipModel.h"
#include "ChipScale.h"
#include "Clock.h"
#include "MeterSetup.h"
#include "SignalHistory.h"

namespace sim::detail {

// Energy register quantities, in the chip's register order.
enum EnergyQuantity { kWatt, kVar, kVa, kFundWatt, kFundVar, kFundVa, kEnergyQuantities };

class MeterModel : public RegisterSource {
public:
    struct PhaseReadings {
        double vrms, irms, vfrms, ifrms;
        std::array<double, kEnergyQuantities> power;  // codes, by EnergyQuantity
        double pf, vthd, ithd;
        double period;
        double vAngle, iAngle;  // fundamental phase angles, degrees (current as measured)
        bool hasVoltage, hasCurrent;
        // What the windowed flavours and the waveform samples need.
        double voltageGain, currentGain;
        // The waveform buffer samples ahead of the calibration registers: only
        // the channel's own errors show there.
        double voltageErrorGain, currentErrorGain;
        double voltageNoise, currentNoise;  // intrinsic RMS offsets, squared and signed
        int32_t vrmsOneOffset, irmsOneOffset, vrms1012Offset, irms1012Offset;
        double phaseError;       // radians at the fundamental
        double phaseCorrection;  // k
    };
    struct Readings {
        std::array<PhaseReadings, kPhases> phases;
        double nirms;
        double neutralGain, neutralNoise;
        int32_t nirmsOneOffset, nirms1012Offset;
        ChipScale scale;
        double frequencyHz;
    };

    MeterModel(const ChipModel& chip, const SignalHistory& history, const MeterSetup& setup,
               const Clock& clock)
        : m_chip(chip), m_history(history), m_setup(setup), m_clock(clock) {}

    bool compute(uint16_t address, uint32_t& value) const override;
    bool computes(uint16_t address) const override;

    // The readings for the state as it stands (cached until something changes).
    const Readings& readings() const;
    // Measured phase shift of harmonic `order` of a phase's current, radians of lag.
    static double measuredShift(const PhaseReadings& phase, int order, double frequencyHz);

private:
    int32_t signedRegister(uint16_t address) const;
    Readings computeReadings() const;
    double windowedCode(int channel, double cycles, double gain, double noise, int32_t offset,
                        double perCode) const;
    uint32_t phaseRegister(int phase, int offset) const;
    uint32_t angleRegister(uint16_t address) const;

    const ChipModel& m_chip;
    const SignalHistory& m_history;
    const MeterSetup& m_setup;
    const Clock& m_clock;

    struct CacheKey {
        uint64_t chip, history, setup;
        bool operator==(const CacheKey& other) const {
            return chip == other.chip && history == other.history && setup == other.setup;
        }
    };
    mutable bool m_cached = false;
    mutable CacheKey m_key{};
    mutable Readings m_readings{};
};

// Register words from code values: nearest integer, saturating.
uint32_t unsignedCode(double code);
uint32_t signedCode(double code);

}  // namespace sim::detail
