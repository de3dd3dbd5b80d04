#include "StoragePruner.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

Statement prepare(sqlite3* pDb, const char* pszSql) {
    sqlite3_stmt* pStatement = nullptr;
    sqlite3_prepare_v2(pDb, pszSql, -1, &pStatement, nullptr);
    return Statement(pStatement, sqlite3_finalize);
}

// The first column of the statement's first row; -1 when there is none.
int64_t single(const Statement& statement) {
    return statement && sqlite3_step(statement.get()) == SQLITE_ROW ? sqlite3_column_int64(statement.get(), 0)
                                                                    : -1;
}

bool step(const Statement& statement, int64_t llId) {
    if (!statement) return false;
    sqlite3_bind_int64(statement.get(), 1, llId);
    return sqlite3_step(statement.get()) == SQLITE_DONE;
}

bool execute(sqlite3* pDb, const char* pszSql) {
    return sqlite3_exec(pDb, pszSql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace

void StoragePruner::attach(sqlite3* pDb, const std::string& path, const StorageLimits& limits) {
    m_pDb = pDb;
    m_path = path;
    m_limits = limits;
    m_bPruned = m_bTold = false;
    // Never above a limit already set (a disk's, in a test), never below the
    // pages the file has (SQLite keeps those and reuses them).
    const int64_t llPages =
        std::min(std::max<int64_t>(limits.llMaxBytes / std::max<int64_t>(pragma("page_size"), 1), 1),
                 pragma("max_page_count"));
    execute(pDb, ("PRAGMA max_page_count = " + std::to_string(llPages)).c_str());
}

int64_t StoragePruner::pragma(const char* pszName) const {
    return single(prepare(m_pDb, (std::string("PRAGMA ") + pszName).c_str()));
}

int64_t StoragePruner::usedBytes() const {
    return (pragma("page_count") - pragma("freelist_count")) * pragma("page_size");
}

void StoragePruner::makeRoom(int64_t llBytes) {
    while (usedBytes() + llBytes > m_limits.llMaxBytes && pruneOldest()) continue;
    tell();
}

bool StoragePruner::pruneAfterFull(int64_t llBytes) {
    bool bPruned = false;
    while (pruneOldest()) {
        bPruned = true;
        if (pragma("freelist_count") * pragma("page_size") >= llBytes) break;
    }
    tell();
    return bPruned;
}

// An hour of 10-second frequency values, or six 10-minute and 2-hour values,
// at a time: pruning row by row would take a transaction each.
constexpr int FREQUENCY_BATCH = 360, INTERVAL_BATCH = 6;
// The frequency values of the newest five weeks stay while anything else can go.
constexpr int64_t FREQUENCY_KEPT_MICROS = int64_t{5} * 7 * 86400 * 1000000;

// Deletes the oldest `nRows` of `pszTable` by start_us (older than `llBefore`),
// counted in pruned.pq_rows; false when there were none.
static bool deleteOldest(sqlite3* pDb, const char* pszTable, int nRows, int64_t llBefore) {
    const std::string sql = std::string("DELETE FROM ") + pszTable + " WHERE rowid IN (SELECT rowid FROM " +
                            pszTable + " WHERE start_us < ? ORDER BY start_us LIMIT " +
                            std::to_string(nRows) + ")";
    if (!step(prepare(pDb, sql.c_str()), llBefore)) return false;
    const int nDeleted = sqlite3_changes(pDb);
    return nDeleted > 0 &&
           execute(pDb, ("UPDATE pruned SET pq_rows = pq_rows + " + std::to_string(nDeleted)).c_str());
}

bool StoragePruner::pruneOldest() {
    if (!execute(m_pDb, "BEGIN IMMEDIATE")) return false;
    const int64_t llNewestFrequency = single(prepare(m_pDb, "SELECT max(start_us) FROM pq_frequency"));
    // The frequency values beyond five weeks first, then the events' records,
    // the snapshots, the other frequency values and the 10-minute and 2-hour values.
    bool bDone =
        deleteOldest(m_pDb, "pq_frequency", FREQUENCY_BATCH, llNewestFrequency - FREQUENCY_KEPT_MICROS);
    if (bDone) {
        if (execute(m_pDb, "COMMIT")) return m_bPruned = true;
        execute(m_pDb, "ROLLBACK");
        return false;
    }
    const int64_t llEvent = single(prepare(
        m_pDb,
        "SELECT id FROM events WHERE records_pruned = 0 AND open = 0 AND records > 0 ORDER BY id LIMIT 1"));
    if (llEvent > 0) {
        bDone = step(prepare(m_pDb, "DELETE FROM records WHERE event_id = ?"), llEvent) &&
                step(prepare(m_pDb, "UPDATE events SET records_pruned = 1 WHERE id = ?"), llEvent) &&
                execute(m_pDb, "UPDATE pruned SET events = events + 1");
    } else {
        const int64_t llSnapshot = single(prepare(m_pDb, "SELECT id FROM snapshots ORDER BY id LIMIT 1"));
        bDone = llSnapshot > 0 && step(prepare(m_pDb, "DELETE FROM snapshots WHERE id = ?"), llSnapshot) &&
                execute(m_pDb, "UPDATE pruned SET snapshots = snapshots + 1");
    }
    bDone = bDone || deleteOldest(m_pDb, "pq_frequency", FREQUENCY_BATCH, INT64_MAX) ||
            deleteOldest(m_pDb, "pq_intervals", INTERVAL_BATCH, INT64_MAX);
    if (bDone && execute(m_pDb, "COMMIT")) return m_bPruned = true;
    execute(m_pDb, "ROLLBACK");
    return false;
}

bool StoragePruner::capSnapshots() {
    Statement remove = prepare(m_pDb,
                               "DELETE FROM snapshots WHERE id <= "
                               "(SELECT id FROM snapshots ORDER BY id DESC LIMIT 1 OFFSET ?)");
    if (!step(remove, m_limits.nMaxSnapshots)) return false;
    const int nRemoved = sqlite3_changes(m_pDb);
    return nRemoved == 0 ||
           execute(m_pDb, ("UPDATE pruned SET snapshots = snapshots + " + std::to_string(nRemoved)).c_str());
}

void StoragePruner::tell() {
    if (m_bTold || !m_bPruned) return;
    // Once a connection: at its bound a database prunes on every write.
    fprintf(
        stderr,
        "qmhost: %s: at its bound of %lld bytes: the records of the oldest events (their summaries stay), "
        "then the oldest snapshots, make room for new ones\n",
        m_path.c_str(), static_cast<long long>(m_limits.llMaxBytes));
    m_bTold = true;
}

StorageStatus StoragePruner::status(bool bWritable) const {
    StorageStatus status;
    status.path = m_path;
    status.llUsedBytes = usedBytes();
    status.llMaxBytes = m_limits.llMaxBytes;
    Statement counts = prepare(m_pDb, "SELECT events, snapshots, pq_rows FROM pruned");
    if (counts && sqlite3_step(counts.get()) == SQLITE_ROW) {
        status.llPrunedEvents = sqlite3_column_int64(counts.get(), 0);
        status.llPrunedSnapshots = sqlite3_column_int64(counts.get(), 1);
        status.llPrunedPqRows = sqlite3_column_int64(counts.get(), 2);
    }
    status.bWritable = bWritable;
    return status;
}
