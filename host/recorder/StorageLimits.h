// What the event database may take of the disk, and what it has given up to
// stay within that.
#pragma once

#include <cstdint>
#include <string>

// The bound is on the pages in use in the database file: (page_count -
// freelist_count) x page_size. SQLite never shrinks the file by deleting, but
// reuses its free pages before it grows, so pruning makes room without a
// VACUUM. The write-ahead log is not counted: it is checkpointed every 1000
// pages and cut back to 4 MiB after (see EventDatabase::open).
struct StorageLimits {
    static constexpr int64_t DEFAULT_MAX_BYTES = int64_t{1024} << 20;
    static constexpr int DEFAULT_MAX_SNAPSHOTS = 500;
    int64_t llMaxBytes = DEFAULT_MAX_BYTES;
    int nMaxSnapshots = DEFAULT_MAX_SNAPSHOTS;  // the oldest beyond are deleted
};

// For the page's status report.
struct StorageStatus {
    std::string path;
    int64_t llUsedBytes = 0, llMaxBytes = 0;
    // Since the database was made: events whose records were deleted (their
    // summaries stay), snapshots deleted by the bound or the cap.
    int64_t llPrunedEvents = 0, llPrunedSnapshots = 0;
    int64_t llPrunedPqRows = 0;  // power-quality values deleted, oldest first
    bool bWritable = false;
};
