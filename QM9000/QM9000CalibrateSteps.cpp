// Declared in QM9000CalibrateSteps.h; calWaitEGYRDY and calPrintLSBs with class QM9000 in QM9000.h.
// Steps the calibration procedures share: frame, sampling, energy intervals.
#include "QM9000CalibrateSteps.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "BoardIO.h"
#include "CalibrationMath.h"

namespace {

constexpr const char* BANNER = "=================================================================\r";
constexpr uint16_t EP_CFG_INTERVAL_ENERGY = 0x0011;  // energy of each interval alone, accumulation on
constexpr uint16_t EGY_TIME_8000_SAMPLES = 7999;
constexpr uint16_t POLLS_PER_SECOND = 100;  // interval waits poll every 10 ms
constexpr unsigned POLL_MILLIS = 10;
constexpr size_t CAL_NAME_FIELD = 16;  // the store holds names of at most 15 characters

// Not a number prints as "nan" whatever its sign bit.
double shown(double dValue) {
    return std::isnan(dValue) ? std::fabs(dValue) : dValue;
}

bool energyReady(ADE_9000& chip) {
    uint32_t ulStatus0 = 0;
    chip.readReg(reg9000::STATUS0, ulStatus0);
    return (ulStatus0 & STATUS0_EGYRDY) != 0;
}

}  // namespace

CalFrame::CalFrame(const char* pszName) : m_pszName(pszName), m_ulStartMillis(millis()) {
    puts(BANNER);
    printf("\r\n%s: Begin \r\n", m_pszName);
}

int CalFrame::end(int nResult) {
    printf("\r\n%s: End (%ld msec)\r\n", m_pszName, static_cast<long>(millis() - m_ulStartMillis));
    puts(BANNER);
    return nResult;
}

uint32_t calSample(ADE_9000& chip, uint16_t unAddress, int nReads) {
    uint32_t ulValue = 0;
    for (int i = 0; i < nReads; i++) chip.readReg(unAddress, ulValue);
    return ulValue;
}

uint32_t calAverageUnsigned(ADE_9000& chip, uint16_t unAddress, int nSamples, int nReads,
                            unsigned unWaitMillis) {
    uint64_t ullSum = 0;
    for (int i = 0; i < nSamples; i++) {
        ullSum += calSample(chip, unAddress, nReads);
        delay(unWaitMillis);
    }
    return static_cast<uint32_t>(ullSum / static_cast<uint64_t>(nSamples));
}

int32_t calAverageSigned(ADE_9000& chip, uint16_t unAddress, int nSamples, int nReads,
                         unsigned unWaitMillis) {
    int64_t llSum = 0;
    for (int i = 0; i < nSamples; i++) {
        llSum += static_cast<int32_t>(calSample(chip, unAddress, nReads));
        delay(unWaitMillis);
    }
    return static_cast<int32_t>(llSum / nSamples);
}

void calSetupEnergyInterval(ADE_9000& chip) {
    chip.writeReg16(reg9000::EP_CFG, EP_CFG_INTERVAL_ENERGY);
    chip.writeReg16(reg9000::EGY_TIME, EGY_TIME_8000_SAMPLES);
}

void calSetPending(Cal9000& cal, const char* pszName, uint32_t ulValue, float fValue) {
    char szName[CAL_NAME_FIELD] = {};
    strncpy(szName, pszName, sizeof(szName) - 1);
    cal.setPending(szName, ulValue, fValue);
}

bool calAppliedUsable(const char* pszLead, const char* pszProcedure, const char* pszQuantity, float fValue) {
    if (calmath::usableApplied(fValue)) return true;
    if (fValue == 0.0f)
        printf("%s%s: No calibration %s specified \r\n", pszLead, pszProcedure, pszQuantity);
    else
        printf("%s%s: Calibration %s out of range (%f) \r\n", pszLead, pszProcedure, pszQuantity,
               shown(fValue));
    return false;
}

namespace {
bool refuse(const char* pszProcedure, const char* pszName, double dValue) {
    printf("%s: %s out of range (%f) \r\n", pszProcedure, pszName, shown(dValue));
    return false;
}
}  // namespace

bool calGainUsable(const char* pszProcedure, const char* pszName, double dGain) {
    return calmath::usableGain(dGain) || refuse(pszProcedure, pszName, dGain);
}

bool calFitsRegister(const char* pszProcedure, const char* pszName, double dValue) {
    return fitsRegisterS32(dValue) || refuse(pszProcedure, pszName, dValue);
}

void CalPendingValues::add(const char* pszName, uint32_t ulValue, float fValue) {
    Value value{{}, ulValue, fValue};
    strncpy(value.name.data(), pszName, value.name.size() - 1);
    m_values.push_back(value);
}

void CalPendingValues::commit(Cal9000& cal) const {
    for (const Value& value : m_values) calSetPending(cal, value.name.data(), value.ulValue, value.fValue);
    cal.pushPendingCal();
}

CalPath calActivePath(const STATUS_AND_CONTROL& stat) {
    CalPath path{};
    memcpy(path.data(), stat.s_pszActiveCal, sizeof(stat.s_pszActiveCal));
    return path;
}

// Two interval ends after the wait began, so the energy registers then hold
// an interval accumulated entirely within the wait. A time-out only shows in
// the log; callers go on with the registers as they stand.
bool QM9000::calWaitEGYRDY(uint16_t unSecsTimeout) {
    const uint16_t unPolls = static_cast<uint16_t>(unSecsTimeout * POLLS_PER_SECOND);
    uint16_t unTimeout = unPolls;
    const uint32_t ulStartMillis = millis();
    long lPollCount = 0;
    bool bTimeout = false;

    m_ADE9000.writeReg(reg9000::STATUS0, STATUS0_EGYRDY);
    delay(1);
    bool bReady = energyReady(m_ADE9000);
    while (!bReady && unTimeout != 0) {
        delay(POLL_MILLIS);
        bReady = energyReady(m_ADE9000);
        unTimeout--;
    }
    if (unTimeout == 0) {
        puts("calWaitEGYRDY: No first EGYRDY received\r");
        return false;
    }

    unTimeout = unPolls;
    m_ADE9000.writeReg(reg9000::STATUS0, STATUS0_EGYRDY);
    puts("calWaitEGYRDY: Received first EGYRDY\r");
    bReady = energyReady(m_ADE9000);
    while (!bReady && unTimeout != 0) {
        delay(POLL_MILLIS);
        bReady = energyReady(m_ADE9000);
        lPollCount++;
        unTimeout--;
    }
    if (bReady) {
        puts("calWaitEGYRDY: Received second EGYRDY\r");
    } else {
        puts("calWaitEGYRDY: No second EGYRDY received\r");
        bTimeout = true;
    }
    printf("calWaitEGYRDY: %ld msec (Timeouts:%ld,%ld)\r\n", static_cast<long>(millis() - ulStartMillis),
           lPollCount, static_cast<long>(unPolls));
    return !bTimeout;
}

void QM9000::calPrintLSBs() {
    printf("\r\nVolts LSB:  %f\r\n", static_cast<double>(m_fVolts_LSB));
    printf("Amps LSB:   %f\r\n", static_cast<double>(m_fAmps_LSB));
    printf("Power LSB:  %f\r\n", static_cast<double>(m_fPMAX_LSB));
    printf("Energy LSB: %f\r\n", static_cast<double>(m_fEnergy_LSB));
}
