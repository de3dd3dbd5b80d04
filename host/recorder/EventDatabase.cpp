#include "EventDatabase.h"

#include <sqlite3.h>

#include <cstring>
#include <memory>

#include "AppFiles.h"

namespace {

constexpr int BUSY_WAIT_MILLIS = 100;  // another writer: the caller retries later

constexpr const char* SCHEMA = R"sql(
CREATE TABLE IF NOT EXISTS events(
  id INTEGER PRIMARY KEY, start_us INTEGER NOT NULL, end_us INTEGER NOT NULL,
  trigger_us INTEGER NOT NULL, trigger_status INTEGER NOT NULL, classification TEXT NOT NULL,
  phases TEXT NOT NULL, extreme REAL NOT NULL, duration_us INTEGER NOT NULL, records INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS records(
  event_id INTEGER NOT NULL REFERENCES events(id), seq INTEGER NOT NULL, time_us INTEGER NOT NULL,
  limit_status INTEGER NOT NULL, journal BLOB NOT NULL, PRIMARY KEY(event_id, seq));
-- start_s holds the completed interval's m_ttStartTime, which is the moment it ended.
CREATE TABLE IF NOT EXISTS intervals(
  id INTEGER PRIMARY KEY, start_s INTEGER NOT NULL, accum_count INTEGER NOT NULL,
  demand_count INTEGER NOT NULL, data BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS snapshots(
  id INTEGER PRIMARY KEY, time_us INTEGER NOT NULL, frequency REAL NOT NULL, samples BLOB NOT NULL);
)sql";

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

Statement prepare(sqlite3* pDb, const char* pszSql) {
    sqlite3_stmt* pStatement = nullptr;
    sqlite3_prepare_v2(pDb, pszSql, -1, &pStatement, nullptr);
    return Statement(pStatement, sqlite3_finalize);
}

const char* text(sqlite3_stmt* pStatement, int nColumn) {
    const unsigned char* pszText = sqlite3_column_text(pStatement, nColumn);
    return pszText ? reinterpret_cast<const char*>(pszText) : "";
}

void readEventRow(sqlite3_stmt* p, StoredEvent& event) {
    event.llId = sqlite3_column_int64(p, 0);
    event.llStartMicros = sqlite3_column_int64(p, 1);
    event.llEndMicros = sqlite3_column_int64(p, 2);
    event.llTriggerMicros = sqlite3_column_int64(p, 3);
    event.ulTriggerStatus = static_cast<uint32_t>(sqlite3_column_int64(p, 4));
    event.classification = text(p, 5);
    event.phases = text(p, 6);
    event.dExtreme = sqlite3_column_double(p, 7);
    event.llDurationMicros = sqlite3_column_int64(p, 8);
    event.storedRecords = static_cast<size_t>(sqlite3_column_int64(p, 9));
}

constexpr const char* EVENT_COLUMNS =
    "SELECT id, start_us, end_us, trigger_us, trigger_status, classification, phases, extreme, duration_us, "
    "records "
    "FROM events ";

}  // namespace

std::string defaultEventDatabasePath() {
    return appDirectory() + "/qm9000.db";
}

EventDatabase::~EventDatabase() {
    if (m_pDb) sqlite3_close(m_pDb);
}

std::string EventDatabase::lastError() const {
    return m_pDb ? sqlite3_errmsg(m_pDb) : "no database";
}

bool EventDatabase::execute(const char* pszSql, std::string& error) {
    char* pszError = nullptr;
    if (sqlite3_exec(m_pDb, pszSql, nullptr, nullptr, &pszError) == SQLITE_OK) return true;
    error = pszError ? pszError : lastError();
    sqlite3_free(pszError);
    return false;
}

bool EventDatabase::open(const std::string& path, std::string& error) {
    if (m_pDb) sqlite3_close(m_pDb);
    m_pDb = nullptr;
    sqlite3* pDb = nullptr;
    if (sqlite3_open_v2(path.c_str(), &pDb,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = path + ": " + (pDb ? sqlite3_errmsg(pDb) : "cannot open");
        sqlite3_close(pDb);
        return false;
    }
    m_pDb = pDb;
    sqlite3_busy_timeout(m_pDb, BUSY_WAIT_MILLIS);
    if (!execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", error) || !execute(SCHEMA, error)) {
        error = path + ": " + error;
        sqlite3_close(m_pDb);
        m_pDb = nullptr;
        return false;
    }
    return true;
}

bool EventDatabase::insertRecords(int64_t llId, int64_t llFirstSeq,
                                  const std::vector<StoredRecord>& records) {
    Statement insert = prepare(
        m_pDb, "INSERT INTO records(event_id, seq, time_us, limit_status, journal) VALUES(?,?,?,?,?)");
    bool bDone = static_cast<bool>(insert);
    for (size_t i = 0; bDone && i < records.size(); i++) {
        sqlite3_stmt* p = insert.get();
        sqlite3_reset(p);
        sqlite3_bind_int64(p, 1, llId);
        sqlite3_bind_int64(p, 2, llFirstSeq + static_cast<int64_t>(i));
        sqlite3_bind_int64(p, 3, records[i].llTimeMicros);
        sqlite3_bind_int64(p, 4, records[i].ulLimitStatus);
        sqlite3_bind_blob(p, 5, records[i].values.data(), sizeof(records[i].values), SQLITE_STATIC);
        bDone = sqlite3_step(p) == SQLITE_DONE;
    }
    return bDone;
}

bool EventDatabase::finish(bool bDone, std::string& error) {
    if (bDone && execute("COMMIT", error)) return true;
    if (!bDone) error = lastError();
    std::string ignored;
    execute("ROLLBACK", ignored);
    return false;
}

bool EventDatabase::storeEvent(StoredEvent& event, std::string& error) {
    if (!m_pDb) return error = lastError(), false;
    if (!execute("BEGIN IMMEDIATE", error)) return false;
    Statement insertEvent = prepare(
        m_pDb,
        "INSERT INTO events(start_us, end_us, trigger_us, trigger_status, classification, phases, extreme, "
        "duration_us, records) VALUES(?,?,?,?,?,?,?,?,?)");
    bool bDone = static_cast<bool>(insertEvent);
    if (bDone) {
        sqlite3_stmt* p = insertEvent.get();
        sqlite3_bind_int64(p, 1, event.llStartMicros);
        sqlite3_bind_int64(p, 2, event.llEndMicros);
        sqlite3_bind_int64(p, 3, event.llTriggerMicros);
        sqlite3_bind_int64(p, 4, event.ulTriggerStatus);
        sqlite3_bind_text(p, 5, event.classification.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(p, 6, event.phases.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(p, 7, event.dExtreme);
        sqlite3_bind_int64(p, 8, event.llDurationMicros);
        sqlite3_bind_int64(p, 9, static_cast<int64_t>(event.records.size()));
        bDone = sqlite3_step(p) == SQLITE_DONE;
    }
    const int64_t llId = sqlite3_last_insert_rowid(m_pDb);
    if (!finish(bDone && insertRecords(llId, 0, event.records), error)) return false;
    event.llId = llId;
    return true;
}

bool EventDatabase::extendEvent(int64_t llId, const StoredEvent& event, std::string& error) {
    if (!m_pDb) return error = lastError(), false;
    if (!execute("BEGIN IMMEDIATE", error)) return false;
    Statement count = prepare(m_pDb, "SELECT records FROM events WHERE id = ?");
    Statement update = prepare(m_pDb,
                               "UPDATE events SET end_us = ?, classification = ?, phases = ?, extreme = ?, "
                               "duration_us = ?, records = records + ? WHERE id = ?");
    if (!count || !update) return finish(false, error);
    sqlite3_bind_int64(count.get(), 1, llId);
    if (sqlite3_step(count.get()) != SQLITE_ROW) {
        finish(false, error);
        error = "no event " + std::to_string(llId);
        return false;
    }
    const int64_t llStored = sqlite3_column_int64(count.get(), 0);
    sqlite3_stmt* p = update.get();
    sqlite3_bind_int64(p, 1, event.llEndMicros);
    sqlite3_bind_text(p, 2, event.classification.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(p, 3, event.phases.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(p, 4, event.dExtreme);
    sqlite3_bind_int64(p, 5, event.llDurationMicros);
    sqlite3_bind_int64(p, 6, static_cast<int64_t>(event.records.size()));
    sqlite3_bind_int64(p, 7, llId);
    return finish(sqlite3_step(p) == SQLITE_DONE && insertRecords(llId, llStored, event.records), error);
}

bool EventDatabase::closeOpenEvents(std::string& error) {
    if (!m_pDb) return error = lastError(), false;
    return true;
}

bool EventDatabase::storeInterval(const ACCUMULATOR_DATA& interval, std::string& error) {
    if (!m_pDb) return error = lastError(), false;
    Statement insert =
        prepare(m_pDb, "INSERT INTO intervals(start_s, accum_count, demand_count, data) VALUES(?,?,?,?)");
    if (!insert) return error = lastError(), false;
    sqlite3_bind_int64(insert.get(), 1, static_cast<int64_t>(interval.m_ttStartTime));
    sqlite3_bind_int(insert.get(), 2, interval.m_9000AccumCount);
    sqlite3_bind_int(insert.get(), 3, interval.m_9000DemandCount);
    sqlite3_bind_blob(insert.get(), 4, &interval, sizeof(interval), SQLITE_STATIC);
    if (sqlite3_step(insert.get()) == SQLITE_DONE) return true;
    error = lastError();
    return false;
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
    Statement select = prepare(m_pDb, "SELECT data FROM intervals ORDER BY id DESC LIMIT ?");
    if (!select) return error = lastError(), intervals;
    sqlite3_bind_int(select.get(), 1, nLimit);
    while (sqlite3_step(select.get()) == SQLITE_ROW) {
        ACCUMULATOR_DATA interval{};
        // A row of another size (another build's layout) is passed over.
        if (sqlite3_column_bytes(select.get(), 0) != static_cast<int>(sizeof(interval))) continue;
        memcpy(&interval, sqlite3_column_blob(select.get(), 0), sizeof(interval));
        intervals.push_back(interval);
    }
    return intervals;
}

bool EventDatabase::storeSnapshot(StoredSnapshot& snapshot, std::string& error) {
    if (!m_pDb) return error = lastError(), false;
    Statement insert = prepare(m_pDb, "INSERT INTO snapshots(time_us, frequency, samples) VALUES(?,?,?)");
    if (!insert) return error = lastError(), false;
    sqlite3_bind_int64(insert.get(), 1, snapshot.llTimeMicros);
    sqlite3_bind_double(insert.get(), 2, snapshot.dFrequency);
    sqlite3_bind_blob(insert.get(), 3, snapshot.samples.data(), sizeof(snapshot.samples), SQLITE_STATIC);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) return error = lastError(), false;
    snapshot.llId = sqlite3_last_insert_rowid(m_pDb);
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
