// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Waveform-buffer offset: the DC offset of the voltage samples, measured over
// one full buffer. It is no chip register: saved and pushed, it becomes the
// count the scope conversion subtracts from every voltage sample.
#include <cstdio>

#include "BoardIO.h"
#include "CalibrationMath.h"
#include "QM9000CalibrateSteps.h"

namespace {
constexpr uint32_t CAPTURE_TIMEOUT_MILLIS = 2000;
constexpr const char* WFBOS_NAME = "WFBOS";
}  // namespace

int QM9000::processCalWFBOS() {
    CalFrame frame("processCalWFBOS");
    const uint32_t ulStartMillis = millis();

    // A fresh capture with every other buffer setting at zero.
    m_ADE9000.writeReg(reg9000::STATUS0, STATUS0_PAGE_FULL);
    m_ADE9000.clearRegBits16(reg9000::WFB_CFG, WFB_CFG_CAPTURE);
    m_ADE9000.writeReg16(reg9000::WFB_CFG, 0x0000);
    m_ADE9000.setRegBits16(reg9000::WFB_CFG, WFB_CFG_CAPTURE);

    uint32_t ulStatus0 = 0;
    m_ADE9000.readReg(reg9000::STATUS0, ulStatus0);
    while ((ulStatus0 & STATUS0_PAGE_FULL) == 0) {
        if (millis() - ulStartMillis > CAPTURE_TIMEOUT_MILLIS) {
            printf("processCalWFBOS() - timed out");
            return CAL_BAD_INPUT;  // capture left on, nothing pending
        }
        m_ADE9000.readReg(reg9000::STATUS0, ulStatus0);
    }

    const ADE9000_WAVEFORM_RECV_BUFFER* pBuffer = m_ADE9000.readWaveforms();
    const int32_t lAccum = calmath::waveformOffset(*pBuffer);

    m_ADE9000.writeReg(reg9000::STATUS0, STATUS0_PAGE_FULL);
    m_ADE9000.clearRegBits16(reg9000::WFB_CFG, WFB_CFG_CAPTURE);

    printf("WFB Offset(Counts): %d\n", lAccum);
    calSetPending(m_Cal9000, WFBOS_NAME, static_cast<uint32_t>(lAccum), static_cast<float>(lAccum));
    return frame.end(CAL_DONE);
}
