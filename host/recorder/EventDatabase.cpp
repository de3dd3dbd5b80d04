#include "EventDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "AppFiles.h"
#include "EventSchema.h"

namespace {

constexpr int BUSY_WAIT_MILLIS = 100;  // another writer: the caller retries later
// What a write takes, roughly, for the room made before it.
constexpr int64_t ROW_BYTES = 64, RECORD_BYTES = sizeof(StoredRecord::values) + ROW_BYTES;
constexpr int64_t INTERVAL_BYTES = 1024, COUNTER_BYTES = ROW_BYTES,
                  SNAPSHOT_BYTES = sizeof(StoredSnapshot::samples) + ROW_BYTES;
// The write-ahead log is cut back to this after a checkpoint (every 1000 pages).
constexpr int64_t WAL_KEPT_BYTES = 4 << 20;

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

Statement prepare(sqlite3* pDb, const std::string& sql) {
    sqlite3_stmt* pStatement = nullptr;
    sqlite3_prepare_v2(pDb, sql.c_str(), -1, &pStatement, nullptr);
    return Statement(pStatement, sqlite3_finalize);
}

const char* text(sqlite3_stmt* pStatement, int nColumn) {
    const unsigned char* pszText = sqlite3_column_text(pStatement, nColumn);
    return pszText ? reinterpret_cast<const char*>(pszText) : "";
}

}  // namespace

std::string defaultEventDatabasePath() {
    return appDirectory() + "/qm9000.db";
}

EventDatabase::~EventDatabase() {
    close();
}

void EventDatabase::close() {
    if (m_pDb) sqlite3_close(m_pDb);
    m_pDb = nullptr;
    m_bWritable = false;
    m_bSyncsEveryWrite = false;
}

std::string EventDatabase::lastError() const {
    return m_pDb ? sqlite3_errmsg(m_pDb) : "no database";
}

bool EventDatabase::failed(std::string& error) {
    m_nFailure = sqlite3_errcode(m_pDb) & 0xff;
    error = lastError();
    return false;
}

bool EventDatabase::execute(const char* pszSql, std::string& error) {
    char* pszError = nullptr;
    const int nResult = sqlite3_exec(m_pDb, pszSql, nullptr, nullptr, &pszError);
    if (nResult == SQLITE_OK) return true;
    m_nFailure = nResult & 0xff;
    error = pszError ? pszError : lastError();
    sqlite3_free(pszError);
    return false;
}

bool EventDatabase::open(const std::string& path, std::string& error, const StorageLimits& limits) {
    close();
    m_path = path;
    sqlite3* pDb = nullptr;
    // A URI ("file:...?mode=ro") names a database too. A file SQLite may not
    // write it opens read-only by itself; one it cannot create or open for
    // writing (a read-only directory) is tried read-only.
    constexpr int FLAGS = SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_URI;
    int nResult =
        sqlite3_open_v2(path.c_str(), &pDb, FLAGS | SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (nResult != SQLITE_OK) {
        sqlite3_close(pDb);
        pDb = nullptr;
        nResult = sqlite3_open_v2(path.c_str(), &pDb, FLAGS | SQLITE_OPEN_READONLY, nullptr);
    }
    if (nResult != SQLITE_OK) {
        const int nErrno = pDb ? sqlite3_system_errno(pDb) : 0;
        error = path + ": " + (pDb ? sqlite3_errmsg(pDb) : "cannot open") +
                (nErrno ? std::string(" (") + strerror(nErrno) + ")" : "");
        sqlite3_close(pDb);
        return false;
    }
    m_pDb = pDb;
    m_bWritable = sqlite3_db_readonly(m_pDb, "main") == 0;
    sqlite3_busy_timeout(m_pDb, BUSY_WAIT_MILLIS);
    std::string note;
    const std::string walSettings =
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA journal_size_limit=" +
        std::to_string(WAL_KEPT_BYTES) + ";";
    if ((m_bWritable && !execute(walSettings.c_str(), error)) ||
        !upgradeEventSchema(m_pDb, m_bWritable, error, note)) {
        error = path + ": " + error;
        close();
        return false;
    }
    if (!note.empty()) fprintf(stderr, "qmhost: %s: %s\n", path.c_str(), note.c_str());
    // Nothing is pruned before a write: a reader (the export) never deletes.
    m_pruner.attach(m_pDb, path, limits);
    return true;
}

int EventDatabase::probeWrite(std::string& why) {
    if (!m_pDb) return why = lastError(), SQLITE_CANTOPEN;
    if (!m_bWritable) return why = "it is read-only", SQLITE_READONLY;
    if (!execute("BEGIN IMMEDIATE", why)) return m_nFailure;
    const bool bWritten = execute("UPDATE pruned SET events = events", why);
    const int nResult = bWritten ? SQLITE_OK : m_nFailure;
    std::string ignored;
    execute("ROLLBACK", ignored);
    return nResult;
}

bool EventDatabase::checkWritable(std::string& error) {
    std::string why;
    // Busy: another connection is writing, so it can be written (later).
    const int nResult = probeWrite(why) & 0xff;
    if (nResult == SQLITE_OK || nResult == SQLITE_BUSY || nResult == SQLITE_LOCKED) return true;
    error = m_path + ": events cannot be stored: " + why;
    return false;
}

StorageStatus EventDatabase::storageStatus() {
    if (m_pDb) return m_pruner.status(m_bWritable);
    StorageStatus status;
    status.path = m_path;
    return status;
}

bool EventDatabase::write(int64_t llBytes, const Write& body, std::string& error) {
    if (!m_pDb) return error = lastError(), false;
    if (!m_bWritable) return error = m_path + " is read-only", false;
    m_pruner.makeRoom(llBytes);
    for (;;) {
        if (!execute("BEGIN IMMEDIATE", error)) return false;
        m_nFailure = SQLITE_OK;
        if (body(error) && execute("COMMIT", error)) return true;
        const int nFailure = m_nFailure;
        std::string ignored;
        execute("ROLLBACK", ignored);
        // No room (the bound or the disk): the oldest make way, then again.
        if (nFailure != SQLITE_FULL || !m_pruner.pruneAfterFull(llBytes)) return false;
    }
}

bool EventDatabase::insertRecords(int64_t llId, int64_t llFirstSeq, const std::vector<StoredRecord>& records,
                                  std::string& error) {
    Statement insert = prepare(
        m_pDb, "INSERT INTO records(event_id, seq, time_us, limit_status, journal) VALUES(?,?,?,?,?)");
    if (!insert) return failed(error);
    for (size_t i = 0; i < records.size(); i++) {
        sqlite3_stmt* p = insert.get();
        sqlite3_reset(p);
        sqlite3_bind_int64(p, 1, llId);
        sqlite3_bind_int64(p, 2, llFirstSeq + static_cast<int64_t>(i));
        sqlite3_bind_int64(p, 3, records[i].llTimeMicros);
        sqlite3_bind_int64(p, 4, records[i].ulLimitStatus);
        sqlite3_bind_blob(p, 5, records[i].values.data(), sizeof(records[i].values), SQLITE_STATIC);
        if (sqlite3_step(p) != SQLITE_DONE) return failed(error);
    }
    return true;
}

bool EventDatabase::storeEvent(StoredEvent& event, std::string& error) {
    int64_t llId = 0;
    const auto body = [&](std::string& why) {
        Statement insert = prepare(m_pDb,
                                   "INSERT INTO events(start_us, end_us, trigger_us, trigger_status, "
                                   "classification, phases, extreme, duration_us, records, open) "
                                   "VALUES(?,?,?,?,?,?,?,?,?,?)");
        if (!insert) return failed(why);
        sqlite3_stmt* p = insert.get();
        sqlite3_bind_int64(p, 1, event.llStartMicros);
        sqlite3_bind_int64(p, 2, event.llEndMicros);
        sqlite3_bind_int64(p, 3, event.llTriggerMicros);
        sqlite3_bind_int64(p, 4, event.ulTriggerStatus);
        sqlite3_bind_text(p, 5, event.classification.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(p, 6, event.phases.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(p, 7, event.dExtreme);
        sqlite3_bind_int64(p, 8, event.llDurationMicros);
        sqlite3_bind_int64(p, 9, static_cast<int64_t>(event.records.size()));
        sqlite3_bind_int(p, 10, event.bOpen);
        if (sqlite3_step(p) != SQLITE_DONE) return failed(why);
        llId = sqlite3_last_insert_rowid(m_pDb);
        return insertRecords(llId, 0, event.records, why) &&
               linkPqEvents(llId, event.llStartMicros, event.llEndMicros, why);
    };
    if (!write(ROW_BYTES + RECORD_BYTES * static_cast<int64_t>(event.records.size()), body, error))
        return false;
    event.llId = llId;
    return true;
}

bool EventDatabase::extendEvent(int64_t llId, const StoredEvent& event, std::string& error) {
    const auto body = [&](std::string& why) {
        Statement count = prepare(m_pDb, "SELECT records FROM events WHERE id = ?");
        Statement update =
            prepare(m_pDb,
                    "UPDATE events SET end_us = ?, classification = ?, phases = ?, extreme = ?, "
                    "duration_us = ?, records = records + ?, open = ? WHERE id = ?");
        if (!count || !update) return failed(why);
        sqlite3_bind_int64(count.get(), 1, llId);
        const int nStep = sqlite3_step(count.get());
        if (nStep != SQLITE_ROW)
            return nStep == SQLITE_DONE ? (why = "no event " + std::to_string(llId), false) : failed(why);
        const int64_t llStored = sqlite3_column_int64(count.get(), 0);
        sqlite3_stmt* p = update.get();
        sqlite3_bind_int64(p, 1, event.llEndMicros);
        sqlite3_bind_text(p, 2, event.classification.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(p, 3, event.phases.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(p, 4, event.dExtreme);
        sqlite3_bind_int64(p, 5, event.llDurationMicros);
        sqlite3_bind_int64(p, 6, static_cast<int64_t>(event.records.size()));
        sqlite3_bind_int(p, 7, event.bOpen);
        sqlite3_bind_int64(p, 8, llId);
        if (sqlite3_step(p) != SQLITE_DONE) return failed(why);
        return insertRecords(llId, llStored, event.records, why) &&
               linkPqEvents(llId, event.llStartMicros, event.llEndMicros, why);
    };
    return write(RECORD_BYTES * static_cast<int64_t>(event.records.size()), body, error);
}

bool EventDatabase::linkPqEvents(int64_t llId, int64_t llStartMicros, int64_t llEndMicros,
                                 std::string& error) {
    Statement link = prepare(m_pDb,
                             "UPDATE pq_events SET recorder_event_id = ? WHERE recorder_event_id IS NULL AND "
                             "start_us <= ? AND start_us + duration_us >= ?");
    if (!link) return failed(error);
    sqlite3_bind_int64(link.get(), 1, llId);
    sqlite3_bind_int64(link.get(), 2, llEndMicros);
    sqlite3_bind_int64(link.get(), 3, llStartMicros);
    return sqlite3_step(link.get()) == SQLITE_DONE || failed(error);
}

bool EventDatabase::writeTransaction(int64_t llBytes, const Transaction& body, std::string& error) {
    return write(
        llBytes,
        [&](std::string& why) {
            if (body(m_pDb, why)) return true;
            m_nFailure = sqlite3_errcode(m_pDb) & 0xff;
            return false;
        },
        error);
}

bool EventDatabase::closeOpenEvents(std::string& error) {
    return write(
        0,
        [&](std::string& why) {
            return execute("UPDATE events SET incomplete = 1, open = 0 WHERE open = 1", why);
        },
        error);
}

bool EventDatabase::storeInterval(const ACCUMULATOR_DATA& interval, std::string& error) {
    const auto body = [&](std::string& why) {
        Statement insert = prepare(m_pDb, intervalInsert());
        if (!insert) return failed(why);
        bindInterval(insert.get(), 2, static_cast<int64_t>(interval.m_ttStartTime) * 1000000, interval);
        return sqlite3_step(insert.get()) == SQLITE_DONE || failed(why);
    };
    return write(INTERVAL_BYTES, body, error);
}

bool EventDatabase::found(int nStep, const std::string& missing, std::string& error) {
    m_bMissed = nStep == SQLITE_DONE;
    if (nStep == SQLITE_ROW) return true;
    error = m_bMissed ? missing : lastError();
    return false;
}

bool EventDatabase::loadEvent(int64_t llId, StoredEvent& event, std::string& error) {
    m_bMissed = false;
    if (!m_pDb) return error = lastError(), false;
    Statement selectEvent = prepare(m_pDb, (std::string(EVENT_COLUMNS) + "WHERE id = ?").c_str());
    Statement selectRecords =
        prepare(m_pDb, "SELECT time_us, limit_status, journal FROM records WHERE event_id = ? ORDER BY seq");
    if (!selectEvent || !selectRecords) return error = lastError(), false;
    sqlite3_bind_int64(selectEvent.get(), 1, llId);
    if (!found(sqlite3_step(selectEvent.get()), "no event " + std::to_string(llId), error)) return false;
    event = StoredEvent{};
    readEventRow(selectEvent.get(), event);
    sqlite3_bind_int64(selectRecords.get(), 1, llId);
    while (sqlite3_step(selectRecords.get()) == SQLITE_ROW) {
        StoredRecord record{};
        record.llTimeMicros = sqlite3_column_int64(selectRecords.get(), 0);
        record.ulLimitStatus = static_cast<uint32_t>(sqlite3_column_int64(selectRecords.get(), 1));
        if (sqlite3_column_bytes(selectRecords.get(), 2) != static_cast<int>(sizeof(record.values)))
            return error = "event " + std::to_string(llId) + ": a record of the wrong size", false;
        memcpy(record.values.data(), sqlite3_column_blob(selectRecords.get(), 2), sizeof(record.values));
        event.records.push_back(record);
    }
    return true;
}

std::vector<StoredEvent> EventDatabase::listEvents(int nLimit, std::string& error) {
    std::vector<StoredEvent> events;
    if (!m_pDb) return error = lastError(), events;
    Statement select = prepare(m_pDb, (std::string(EVENT_COLUMNS) + "ORDER BY id DESC LIMIT ?").c_str());
    if (!select) return error = lastError(), events;
    sqlite3_bind_int(select.get(), 1, nLimit);
    while (sqlite3_step(select.get()) == SQLITE_ROW) {
        events.emplace_back();
        readEventRow(select.get(), events.back());
    }
    return events;
}

std::vector<ACCUMULATOR_DATA> EventDatabase::listIntervals(int nLimit, std::string& error) {
    std::vector<ACCUMULATOR_DATA> intervals;
    if (!m_pDb) return error = lastError(), intervals;
    Statement select =
        prepare(m_pDb, "SELECT " + intervalColumns() + " FROM intervals ORDER BY id DESC LIMIT ?");
    if (!select) return error = lastError(), intervals;
    sqlite3_bind_int(select.get(), 1, nLimit);
    while (sqlite3_step(select.get()) == SQLITE_ROW) intervals.push_back(readInterval(select.get(), 0));
    return intervals;
}

bool EventDatabase::storeSnapshot(StoredSnapshot& snapshot, std::string& error) {
    int64_t llId = 0;
    const auto body = [&](std::string& why) {
        Statement insert = prepare(m_pDb, "INSERT INTO snapshots(time_us, frequency, samples) VALUES(?,?,?)");
        if (!insert) return failed(why);
        sqlite3_bind_int64(insert.get(), 1, snapshot.llTimeMicros);
        sqlite3_bind_double(insert.get(), 2, snapshot.dFrequency);
        sqlite3_bind_blob(insert.get(), 3, snapshot.samples.data(), sizeof(snapshot.samples), SQLITE_STATIC);
        if (sqlite3_step(insert.get()) != SQLITE_DONE) return failed(why);
        llId = sqlite3_last_insert_rowid(m_pDb);
        return m_pruner.capSnapshots() || failed(why);
    };
    if (!write(SNAPSHOT_BYTES, body, error)) return false;
    snapshot.llId = llId;
    return true;
}

bool EventDatabase::loadSnapshot(int64_t llId, StoredSnapshot& snapshot, std::string& error) {
    m_bMissed = false;
    if (!m_pDb) return error = lastError(), false;
    Statement select = prepare(m_pDb, "SELECT time_us, frequency, samples FROM snapshots WHERE id = ?");
    if (!select) return error = lastError(), false;
    sqlite3_bind_int64(select.get(), 1, llId);
    if (!found(sqlite3_step(select.get()), "no snapshot " + std::to_string(llId), error)) return false;
    if (sqlite3_column_bytes(select.get(), 2) != static_cast<int>(sizeof(snapshot.samples)))
        return error = "snapshot " + std::to_string(llId) + ": samples of the wrong size", false;
    snapshot.llId = llId;
    snapshot.llTimeMicros = sqlite3_column_int64(select.get(), 0);
    snapshot.dFrequency = sqlite3_column_double(select.get(), 1);
    memcpy(snapshot.samples.data(), sqlite3_column_blob(select.get(), 2), sizeof(snapshot.samples));
    return true;
}

bool EventDatabase::storeLifetimeEnergy(const std::map<std::string, double>& counters, int64_t llTimeMicros,
                                        std::string& error) {
    // Not inside a transaction, and before the write: WAL then syncs at each commit.
    if (!m_pDb) return error = lastError(), false;
    if (!m_bSyncsEveryWrite && !execute("PRAGMA synchronous=FULL", error)) return false;
    m_bSyncsEveryWrite = true;
    const auto body = [&](std::string& why) {
        Statement upsert = prepare(m_pDb,
                                   "INSERT INTO lifetime_energy(name, value, time_us) VALUES(?,?,?) "
                                   "ON CONFLICT(name) DO UPDATE SET value = max(value, excluded.value), "
                                   "time_us = excluded.time_us");
        if (!upsert) return failed(why);
        for (const auto& [name, dValue] : counters) {
            sqlite3_reset(upsert.get());
            sqlite3_bind_text(upsert.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(upsert.get(), 2, dValue);
            sqlite3_bind_int64(upsert.get(), 3, llTimeMicros);
            if (sqlite3_step(upsert.get()) != SQLITE_DONE) return failed(why);
        }
        return true;
    };
    return write(COUNTER_BYTES * static_cast<int64_t>(counters.size()), body, error);
}

bool EventDatabase::loadLifetimeEnergy(std::map<std::string, double>& counters, int64_t& llTimeMicros,
                                       std::string& error) {
    counters.clear();
    llTimeMicros = 0;
    if (!m_pDb) return error = lastError(), false;
    Statement select = prepare(m_pDb, "SELECT name, value, time_us FROM lifetime_energy");
    if (!select) return error = lastError(), false;
    int nStep;
    while ((nStep = sqlite3_step(select.get())) == SQLITE_ROW) {
        const int nType = sqlite3_column_type(select.get(), 1);
        counters[text(select.get(), 0)] =
            nType == SQLITE_FLOAT || nType == SQLITE_INTEGER ? sqlite3_column_double(select.get(), 1) : NAN;
        llTimeMicros = std::max<int64_t>(llTimeMicros, sqlite3_column_int64(select.get(), 2));
    }
    return nStep == SQLITE_DONE || (error = lastError(), false);
}
