#include "RecordingWriter.h"

unsigned RecordingWriter::drain() {
    pthread_mutex_lock(&m_stat.s_mutexEventIDs);
    const uint16_t unNext = m_stat.s_unAcqBufferNextWrite;
    const uint16_t unLast = m_stat.s_unAcqBufferLastWrite;
    unsigned unStored = 0;
    if (unNext != unLast) {
        unStored = (unLast + ACQ_BUFFER_RECORDS - unNext) % ACQ_BUFFER_RECORDS;
        m_stat.s_unAcqBufferNextWrite = unLast;  // the window is written
        m_unWindows++;
        m_ulRecords += unStored;
    }
    pthread_mutex_unlock(&m_stat.s_mutexEventIDs);
    return unStored;
}
