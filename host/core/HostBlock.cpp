#include "HostBlock.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr size_t kCondOffsets[] = {
    offsetof(STATUS_AND_CONTROL, s_condDataAvailable), offsetof(STATUS_AND_CONTROL, s_condSnapshotAvailable),
    offsetof(STATUS_AND_CONTROL, s_condBacNetReady), offsetof(STATUS_AND_CONTROL, s_condBuzzer),
    offsetof(STATUS_AND_CONTROL, s_condDBCleanup)};
constexpr size_t kFirstMutex = offsetof(STATUS_AND_CONTROL, s_mutexClosing);
constexpr size_t kMutexCount = 17;
}  // namespace

pthread_mutex_t* blockMutex(STATUS_AND_CONTROL& stat, size_t offset) {
    return reinterpret_cast<pthread_mutex_t*>(reinterpret_cast<char*>(&stat) + offset);
}

pthread_cond_t* blockCond(STATUS_AND_CONTROL& stat, size_t offset) {
    return reinterpret_cast<pthread_cond_t*>(reinterpret_cast<char*>(&stat) + offset);
}

HostBlockPtr makeHostBlock() {
    // Aligned for the conditions and mutexes it holds; zeroed like static storage.
    void* pMemory = std::aligned_alloc(alignof(pthread_cond_t),
                                       (sizeof(STATUS_AND_CONTROL) + alignof(pthread_cond_t) - 1) /
                                           alignof(pthread_cond_t) * alignof(pthread_cond_t));
    if (!pMemory) throw std::bad_alloc();
    memset(pMemory, 0, sizeof(STATUS_AND_CONTROL));
    auto* pStat = static_cast<STATUS_AND_CONTROL*>(pMemory);
    for (size_t offset : kCondOffsets) pthread_cond_init(blockCond(*pStat, offset), nullptr);
    for (size_t i = 0; i < kMutexCount; i++)
        pthread_mutex_init(blockMutex(*pStat, kFirstMutex + i * sizeof(pthread_mutex_t)), nullptr);
    return HostBlockPtr(pStat);
}

void HostBlockDeleter::operator()(STATUS_AND_CONTROL* pStat) const {
    if (!pStat) return;
    for (size_t offset : kCondOffsets) pthread_cond_destroy(blockCond(*pStat, offset));
    for (size_t i = 0; i < kMutexCount; i++)
        pthread_mutex_destroy(blockMutex(*pStat, kFirstMutex + i * sizeof(pthread_mutex_t)));
    std::free(pStat);
}

PublishedRecord readPublished(STATUS_AND_CONTROL& stat) {
    PublishedRecord published{};
    pthread_mutex_t* pMutex = QM_BLOCK_MUTEX(stat, s_mutexAcqBuffer);
    pthread_mutex_lock(pMutex);
    published.unIndex = stat.s_unAcqBufferUI;
    published.unNextIn = stat.s_unAcqBufferNextIn;
    published.record = stat.s_AcquisitionBuffer[published.unIndex % ACQ_BUFFER_RECORDS];
    pthread_mutex_unlock(pMutex);
    return published;
}
