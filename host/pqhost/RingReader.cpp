#include "RingReader.h"

#include "HostBlock.h"

namespace {

int64_t stampOf(const DATA_ACQ& record) {
    return int64_t{record.m_tvSeconds} * 1000000 + record.m_tvMicroSeconds;
}

}  // namespace

unsigned RingReader::nextIn() const {
    pthread_mutex_lock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
    const unsigned unNextIn = m_block.s_unAcqBufferNextIn;
    pthread_mutex_unlock(QM_BLOCK_MUTEX(m_block, s_mutexAcqBuffer));
    return unNextIn % ACQ_BUFFER_RECORDS;
}

bool RingReader::read(std::vector<DATA_ACQ>& records) {
    const unsigned unEnd = nextIn();
    if (!m_bStarted) {  // what the ring held before is no concern of a reader that starts now
        m_bStarted = true;
        m_unNext = unEnd;
        return false;
    }
    const unsigned unFirst = m_unNext.load();
    const unsigned unLast = (unFirst + ACQ_BUFFER_RECORDS - 1) % ACQ_BUFFER_RECORDS;
    // The module has been round when the record read last is no longer there.
    const bool bLapped = m_llLastStamp != 0 && stampOf(m_block.s_AcquisitionBuffer[unLast]) != m_llLastStamp;
    const size_t first = records.size();
    if (!bLapped)
        for (unsigned n = unFirst; n != unEnd; n = (n + 1) % ACQ_BUFFER_RECORDS)
            records.push_back(m_block.s_AcquisitionBuffer[n]);
    // Whole when the module did not reach the first of them while they were copied.
    const unsigned unMade = ringRecordsBetween(unEnd, nextIn());
    if (bLapped || unMade + ringRecordsBetween(unFirst, unEnd) + 1 >= ACQ_BUFFER_RECORDS) {
        records.resize(first);
        m_unNext = nextIn();
        m_llLastStamp = 0;
        return true;
    }
    if (records.size() > first) m_llLastStamp = stampOf(records.back());
    m_unNext = unEnd;
    return false;
}
