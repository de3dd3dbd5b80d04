// The power-quality rows on their way to the database: a bounded queue, so a
// database that refuses writes (full disk, locked) costs memory only up to
// MAX_PENDING rows, the oldest dropped and counted beyond; writes retried
// with a back-off from 50 ms doubling to 2 s, as the recorder's are.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "PqCounts.h"
#include "PqStorage.h"

class PqRowWriter {
public:
    static constexpr size_t MAX_PENDING = 20000;  // more than a day of 10-second values
    static constexpr size_t ROWS_PER_WRITE = 1000;
    static constexpr int64_t FIRST_RETRY_MICROS = 50000, LAST_RETRY_MICROS = 2000000;
    // Writes a batch; false with `error`, nothing stored.
    using Store = std::function<bool(const std::vector<PqRow>& rows, std::string& error)>;
    using Clock = std::function<int64_t()>;  // microseconds, monotonic

    PqRowWriter(Store store, Clock clock) : m_store(std::move(store)), m_clock(std::move(clock)) {}
    void queue(const PqRow& row, PqCounts& counts);
    // Writes the oldest rows unless backing off; true when it wrote or tried.
    bool writePending(PqCounts& counts);
    // The last tries at a stop: what the database still refuses is dropped.
    void flush(PqCounts& counts);
    size_t pending() const { return m_rows.size(); }

private:
    Store m_store;
    Clock m_clock;
    std::deque<PqRow> m_rows;
    int64_t m_llBackoffMicros = 0, m_llRetryAtMicros = 0;
    bool m_bToldDrop = false;
};
