#include "NewRecordings.h"

#include <sqlite3.h>

#include <memory>

#include "EventSchema.h"

namespace {

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

Statement prepare(sqlite3* pDb, const std::string& sql, int64_t llAfterId, int nMax) {
    sqlite3_stmt* p = nullptr;
    sqlite3_prepare_v2(pDb, sql.c_str(), -1, &p, nullptr);
    sqlite3_bind_int64(p, 1, llAfterId);
    sqlite3_bind_int(p, 2, nMax);
    return Statement(p, sqlite3_finalize);
}

std::string text(sqlite3_stmt* p, int nColumn) {
    const unsigned char* psz = sqlite3_column_text(p, nColumn);
    return psz ? reinterpret_cast<const char*>(psz) : "";
}

bool finished(sqlite3* pDb, int nStep, std::string& error) {
    if (nStep == SQLITE_DONE || nStep == SQLITE_ROW) return true;
    error = sqlite3_errmsg(pDb);
    return false;
}

}  // namespace

bool closedEventsAfter(sqlite3* pDb, int64_t llAfterId, int nMax, std::vector<StoredEvent>& events,
                       std::string& error) {
    events.clear();
    Statement select =
        prepare(pDb,
                "SELECT id, start_us, end_us, trigger_us, trigger_status, classification, phases, "
                "extreme, duration_us, records, open, incomplete, records_pruned FROM events "
                "WHERE id > ? ORDER BY id LIMIT ?",
                llAfterId, nMax);
    if (!select) return finished(pDb, SQLITE_ERROR, error);
    sqlite3_stmt* p = select.get();
    int nStep;
    while ((nStep = sqlite3_step(p)) == SQLITE_ROW) {
        if (sqlite3_column_int(p, 10)) break;  // still open
        StoredEvent event;
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
        event.bIncomplete = sqlite3_column_int(p, 11) != 0;
        event.bRecordsPruned = sqlite3_column_int(p, 12) != 0;
        events.push_back(std::move(event));
    }
    return finished(pDb, nStep, error);
}

bool intervalsAfter(sqlite3* pDb, int64_t llAfterId, int nMax, std::vector<StoredInterval>& intervals,
                    std::string& error) {
    intervals.clear();
    Statement select =
        prepare(pDb, "SELECT id, " + intervalColumns() + " FROM intervals WHERE id > ? ORDER BY id LIMIT ?",
                llAfterId, nMax);
    if (!select) return finished(pDb, SQLITE_ERROR, error);
    int nStep;
    while ((nStep = sqlite3_step(select.get())) == SQLITE_ROW)
        intervals.push_back({sqlite3_column_int64(select.get(), 0), sqlite3_column_int64(select.get(), 1),
                             readInterval(select.get(), 1)});
    return finished(pDb, nStep, error);
}
