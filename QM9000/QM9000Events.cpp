// Members of class QM9000 (QM9000.h): the module keeps one source per concern.
// Limit checks on each record while monitoring, and the recording windows they
// open for the host's writer.
#include "QM9000.h"

namespace {

// The host's writer waits for a pending window to be filled: it is once the
// record after its last is being made.
void signalWindowFilled(STATUS_AND_CONTROL& stat) {
    pthread_mutex_lock(&stat.s_mutexEventIDs);
    if (stat.s_unAcqBufferNextWrite != stat.s_unAcqBufferLastWrite &&
        stat.s_unAcqBufferNextIn == stat.s_unAcqBufferLastWrite)
        pthread_cond_signal(&stat.s_condDataAvailable);
    pthread_mutex_unlock(&stat.s_mutexEventIDs);
}

}  // namespace

void QM9000::processEvents() {
    signalWindowFilled(*m_pStat);
    const float* pfJournal = m_pAcqBuffer->m_fJournal;
    uint32_t ulStatus = 0;
    for (int p = 0; p < 3; p++) {
        const uint32_t ulEnable = (m_ulLimitEnable >> (8 * p)) & 0xFF;
        const float fVolts = pfJournal[jrnl_VRMS1_A + p];
        const float fAmps = pfJournal[jrnl_IRMS1_A + p];
        uint32_t ulPhase = 0;
        if ((ulEnable & LIMIT_VOLTS_HIGH) && fVolts > m_fVHigh) ulPhase |= LIMIT_VOLTS_HIGH;
        if ((ulEnable & LIMIT_VOLTS_LOW) && fVolts < m_fVLow) ulPhase |= LIMIT_VOLTS_LOW;
        if ((ulEnable & LIMIT_AMPS_HIGH) && fAmps > m_fIHigh) ulPhase |= LIMIT_AMPS_HIGH;
        if ((ulEnable & LIMIT_AMPS_LOW) && fAmps < m_fILow) ulPhase |= LIMIT_AMPS_LOW;
        ulStatus |= ulPhase << (8 * p);
    }
    if (m_bExpansionTrigger.exchange(false)) ulStatus |= LIMIT_EXTERNAL_TRIGGER;

    m_pAcqBuffer->m_ulLimitStatusBits = ulStatus;
    m_pStat->s_ulLimitStatusBits = ulStatus;

    if (m_bTriggered) {
        if (ulStatus == 0) {  // all limits clear again: record the way out
            openRecordingWindow();
            m_bTriggered = false;
        }
        return;
    }
    if (ulStatus != 0) {
        openRecordingWindow();
        pthread_mutex_lock(&m_pStat->s_mutexLastEventInfo);
        m_pStat->s_eiLastEventInfo.ttEvent = static_cast<time_t>(m_pAcqBuffer->m_tvSeconds);
        m_pStat->s_eiLastEventInfo.ulLimitStatus = ulStatus;
        pthread_mutex_unlock(&m_pStat->s_mutexLastEventInfo);
        m_bTriggered = true;
    }
}

// A window covers the pre-trigger records before the one being filled and the
// window length after it. One still pending for the writer is left as it is.
void QM9000::openRecordingWindow() {
    STATUS_AND_CONTROL& stat = *m_pStat;
    pthread_mutex_lock(&stat.s_mutexEventIDs);
    if (stat.s_unAcqBufferNextWrite != stat.s_unAcqBufferLastWrite) {
        pthread_mutex_unlock(&stat.s_mutexEventIDs);
        return;
    }
    const unsigned unNextWrite =
        (stat.s_unAcqBufferNextIn + 2 * ACQ_BUFFER_RECORDS - m_unPreTrigCycles - 1u) % ACQ_BUFFER_RECORDS;
    stat.s_unAcqBufferNextWrite = static_cast<uint16_t>(unNextWrite);
    stat.s_unAcqBufferLastWrite =
        static_cast<uint16_t>((unNextWrite + m_unTotalTrigCycles + 1u) % ACQ_BUFFER_RECORDS);
    pthread_mutex_unlock(&stat.s_mutexEventIDs);
    pthread_cond_signal(&stat.s_condDataAvailable);
}

int QM9000::realtimeTrigger() {
    m_bExpansionTrigger = true;
    return 0;
}
