// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Power path calibration: the phase corrections from the energies of a
// 60-degree test signal, the active power gains from the energy of an
// in-phase signal, and the active and reactive power offsets.
#include <cstdio>

#include "BoardIO.h"
#include "CalibrationMath.h"
#include "QM9000CalibrateSteps.h"

namespace {

struct EnergyPhase {
    uint16_t unWattHours;  // xWATTHR_HI
    uint16_t unVarHours;   // xVARHR_HI
    const char* pszPhaseCal;
    const char* pszPowerGain;
};
constexpr EnergyPhase ENERGY_PHASES[] = {
    {0x02E7, 0x02F1, "APHCAL0", "APGAIN"},
    {0x0323, 0x032D, "BPHCAL0", "BPGAIN"},
    {0x035F, 0x0369, "CPHCAL0", "CPGAIN"},
};

struct PowerPair {
    uint16_t unMeasured;
    const char* pszCalName;
};
constexpr PowerPair WATT_OFFSETS[] = {{0x0210, "AWATTOS"},  {0x0230, "BWATTOS"},  {0x0250, "CWATTOS"},
                                      {0x0213, "AFWATTOS"}, {0x0233, "BFWATTOS"}, {0x0253, "CFWATTOS"}};
constexpr PowerPair VAR_OFFSETS[] = {{0x0211, "AVAROS"},  {0x0231, "BVAROS"},  {0x0251, "CVAROS"},
                                     {0x0214, "AFVAROS"}, {0x0234, "BFVAROS"}, {0x0254, "CFVAROS"}};

constexpr uint16_t INTERVAL_WAIT_SECONDS = 5;
constexpr unsigned ACCUMULATION_START_MILLIS = 2200;  // the first intervals after the setup settle
constexpr unsigned ENERGY_READ_DELAY_MILLIS = 2;
constexpr int OFFSET_SAMPLES = 100;
constexpr unsigned WATT_SAMPLE_MILLIS = 11;
constexpr unsigned VAR_SAMPLE_MILLIS = 10;

// The power procedures need both applied quantities; the first unusable one is named.
bool hasVoltsAndAmps(const STATUS_AND_CONTROL& stat, const char* pszProcedure) {
    return calAppliedUsable("", pszProcedure, "voltage", stat.s_fCalVolts) &&
           calAppliedUsable("", pszProcedure, "current", stat.s_fCalAmps);
}

// Expected minus measured for each pair; false, with nothing set, when a
// difference does not fit its register.
template <size_t N>
bool calibratePowerOffsets(QM9000& pmu, const char* pszProcedure, int32_t lExpected,
                           const PowerPair (&pairs)[N], int nReadsPerSample, unsigned unSampleMillis) {
    CalPendingValues values;
    for (const PowerPair& pair : pairs) {
        const int32_t lMeasured =
            calAverageSigned(pmu.m_ADE9000, pair.unMeasured, OFFSET_SAMPLES, nReadsPerSample, unSampleMillis);
        const double dOffset = static_cast<double>(lExpected) - lMeasured;
        if (!calFitsRegister(pszProcedure, pair.pszCalName, dOffset)) return false;
        const int32_t lOffset = toRegisterS32(dOffset);
        printf("%s: Expected(0x%08X) - Measured(0x%08X) = 0x%08X (%s)\r\n", pszProcedure,
               static_cast<unsigned>(lExpected), static_cast<unsigned>(lMeasured),
               static_cast<unsigned>(lOffset), pair.pszCalName);
        values.add(pair.pszCalName, static_cast<uint32_t>(lOffset), 1.0f);
    }
    values.commit(pmu.m_Cal9000);
    return true;
}

}  // namespace

// The test signal: current lagging voltage by 60 degrees, active and reactive
// energy positive on every phase.
int QM9000::processCalPhase() {
    CalFrame frame("processCalPhase");
    const double dOmega = calmath::omega(m_fNominalFreq);
    calSetupEnergyInterval(m_ADE9000);
    calWaitEGYRDY(INTERVAL_WAIT_SECONDS);

    CalPendingValues values;
    for (const EnergyPhase& phase : ENERGY_PHASES) {
        const auto lWATTHR = static_cast<int32_t>(calSample(m_ADE9000, phase.unWattHours, 2));
        const auto lVARHR = static_cast<int32_t>(calSample(m_ADE9000, phase.unVarHours, 2));
        printf("processCalPhase: xWATTHR_HI / xVARHR_HI: 0x%08X / 0x%08X\r\n", static_cast<unsigned>(lWATTHR),
               static_cast<unsigned>(lVARHR));
        if (lWATTHR < 0 || lVARHR < 0) {
            puts("processCalPhase: Reading below zero!!!!!!!!!!!!!!!\r");
            printf("processCalPhase: lWATTHR/lVARHR: 0x%08X / 0x%08X\r\n", static_cast<unsigned>(lWATTHR),
                   static_cast<unsigned>(lVARHR));
            continue;
        }
        const double dPhaseError = calmath::phaseError(calmath::phaseTangent(lWATTHR, lVARHR));
        const double dWork = calmath::phaseCorrection(dPhaseError, dOmega);
        const double dPhaseErrorDegrees = dPhaseError * 180.0 / calmath::PI;
        printf("processCalPhase: Omega = %f\r\n", dOmega);
        printf("processCalPhase: Phase error (degrees) = %f (%f)\r\n", dPhaseError, dPhaseErrorDegrees);
        // No energy at all gives no angle (not a number): refused as well.
        const double dPHCAL = dWork * calmath::GAIN_UNIT;
        if (!calFitsRegister("processCalPhase", phase.pszPhaseCal, dPHCAL)) return frame.end(CAL_BAD_INPUT);
        const int32_t lPHCAL = toRegisterS32(dPHCAL);
        printf("processCalPhase: %s = 0x%08X\r\n", phase.pszPhaseCal, static_cast<unsigned>(lPHCAL));
        values.add(phase.pszPhaseCal, static_cast<uint32_t>(lPHCAL), static_cast<float>(dPhaseErrorDegrees));
    }
    values.commit(m_Cal9000);
    return frame.end(CAL_DONE);
}

// The test signal is in phase: the expected energy is the product of the
// applied RMS values over one interval.
int QM9000::processCalPGain() {
    CalFrame frame("processCalPGain");
    if (!hasVoltsAndAmps(*m_pStat, "processCalPGain")) return frame.end(CAL_BAD_INPUT);

    double dWATTHR_Exp = calmath::expectedPowerCode(m_pStat->s_fCalVolts, m_pStat->s_fCalAmps,
                                                    m_fFullScaleVoltsCorrected, m_fFullScaleAmps);
    printf("processCalPGain: dWATTHR_Exp = : %f\r\n", dWATTHR_Exp);
    dWATTHR_Exp = calmath::intervalEnergyCode(dWATTHR_Exp);
    printf("processCalPGain: Expected xWATTHR_HI: 0x%08X\r\n", toRegisterU32(dWATTHR_Exp));

    calSetupEnergyInterval(m_ADE9000);
    meterOn();
    delay(ACCUMULATION_START_MILLIS);
    CalPendingValues values;
    for (const EnergyPhase& phase : ENERGY_PHASES) {
        calWaitEGYRDY(INTERVAL_WAIT_SECONDS);
        delay(ENERGY_READ_DELAY_MILLIS);
        const uint32_t ulReading = calSample(m_ADE9000, phase.unWattHours, 2);
        int32_t lGain = 0;
        float fGain = 1.0f;  // unity gain when nothing was measured
        if (ulReading == 0) {
            printf("processCalPGain: lWATTHR = 0x%08X forcing %s to 0\r\n", 0u, phase.pszPowerGain);
        } else {
            const auto lWATTHR = static_cast<int32_t>(ulReading);
            printf("processCalPGain: lWATTHR = 0x%08X\r\n", ulReading);
            if (!calGainUsable("processCalPGain", phase.pszPowerGain, dWATTHR_Exp / lWATTHR))
                return frame.end(CAL_BAD_INPUT);
            double dGain = calmath::powerGain(dWATTHR_Exp, lWATTHR);
            printf("processCalPGain: Gain = %f\r\n", dGain);
            dGain *= calmath::GAIN_UNIT;
            lGain = toRegisterS32(dGain);
            printf("processCalPGain: %s = 0x%08X\r\n", phase.pszPowerGain, static_cast<unsigned>(lGain));
            fGain = static_cast<float>(dGain);
        }
        values.add(phase.pszPowerGain, static_cast<uint32_t>(lGain), fGain);
    }
    values.commit(m_Cal9000);
    return frame.end(CAL_DONE);
}

// In phase: the power registers should read the product of the applied values.
int QM9000::processCalPWOS() {
    CalFrame frame("processCalPWOS");
    if (!hasVoltsAndAmps(*m_pStat, "processCalPWOS")) return frame.end(CAL_BAD_INPUT);

    const double dWATT_Exp =
        calmath::expectedWattCode(m_pStat->s_fCalVolts, m_pStat->s_fCalAmps, m_fPMAX_LSB);
    if (!calFitsRegister("processCalPWOS", "Expected xWATT", dWATT_Exp)) return frame.end(CAL_BAD_INPUT);
    const int32_t lWATT_Exp = toRegisterS32(dWATT_Exp);
    printf("processCalPWOS: Expected xWATT = 0x%08X\r\n", static_cast<unsigned>(lWATT_Exp));
    puts("processCalPWOS: Expected - Measured = Offset\r");
    if (!calibratePowerOffsets(*this, "processCalPWOS", lWATT_Exp, WATT_OFFSETS, 2, WATT_SAMPLE_MILLIS))
        return frame.end(CAL_BAD_INPUT);
    return frame.end(CAL_DONE);
}

// In phase: the reactive power registers should read zero.
int QM9000::processCalPVAROS() {
    CalFrame frame("processCalPVAROS");
    if (!hasVoltsAndAmps(*m_pStat, "processCalPVAROS")) return frame.end(CAL_BAD_INPUT);

    const int32_t lVAR_Exp = 0;
    printf("processCalPVAROS: Expected xVAR = 0x%08X\r\n", static_cast<unsigned>(lVAR_Exp));
    puts("processCalPVAROS: Expected - Measured = Offset\r");
    calSetupEnergyInterval(m_ADE9000);
    delay(ACCUMULATION_START_MILLIS);
    calWaitEGYRDY(INTERVAL_WAIT_SECONDS);
    if (!calibratePowerOffsets(*this, "processCalPVAROS", lVAR_Exp, VAR_OFFSETS, 1, VAR_SAMPLE_MILLIS))
        return frame.end(CAL_BAD_INPUT);
    return frame.end(CAL_DONE);
}
