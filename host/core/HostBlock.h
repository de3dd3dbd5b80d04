// The host's STATUS_AND_CONTROL block: allocated zeroed, its conditions and
// mutexes initialised, released with them destroyed.
#pragma once

#include <memory>

#include "RPi.h"

struct HostBlockDeleter {
    void operator()(STATUS_AND_CONTROL* pStat) const;
};
using HostBlockPtr = std::unique_ptr<STATUS_AND_CONTROL, HostBlockDeleter>;

HostBlockPtr makeHostBlock();

// The block is packed, but its conditions and mutexes sit at offsets aligned
// for their types (the board layout checks pin them); reach them through these.
pthread_mutex_t* blockMutex(STATUS_AND_CONTROL& stat, size_t offset);
pthread_cond_t* blockCond(STATUS_AND_CONTROL& stat, size_t offset);
#define QM_BLOCK_MUTEX(stat, member) blockMutex((stat), offsetof(STATUS_AND_CONTROL, member))
#define QM_BLOCK_COND(stat, member) blockCond((stat), offsetof(STATUS_AND_CONTROL, member))

// The newest published record and its index, read under s_mutexAcqBuffer.
struct PublishedRecord {
    uint16_t unIndex;
    uint16_t unNextIn;
    DATA_ACQ record;
};
PublishedRecord readPublished(STATUS_AND_CONTROL& stat);
