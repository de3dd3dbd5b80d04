// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Multipoint calibration: up to five signal regions, each with its own
// current gains and phase corrections, bounded by threshold registers; and the
// switch that turns region-dependent correction on or off.
#include <cstdio>

#include "BoardIO.h"
#include "CalibrationMath.h"
#include "QM9000CalibrateSteps.h"

namespace {

constexpr uint32_t LAST_REGION = 4;

struct RegionPhase {
    uint16_t unCurrentRms;  // xIRMS
    uint16_t unWattHours;   // xWATTHR_HI
    uint16_t unVarHours;    // xVARHR_HI
    const char* pszGainFormat;
    const char* pszPhaseFormat;
};
constexpr RegionPhase REGION_PHASES[] = {
    {0x020C, 0x02E7, 0x02F1, "AIGAIN%d", "APHCAL%d"},
    {0x022C, 0x0323, 0x032D, "BIGAIN%d", "BPHCAL%d"},
    {0x024C, 0x035F, 0x0369, "CIGAIN%d", "CPHCAL%d"},
};

constexpr int GAIN_SAMPLES = 10;
constexpr unsigned GAIN_SAMPLE_MILLIS = 30;
constexpr unsigned ACCUMULATION_START_MILLIS = 3000;
constexpr uint16_t INTERVAL_WAIT_SECONDS = 5;

// CONFIG0 bits the register configuration composes.
constexpr uint32_t CONFIG0_MULTIPOINT = 0x0010;
constexpr uint32_t CONFIG0_ROGOWSKI = 0x0820;
constexpr uint32_t CONFIG0_HPF_DISABLE = 0x0008;

using RegisterName = char[16];

void formatName(RegisterName& szName, const char* pszFormat, uint32_t ulRegion) {
    snprintf(szName, sizeof(szName), pszFormat, static_cast<int>(ulRegion));
}

}  // namespace

// The bounds are voltage codes, scaled with the voltage full scale. A bound
// whose code does not fit the register (negative, not finite) is refused as a
// region out of range is; 0 stays a bound (the lowest region's).
int QM9000::processCalMultipointDefine() {
    CalFrame frame("processCalMultipointDefine");
    const uint32_t ulRegion = m_pStat->s_ulCalRegion;
    if (ulRegion > LAST_REGION) return CAL_BAD_INPUT;

    const float fLow = m_pStat->s_fCalThreshLo, fHigh = m_pStat->s_fCalThreshHi;
    const double dLow = calmath::expectedVoltageCode(fLow, m_fFullScaleVoltsCorrected);
    const double dHigh = calmath::expectedVoltageCode(fHigh, m_fFullScaleVoltsCorrected);
    if (!fitsRegisterU32(dLow) || !fitsRegisterU32(dHigh)) return CAL_BAD_INPUT;
    const uint32_t ulLow = toRegisterU32(dLow), ulHigh = toRegisterU32(dHigh);

    RegisterName szName;
    formatName(szName, "MTTHR_L%d", ulRegion);
    printf("\r\nsetPending: %s => %d, %f", szName, static_cast<int>(ulLow), static_cast<double>(fLow));
    calSetPending(m_Cal9000, szName, ulLow, fLow);
    formatName(szName, "MTTHR_H%d", ulRegion);
    printf("\r\nsetPending: %s => %d, %f", szName, static_cast<int>(ulHigh), static_cast<double>(fHigh));
    calSetPending(m_Cal9000, szName, ulHigh, fHigh);

    m_Cal9000.pushPendingCal();
    return frame.end(CAL_DONE);
}

// The current gain procedure for one region, phases A, B and C only.
int QM9000::processCalMultipointGain() {
    CalFrame frame("processCalMultipointGain");
    const uint32_t ulRegion = m_pStat->s_ulCalRegion;
    const float fAmps = m_pStat->s_fCalAmps;
    if (ulRegion > LAST_REGION || !calmath::usableApplied(fAmps)) return CAL_BAD_INPUT;

    const double dAppliedADC = calmath::expectedCurrentCode(fAmps, m_fFullScaleAmps);
    CalPendingValues values;
    for (const RegionPhase& phase : REGION_PHASES) {
        const uint32_t ulMeasuredADC =
            calAverageUnsigned(m_ADE9000, phase.unCurrentRms, GAIN_SAMPLES, 2, GAIN_SAMPLE_MILLIS);
        const double dGain = dAppliedADC / ulMeasuredADC;
        RegisterName szName;
        formatName(szName, phase.pszGainFormat, ulRegion);
        if (!calGainUsable("processCalMultipointGain", szName, dGain)) return CAL_BAD_INPUT;
        values.add(szName, static_cast<uint32_t>(calmath::gainRegister(dGain)), static_cast<float>(dGain));
    }
    values.commit(m_Cal9000);
    return frame.end(CAL_DONE);
}

// The phase procedure for one region, with the 60-degree test signal. Each
// phase reads the energies of its own completed interval.
int QM9000::processCalMultipointPhase() {
    CalFrame frame("processCalMultipointPhase");
    const uint32_t ulRegion = m_pStat->s_ulCalRegion;
    if (ulRegion > LAST_REGION) return CAL_BAD_INPUT;

    const double dOmega = calmath::omega(m_fNominalFreq);
    calSetupEnergyInterval(m_ADE9000);
    delay(ACCUMULATION_START_MILLIS);
    CalPendingValues values;
    for (const RegionPhase& phase : REGION_PHASES) {
        calWaitEGYRDY(INTERVAL_WAIT_SECONDS);
        const auto lWATTHR = static_cast<int32_t>(calSample(m_ADE9000, phase.unWattHours, 1));
        const auto lVARHR = static_cast<int32_t>(calSample(m_ADE9000, phase.unVarHours, 1));
        printf("Read WATTHR_HI: 0x%08X, %d\n", static_cast<unsigned>(lWATTHR), lWATTHR);
        printf("Read VARHR_HI: 0x%08X, %d\n", static_cast<unsigned>(lVARHR), lVARHR);
        const double dTangent = calmath::phaseTangent(lWATTHR, lVARHR);
        const double dPhaseError = calmath::phaseError(dTangent);
        printf("Omega: %f\n", dOmega);
        printf("Phase error: %f (%f)\n", dPhaseError, dTangent);
        const double dPHCAL = calmath::phaseCorrection(dPhaseError, dOmega) * calmath::GAIN_UNIT;
        RegisterName szName;
        formatName(szName, phase.pszPhaseFormat, ulRegion);
        // No energy at all gives no angle (not a number): refused as well.
        if (!calFitsRegister("processCalMultipointPhase", szName, dPHCAL)) return CAL_BAD_INPUT;
        const int32_t lPHCAL = toRegisterS32(dPHCAL);
        printf("lPHCAL: 0x%08X, %d\n", static_cast<unsigned>(lPHCAL), lPHCAL);
        values.add(szName, static_cast<uint32_t>(lPHCAL), 1.0f);
    }
    values.commit(m_Cal9000);
    return frame.end(CAL_DONE);
}

// Not a calibration constant: CONFIG0 as the register configuration composes
// it, with the multipoint bit from the command. The next configuration writes
// it from the configuration's setting again.
int QM9000::processCalMultipointEnable() {
    CalFrame frame("processCalMultipointEnable");
    uint32_t ulConfig0 = 0;
    if (m_pStat->s_ulCalOption != 0) ulConfig0 |= CONFIG0_MULTIPOINT;
    if (m_bRogowskiEnable) ulConfig0 |= CONFIG0_ROGOWSKI;
    if (m_bHPFDisable) ulConfig0 |= CONFIG0_HPF_DISABLE;
    m_ADE9000.writeReg(reg9000::CONFIG0, ulConfig0);
    return frame.end(CAL_DONE);
}
