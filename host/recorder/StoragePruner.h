// Keeps the event database within its StorageLimits by deleting the oldest of
// what it holds: first the records of the oldest events (their summaries stay,
// marked), then the oldest snapshots; intervals and event summaries are small
// and stay. Counted in the database's `pruned` row.
#pragma once

#include <cstdint>
#include <string>

#include "StorageLimits.h"

struct sqlite3;

class StoragePruner {
public:
    // On a database at the current layout. The bound is also SQLite's
    // max_page_count, so a write that would pass it fails (SQLITE_FULL) as on
    // a full disk, and is handled the same way; a file already larger keeps
    // its pages, and the room made before each write holds the bound.
    void attach(sqlite3* pDb, const std::string& path, const StorageLimits& limits);

    // Before a write of about `llBytes`: prunes until the pages in use and it
    // fit the bound.
    void makeRoom(int64_t llBytes);
    // After a write found no room (the bound or the disk): prunes at least
    // once and until `llBytes` of free pages are there. False when nothing
    // was left to prune.
    bool pruneAfterFull(int64_t llBytes);
    // Inside a write's transaction: deletes the oldest snapshots beyond the
    // cap, counted. False when the database failed.
    bool capSnapshots();

    int64_t usedBytes() const;
    StorageStatus status(bool bWritable) const;

private:
    // The records of the oldest event that has some and is not open, else the
    // oldest snapshot, in a transaction of its own; false when there is
    // nothing left (or the database failed).
    bool pruneOldest();
    // Says, once, that the database prunes.
    void tell();
    int64_t pragma(const char* pszName) const;

    sqlite3* m_pDb = nullptr;
    std::string m_path;
    StorageLimits m_limits;
    bool m_bPruned = false, m_bTold = false;
};
