// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Scaling factors, input routing and the per-record value conversion.
#include <cmath>
#include <cstdio>

#include "QM9000.h"
#include "Tables9000.h"

namespace {
// Chip full-scale codes and factors.
constexpr float RMS_FULL_SCALE_CODES = 52702092.0f;
constexpr float POWER_FULL_SCALE_CODES = 20694066.0f;
constexpr float PEAK_TO_RMS = 0.70710677f;
constexpr double CURRENT_CHANNEL_FACTOR = 3.003003003003003;
constexpr double ENERGY_SECONDS_PER_CODE = 0.00012207;
constexpr float FREQUENCY_NUMERATOR = 524288000.0f;  // 8000 samples/s x 65536
constexpr float FRACTION_LSB = 7.4505806e-9f;        // 2^-27
constexpr double ANGLE_COUNT_SECONDS = 9.765625e-7;
constexpr float NOT_CONVERTED = -99.99f;
constexpr float CONVERSION_FAILED = -1.0f;
constexpr float CONVERSION_LIMIT = 5.1e13f;  // above this a reading is garbage

// ADC_REDIRECT words per input order code: voltage part, current part.
constexpr uint32_t VOLTAGE_ROUTING[6] = {0x1FFE00, 0x177E00, 0x1E5E00, 0x135E00, 0x166E00, 0x13EE00};
constexpr uint32_t CURRENT_ROUTING[6] = {0x1FF, 0x057, 0x1C1, 0x011, 0x042, 0x03A};

bool isNotAnswering(const ADE9000_VALUES_RECV_BUFFER& values) {
    for (const auto& phase : values.ulValues)
        for (uint32_t ulWord : phase)
            if (ulWord != CHIP_NOT_ANSWERING) return false;
    for (uint32_t ulWord : values.ulNValues)
        if (ulWord != CHIP_NOT_ANSWERING) return false;
    return true;
}
}  // namespace

void QM9000::initializeLSBs() {
    const float fFSV = m_fFullScaleVoltsCorrected;
    const float fFSA = m_fFullScaleAmps;
    const double dPowerProduct = fFSV * PEAK_TO_RMS * fFSA * PEAK_TO_RMS * CURRENT_CHANNEL_FACTOR;

    m_fPMAX_LSB = static_cast<float>(dPowerProduct / POWER_FULL_SCALE_CODES);
    printf("m_fPMAX_LSB: %f\r\n", m_fPMAX_LSB);
    m_fEnergy_LSB = static_cast<float>(dPowerProduct / POWER_FULL_SCALE_CODES / ENERGY_SECONDS_PER_CODE /
                                       3600.0 / 8000.0);
    printf("m_fEnergy_LSB: %f\r\n", m_fEnergy_LSB);
    m_fVolts_LSB = PEAK_TO_RMS * fFSV / RMS_FULL_SCALE_CODES;
    printf("m_fVolts_LSB: %f\r\n", m_fVolts_LSB);
    m_fAmps_LSB = static_cast<float>(PEAK_TO_RMS * fFSA * CURRENT_CHANNEL_FACTOR / RMS_FULL_SCALE_CODES);
    printf("m_fAmps_LSB: %f\r\n", m_fAmps_LSB);
    m_fFreq_Conv = FREQUENCY_NUMERATOR;
    printf("m_fFreq_Conv: %f\r\n", m_fFreq_Conv);
    m_fPF_LSB = m_fTHD_LSB = FRACTION_LSB;
    const double dPeriod = (m_fNominalFreq == 50.0f) ? 0.02 : 0.016666666;
    m_fAngle_LSB = static_cast<float>(ANGLE_COUNT_SECONDS / dPeriod * 360.0);
}

void QM9000::updateLSBs() {
    initializeLSBs();
    m_fPMAX_LSB *= m_fPTRatio * m_fCTRatio;
    m_fEnergy_LSB *= m_fPTRatio * m_fCTRatio;
    m_fVolts_LSB *= m_fPTRatio;
    m_fAmps_LSB *= m_fCTRatio;
    m_fFreq_Conv = FREQUENCY_NUMERATOR;
    m_fRadians = 0.017453292f;
}

void QM9000::updateInputs() {
    if (!m_bFound) return;
    meterOff();
    const uint32_t ulVoltage =
        m_nVoltageInputOrder < 6 ? VOLTAGE_ROUTING[m_nVoltageInputOrder] : VOLTAGE_ROUTING[0];
    const uint32_t ulCurrent =
        m_nCurrentInputOrder < 6 ? CURRENT_ROUTING[m_nCurrentInputOrder] : CURRENT_ROUTING[0];
    m_ADE9000.writeReg(reg9000::ADC_REDIRECT, ulVoltage | ulCurrent);
    meterOn();
}

void QM9000::processValues() {
    processValuesConversion();
    float* pfJournal = m_pAcqBuffer->m_fJournal;
    if (m_bDebugValues)
        printf("V = A:%5.1f; B:%5.1f; C:%5.1f;  I = A:%5.1f; B:%5.1f; C:%5.1f N:%5.1f\n",
               pfJournal[jrnl_VRMS_A], pfJournal[jrnl_VRMS_B], pfJournal[jrnl_VRMS_C], pfJournal[jrnl_IRMS_A],
               pfJournal[jrnl_IRMS_B], pfJournal[jrnl_IRMS_C], pfJournal[jrnl_NIRMS]);
    processValuesValidateInputs();
    processRecordTotals();
    processValuesEnergyDirection();
}

void QM9000::processRecordTotals() {
    if (m_unWiring >= WIRING_CODES) return;  // unknown wiring: the totals keep what they held
    float* pfJournal = m_pAcqBuffer->m_fJournal;
    processValuesTotals(&s_ptceTotalsByWiring[m_unWiring], TOTAL_TABLE_POWER, pfJournal);
    if (m_unWiring == 4 || m_unWiring == 5)
        applyVectorTotals(pfJournal, jrnl_TOT_WATT, jrnl_TOT_VAR, jrnl_TOT_VA, jrnl_TOT_FWATT, jrnl_TOT_FVAR,
                          jrnl_TOT_FVA);
    // The summed power factors mean nothing: the total's follows from its powers.
    pfJournal[jrnl_TOT_PF] =
        pfJournal[jrnl_TOT_VA] != 0.0f ? pfJournal[jrnl_TOT_WATT] / pfJournal[jrnl_TOT_VA] : 0.0f;
}

// Delta wiring measures no true per-phase apparent power: the totals' apparent
// power follows from their true and reactive power instead.
void QM9000::applyVectorTotals(float* pfValues, uint16_t unWatt, uint16_t unVar, uint16_t unVA,
                               uint16_t unFWatt, uint16_t unFVar, uint16_t unFVA) {
    pfValues[unVA] = std::sqrt(pfValues[unWatt] * pfValues[unWatt] + pfValues[unVar] * pfValues[unVar]);
    pfValues[unFVA] = std::sqrt(pfValues[unFWatt] * pfValues[unFWatt] + pfValues[unFVar] * pfValues[unFVar]);
}

void QM9000::processValuesConversion() {
    const ADE9000_VALUES_RECV_BUFFER* pValues = m_ADE9000.readValues();
    if (!pValues) return;
    float* pfJournal = m_pAcqBuffer->m_fJournal;

    // A burst of all ones is a chip that does not answer, not a measurement:
    // every value reads as no signal, so every phase is blanked and flagged.
    if (isNotAnswering(*pValues)) {
        for (int q = 0; q < jrnl_MAX; q++) pfJournal[q] = 0.0f;
        return;
    }

    // A period of all ones must not wrap to a division by zero.
    static constexpr uint16_t kPeriods[3] = {reg9000::APERIOD, reg9000::BPERIOD, reg9000::CPERIOD};
    for (int p = 0; p < 3; p++) {
        uint32_t ulPeriod = 0;
        m_ADE9000.readReg(kPeriods[p], ulPeriod);
        pfJournal[jrnl_FREQ_A + p] = static_cast<float>(m_fFreq_Conv / (static_cast<double>(ulPeriod) + 1.0));
    }

    for (int i = 0; i < BURST_READ_MAP_ROWS && i < BURST_WORDS; i++) {
        const BURST_READ_MAP_RECORD& row = m_mrBurstReadMap[i];
        if (row.unJrnlIndex >= jrnl_MAX || row.unRegDefIndex >= REGISTER_DEFS_ROWS) continue;
        pfJournal[row.unJrnlIndex] = CONVERSION_FAILED;
        const uint32_t ulWire = i < 57 ? pValues->ulValues[i / 19][i % 19] : pValues->ulNValues[i - 57];
        const uint32_t ulRaw = swapWords(ulWire);
        const int32_t lRaw = static_cast<int32_t>(ulRaw);
        float fValue = NOT_CONVERTED;
        switch (g_rd9000RegisterDefs[row.unRegDefIndex].uProcess) {
            case proc_VRMS:
                fValue = static_cast<float>(ulRaw) * m_fVolts_LSB;
                break;
            case proc_IRMS:
                fValue = static_cast<float>(ulRaw) * m_fAmps_LSB;
                break;
            case proc_PERIOD:
                fValue =
                    ulRaw == 0 ? 0.0f : static_cast<float>(m_fFreq_Conv / (static_cast<double>(ulRaw) + 1.0));
                break;
            case proc_PF:
                fValue = static_cast<float>(static_cast<double>(lRaw) * m_fPF_LSB);
                break;
            case proc_THD:
                fValue = static_cast<float>(lRaw) * m_fTHD_LSB * 100.0f;
                break;
            case proc_WATT:
            case proc_VAR_A:
            case proc_VAR_B:
            case proc_VAR_C:
                fValue = static_cast<float>(lRaw) * m_fPMAX_LSB;
                break;
            case proc_VA_A:
            case proc_VA_B:
            case proc_VA_C:
                fValue = static_cast<float>(ulRaw) * m_fPMAX_LSB;
                break;
            default:
                break;
        }
        if (fValue < CONVERSION_LIMIT) pfJournal[row.unJrnlIndex] = fValue;  // false for NaN too
    }
}

void QM9000::processValuesValidateInputs() {
    float* pfJournal = m_pAcqBuffer->m_fJournal;
    uint16_t unFlags = m_pStat->s_unSignalValidFlags;
    for (int p = 0; p < 3; p++) {
        const uint16_t unVoltageFlag = static_cast<uint16_t>(SIGNAL_VOLTAGE_A << p);
        if (pfJournal[jrnl_VRMS_A + p] > m_fVNoiseFloor) {
            unFlags |= unVoltageFlag;
        } else {
            unFlags &= ~unVoltageFlag;
            // No voltage: every value of the phase is meaningless, frequency included.
            for (int q = p; q < jrnl_NIRMS; q += 3) pfJournal[q] = 0.0f;
        }
    }
    for (int p = 0; p < 3; p++) {
        const uint16_t unCurrentFlag = static_cast<uint16_t>(SIGNAL_CURRENT_A << p);
        if (pfJournal[jrnl_IRMS_A + p] > m_fINoiseFloor)
            unFlags |= unCurrentFlag;
        else
            unFlags &= ~unCurrentFlag;
    }
    m_pStat->s_unSignalValidFlags = unFlags;
}

void QM9000::processValuesTotals(const TOTAL_CALC_TABLE* ptctTotalCalcTable, unsigned unTableType,
                                 float* pfValues) {
    if (!ptctTotalCalcTable || unTableType >= 3) return;
    const TOTAL_CALC_ENTRY* pEntries = ptctTotalCalcTable->ptceTable[unTableType];
    if (!pEntries) return;
    for (unsigned i = 0; i < ptctTotalCalcTable->unNumEntries[unTableType]; i++) {
        const TOTAL_CALC_ENTRY& entry = pEntries[i];
        const float a = pfValues[entry.unValueOffset[0]];
        const float b = entry.unValueOffset[1] == TOTAL_VALUE_NONE ? 0.0f : pfValues[entry.unValueOffset[1]];
        const float c = entry.unValueOffset[2] == TOTAL_VALUE_NONE ? 0.0f : pfValues[entry.unValueOffset[2]];
        pfValues[entry.unTotalOffset] = (c + b) + a;
    }
}

void QM9000::processValuesEnergyDirection() {
    const float* pfJournal = m_pAcqBuffer->m_fJournal;
    uint16_t unFlags = m_pStat->s_unSignalValidFlags;
    if (pfJournal[jrnl_WATT_A] + pfJournal[jrnl_WATT_B] + pfJournal[jrnl_WATT_C] >= 0.0f)
        unFlags &= ~SIGNAL_REVERSE_POWER;
    else
        unFlags |= SIGNAL_REVERSE_POWER;
    m_pStat->s_unSignalValidFlags = unFlags;
}

uint32_t QM9000::getRawValue(uint16_t unAddress, uint16_t unSizeInBits) {
    if (unSizeInBits == 16) {
        uint16_t unValue = 0;
        m_ADE9000.readReg16(unAddress, unValue);
        return unValue;
    }
    if (unSizeInBits == 32) {
        uint32_t ulValue = 0;
        m_ADE9000.readReg(unAddress, ulValue);
        return ulValue;
    }
    return 0xFFFFFFFF;  // no chip register has another width
}
