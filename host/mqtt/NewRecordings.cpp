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
        prepare(pDb, std::string(EVENT_COLUMNS) + "WHERE id > ? ORDER BY id LIMIT ?", llAfterId, nMax);
    if (!select) return finished(pDb, SQLITE_ERROR, error);
    int nStep;
    while ((nStep = sqlite3_step(select.get())) == SQLITE_ROW) {
        StoredEvent event;
        readEventRow(select.get(), event);
        if (event.bOpen) break;
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
