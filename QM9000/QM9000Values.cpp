// Scaling factors, input routing and the per-record value conversion.
#include <cstdio>

#include "QM9000.h"

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

// ADC_REDIRECT words per input order code: voltage part, current part.
constexpr uint32_t VOLTAGE_ROUTING[6] = {0x1FFE00, 0x177E00, 0x1E5E00, 0x135E00, 0x166E00, 0x13EE00};
constexpr uint32_t CURRENT_ROUTING[6] = {0x1FF, 0x057, 0x1C1, 0x011, 0x042, 0x03A};
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

// TEMPORARY: only the burst read; conversion, blanking and totals land with the
// measurement engine.
void QM9000::processValues() {
    m_ADE9000.readValues();
}
