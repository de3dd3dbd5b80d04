// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// RMS calibration: channel gains and the RMS offsets of every RMS flavour,
// from the chip's RMS readings while known RMS values are applied.
#include <cstdio>

#include "BoardIO.h"
#include "CalibrationMath.h"
#include "QM9000CalibrateSteps.h"

namespace {

// A measured register and the calibration register computed from it.
struct RmsPair {
    uint16_t unMeasured;
    const char* pszCalName;
};

constexpr RmsPair VOLTAGE_GAINS[] = {{0x020D, "AVGAIN"}, {0x022D, "BVGAIN"}, {0x024D, "CVGAIN"}};
constexpr RmsPair CURRENT_GAINS[] = {
    {0x020C, "AIGAIN"}, {0x022C, "BIGAIN"}, {0x024C, "CIGAIN"}, {0x0266, "NIGAIN"}};

// Full band, fundamental, one cycle, 10/12 cycles; the neutral has no fundamental.
constexpr RmsPair VOLTAGE_OFFSETS[] = {
    {0x020D, "AVRMSOS"},    {0x022D, "BVRMSOS"},     {0x024D, "CVRMSOS"},     {0x020F, "AVFRMSOS"},
    {0x022F, "BVFRMSOS"},   {0x024F, "CVFRMSOS"},    {0x021A, "AVRMSONEOS"},  {0x023A, "BVRMSONEOS"},
    {0x025A, "CVRMSONEOS"}, {0x021C, "AVRMS1012OS"}, {0x023C, "BVRMS1012OS"}, {0x025C, "CVRMS1012OS"},
};
constexpr RmsPair CURRENT_OFFSETS[] = {
    {0x020C, "AIRMSOS"},     {0x022C, "BIRMSOS"},     {0x024C, "CIRMSOS"},     {0x0266, "NIRMSOS"},
    {0x020E, "AIFRMSOS"},    {0x022E, "BIFRMSOS"},    {0x024E, "CIFRMSOS"},    {0x0219, "AIRMSONEOS"},
    {0x0239, "BIRMSONEOS"},  {0x0259, "CIRMSONEOS"},  {0x0267, "NIRMSONEOS"},  {0x021B, "AIRMS1012OS"},
    {0x023B, "BIRMS1012OS"}, {0x025B, "CIRMS1012OS"}, {0x0268, "NIRMS1012OS"},
};

constexpr int SAMPLES = 10;
constexpr int READS_PER_SAMPLE = 2;  // the second reading is kept
constexpr unsigned GAIN_SAMPLE_MILLIS = 30;
constexpr unsigned OFFSET_SAMPLE_MILLIS = 11;

// False, with nothing set, when a channel's gain is no calibration.
template <size_t N>
bool calibrateGains(QM9000& pmu, const char* pszProcedure, double dAppliedADC, const RmsPair (&pairs)[N],
                    bool bAnnounceChannels) {
    CalPendingValues values;
    for (const RmsPair& pair : pairs) {
        if (bAnnounceChannels) printf("%s: Calibrating %s...\r\n", pszProcedure, pair.pszCalName);
        const uint32_t ulMeasuredADC =
            calAverageUnsigned(pmu.m_ADE9000, pair.unMeasured, SAMPLES, READS_PER_SAMPLE, GAIN_SAMPLE_MILLIS);
        const double dGain = dAppliedADC / ulMeasuredADC;
        printf("%s: Applied (ADC)=%f; Avg meas (ADC)=%d; Gain: %f\r\n", pszProcedure, dAppliedADC,
               static_cast<int>(ulMeasuredADC), dGain);
        if (!calGainUsable(pszProcedure, pair.pszCalName, dGain)) return false;
        const int32_t lGain = calmath::gainRegister(dGain);
        printf("%s: %s = 0x%08X\r\n", pszProcedure, pair.pszCalName, static_cast<unsigned>(lGain));
        values.add(pair.pszCalName, static_cast<uint32_t>(lGain), static_cast<float>(dGain));
    }
    values.commit(pmu.m_Cal9000);
    return true;
}

// False, with nothing set, when an offset does not fit its register.
template <size_t N>
bool calibrateOffsets(QM9000& pmu, const char* pszProcedure, double dAppliedADC, const RmsPair (&pairs)[N]) {
    CalPendingValues values;
    for (const RmsPair& pair : pairs) {
        const int32_t lAverageADC =
            calAverageSigned(pmu.m_ADE9000, pair.unMeasured, SAMPLES, READS_PER_SAMPLE, OFFSET_SAMPLE_MILLIS);
        const double dOffset = calmath::rmsOffset(dAppliedADC, lAverageADC);
        printf("%s: Applied (ADC)=%f; Avg meas (ADC)=%d; Offset: %f\r\n", pszProcedure, dAppliedADC,
               lAverageADC, dOffset);
        if (!calFitsRegister(pszProcedure, pair.pszCalName, dOffset)) return false;
        const int32_t lOffset = toRegisterS32(dOffset);
        printf("%s: %s = 0x%08X\r\n", pszProcedure, pair.pszCalName, static_cast<unsigned>(lOffset));
        values.add(pair.pszCalName, static_cast<uint32_t>(lOffset), 0.0f);
    }
    values.commit(pmu.m_Cal9000);
    return true;
}

}  // namespace

int QM9000::processCalVGain() {
    CalFrame frame("processCalVGain");
    const float fVolts = m_pStat->s_fCalVolts;
    if (!calAppliedUsable("", "processCalVGain", "voltage", fVolts)) return frame.end(CAL_BAD_INPUT);
    printf("processCalVGain: Applied voltage is %f\r\n", static_cast<double>(fVolts));
    const double dAppliedADC = calmath::expectedVoltageCode(fVolts, m_fFullScaleVoltsCorrected);
    if (!calibrateGains(*this, "processCalVGain", dAppliedADC, VOLTAGE_GAINS, true))
        return frame.end(CAL_BAD_INPUT);
    return frame.end(CAL_DONE);
}

int QM9000::processCalIGain() {
    CalFrame frame("processCalIGain");
    const float fAmps = m_pStat->s_fCalAmps;
    if (!calAppliedUsable("\r\n", "processCalIGain", "current", fAmps)) return frame.end(CAL_BAD_INPUT);
    printf("processCalIGain: Applied current is %f\r\n", static_cast<double>(fAmps));
    const double dAppliedADC = calmath::expectedCurrentCode(fAmps, m_fFullScaleAmps);
    if (!calibrateGains(*this, "processCalIGain", dAppliedADC, CURRENT_GAINS, false))
        return frame.end(CAL_BAD_INPUT);
    return frame.end(CAL_DONE);
}

// Offsets are measured with the gains in force, so they follow the gains.
int QM9000::processCalVOS() {
    CalFrame frame("processCalVOS");
    const float fVolts = m_pStat->s_fCalVolts;
    if (!calAppliedUsable("\r\n", "processCalVOS", "voltage", fVolts)) return CAL_BAD_INPUT;  // no End line
    printf("processCalVOS: Applied voltage is %f\r\n", static_cast<double>(fVolts));
    const double dAppliedADC = calmath::expectedVoltageCode(fVolts, m_fFullScaleVoltsCorrected);
    if (!calibrateOffsets(*this, "processCalVOS", dAppliedADC, VOLTAGE_OFFSETS)) return CAL_BAD_INPUT;
    return frame.end(CAL_DONE);
}

int QM9000::processCalIOS() {
    CalFrame frame("processCalIOS");
    const float fAmps = m_pStat->s_fCalAmps;
    if (!calAppliedUsable("\r\n", "processCalIOS", "current", fAmps)) return frame.end(CAL_BAD_INPUT);
    const double dAppliedADC = calmath::expectedCurrentCode(fAmps, m_fFullScaleAmps);
    if (!calibrateOffsets(*this, "processCalIOS", dAppliedADC, CURRENT_OFFSETS))
        return frame.end(CAL_BAD_INPUT);
    return frame.end(CAL_DONE);
}
