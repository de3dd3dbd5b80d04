// Follows the module's ring of half-cycle records from outside the module's
// thread: each read takes the records made since the last, oldest first. The
// module writes only the slot at NextIn, so the slots behind it are read
// without a lock; a reader that fell a lap behind (the record it read last
// overwritten) starts again at NextIn and says so.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "RPi.h"

class RingReader {
public:
    explicit RingReader(STATUS_AND_CONTROL& block) : m_block(block) {}
    // Appends the records made since the last read to `records`; true when
    // records were lost since (the module came round over them).
    bool read(std::vector<DATA_ACQ>& records);
    // The slot the next read starts at; any thread.
    unsigned nextToRead() const { return m_unNext.load(); }

private:
    unsigned nextIn() const;

    STATUS_AND_CONTROL& m_block;
    bool m_bStarted = false;
    std::atomic<unsigned> m_unNext{0};
    int64_t m_llLastStamp = 0;  // of the record read last, in the slot before m_unNext
};

// Records from `unFrom` up to the one before `unTo`, modulo the ring.
inline unsigned ringRecordsBetween(unsigned unFrom, unsigned unTo) {
    return (unTo + ACQ_BUFFER_RECORDS - unFrom) % ACQ_BUFFER_RECORDS;
}
