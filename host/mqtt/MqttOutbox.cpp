#include "MqttOutbox.h"

#include <sqlite3.h>

#include "EventSchema.h"

namespace {

constexpr int BUSY_WAIT_MILLIS = 5000;

int64_t single(sqlite3* pDb, const char* pszSql) {
    sqlite3_stmt* p = nullptr;
    int64_t llValue = -1;
    if (sqlite3_prepare_v2(pDb, pszSql, -1, &p, nullptr) == SQLITE_OK && sqlite3_step(p) == SQLITE_ROW)
        llValue = sqlite3_column_int64(p, 0);
    sqlite3_finalize(p);
    return llValue;
}

}  // namespace

MqttOutbox::~MqttOutbox() {
    close();
}

void MqttOutbox::close() {
    for (sqlite3_stmt* p : {m_pInsert, m_pNext, m_pRemove}) sqlite3_finalize(p);
    m_pInsert = m_pNext = m_pRemove = nullptr;
    sqlite3_close(m_pDb);
    m_pDb = nullptr;
}

bool MqttOutbox::failed(std::string& error) {
    error = m_pDb ? sqlite3_errmsg(m_pDb) : "no database";
    return false;
}

bool MqttOutbox::open(const std::string& path, size_t maxMessages, std::string& error) {
    close();
    m_maxMessages = maxMessages;
    if (sqlite3_open_v2(path.c_str(), &m_pDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI,
                        nullptr) != SQLITE_OK) {
        failed(error);
        close();
        return false;
    }
    sqlite3_busy_timeout(m_pDb, BUSY_WAIT_MILLIS);
    std::string note;
    const char* pszStartCursor =
        "UPDATE mqtt_cursor SET event_id = COALESCE(event_id, (SELECT MAX(id) FROM events), 0), "
        "interval_id = COALESCE(interval_id, (SELECT MAX(id) FROM intervals), 0)";
    const bool bOpened =
        sqlite3_exec(m_pDb, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                     nullptr) == SQLITE_OK &&
        upgradeEventSchema(m_pDb, true, error, note) &&
        sqlite3_exec(m_pDb, pszStartCursor, nullptr, nullptr, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(m_pDb,
                           "INSERT INTO mqtt_outbox(time_us, topic, payload, retained) VALUES(?,?,?,?)", -1,
                           &m_pInsert, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(m_pDb,
                           "SELECT id, time_us, topic, payload, retained FROM mqtt_outbox WHERE id > ? "
                           "ORDER BY id LIMIT ?",
                           -1, &m_pNext, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(m_pDb, "DELETE FROM mqtt_outbox WHERE id = ?", -1, &m_pRemove, nullptr) ==
            SQLITE_OK;
    if (!bOpened) {
        if (error.empty()) failed(error);
        error = path + ": " + error;
        close();
        return false;
    }
    m_size = static_cast<size_t>(single(m_pDb, "SELECT COUNT(*) FROM mqtt_outbox"));
    m_cursor = {single(m_pDb, "SELECT event_id FROM mqtt_cursor"),
                single(m_pDb, "SELECT interval_id FROM mqtt_cursor")};
    return true;
}

bool MqttOutbox::queue(const std::vector<OutboxMessage>& messages, const RecordingCursor& cursor,
                       size_t& dropped, std::string& error) {
    if (!m_pDb) return failed(error);
    if (sqlite3_exec(m_pDb, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return failed(error);
    bool bDone = true;
    for (const OutboxMessage& queued : messages) {
        sqlite3_reset(m_pInsert);
        sqlite3_bind_int64(m_pInsert, 1, queued.llTimeMicros);
        sqlite3_bind_text(m_pInsert, 2, queued.message.topic.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_blob(m_pInsert, 3, queued.message.payload.data(),
                          static_cast<int>(queued.message.payload.size()), SQLITE_STATIC);
        sqlite3_bind_int(m_pInsert, 4, queued.message.bRetain);
        bDone = bDone && sqlite3_step(m_pInsert) == SQLITE_DONE;
    }
    sqlite3_reset(m_pInsert);
    const size_t size = m_size + messages.size();
    const size_t excess = size > m_maxMessages ? size - m_maxMessages : 0;
    if (bDone && excess > 0) {
        const std::string drop =
            "DELETE FROM mqtt_outbox WHERE id IN (SELECT id FROM mqtt_outbox ORDER BY id LIMIT " +
            std::to_string(excess) + ")";
        bDone = sqlite3_exec(m_pDb, drop.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    if (bDone) {
        const std::string move = "UPDATE mqtt_cursor SET event_id = " + std::to_string(cursor.llEventId) +
                                 ", interval_id = " + std::to_string(cursor.llIntervalId);
        bDone = sqlite3_exec(m_pDb, move.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
                sqlite3_exec(m_pDb, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    if (!bDone) {
        failed(error);
        sqlite3_exec(m_pDb, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    m_size = size - excess;
    m_cursor = cursor;
    dropped += excess;
    return true;
}

bool MqttOutbox::next(int64_t llAfterId, int nMax, std::vector<OutboxMessage>& messages, std::string& error) {
    messages.clear();
    if (!m_pDb) return failed(error);
    sqlite3_reset(m_pNext);
    sqlite3_bind_int64(m_pNext, 1, llAfterId);
    sqlite3_bind_int(m_pNext, 2, nMax);
    int nStep;
    while ((nStep = sqlite3_step(m_pNext)) == SQLITE_ROW) {
        OutboxMessage queued;
        queued.llId = sqlite3_column_int64(m_pNext, 0);
        queued.llTimeMicros = sqlite3_column_int64(m_pNext, 1);
        queued.message.topic = reinterpret_cast<const char*>(sqlite3_column_text(m_pNext, 2));
        const void* pPayload = sqlite3_column_blob(m_pNext, 3);
        queued.message.payload.assign(static_cast<const char*>(pPayload),
                                      pPayload ? static_cast<size_t>(sqlite3_column_bytes(m_pNext, 3)) : 0);
        queued.message.bRetain = sqlite3_column_int(m_pNext, 4) != 0;
        messages.push_back(std::move(queued));
    }
    const bool bDone = nStep == SQLITE_DONE;
    sqlite3_reset(m_pNext);
    return bDone || failed(error);
}

bool MqttOutbox::remove(int64_t llId, std::string& error) {
    if (!m_pDb) return failed(error);
    sqlite3_reset(m_pRemove);
    sqlite3_bind_int64(m_pRemove, 1, llId);
    const bool bDone = sqlite3_step(m_pRemove) == SQLITE_DONE;
    if (bDone && sqlite3_changes(m_pDb) > 0 && m_size > 0) m_size--;
    sqlite3_reset(m_pRemove);
    return bDone || failed(error);
}
