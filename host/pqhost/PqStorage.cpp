#include "PqStorage.h"

#include <sqlite3.h>

#include <cmath>
#include <memory>

#include "EventSchema.h"
#include "UtcTicks.h"

namespace {

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

Statement prepare(sqlite3* pDb, const std::string& sql) {
    sqlite3_stmt* pStatement = nullptr;
    sqlite3_prepare_v2(pDb, sql.c_str(), -1, &pStatement, nullptr);
    return Statement(pStatement, sqlite3_finalize);
}

bool failed(sqlite3* pDb, std::string& error) {
    error = pDb ? sqlite3_errmsg(pDb) : "no database";
    return false;
}

constexpr int64_t ROW_BYTES = 128, INTERVAL_ROW_BYTES = 512;
constexpr const char* PHASE_NAMES[] = {"A", "B", "C"};

std::string pqIntervalColumns() {
    std::string columns = "period_s, start_us, end_us, parts, complete, flagged, declared_v, nominal_hz";
    for (const char* pszStem : PQ_QUANTITY_COLUMNS)
        for (const char* pszStat : {"_min", "_mean", "_max"})
            columns += std::string(", ") + pszStem + pszStat;
    return columns;
}

constexpr int INTERVAL_COLUMNS = 8 + 3 * pq::pq_COUNT;
static_assert(std::size(PQ_QUANTITY_COLUMNS) == pq::pq_COUNT, "a column stem for each quantity");

void bindOptional(sqlite3_stmt* p, int n, double dValue) {
    if (std::isfinite(dValue))
        sqlite3_bind_double(p, n, dValue);
    else
        sqlite3_bind_null(p, n);
}

double columnOr(sqlite3_stmt* p, int n, double dMissing) {
    return sqlite3_column_type(p, n) == SQLITE_NULL ? dMissing : sqlite3_column_double(p, n);
}

bool insertInterval(sqlite3* pDb, const pq::Interval& value, const pq::Config& config) {
    static const std::string sql = [] {
        std::string placeholders = "?";
        for (int i = 1; i < INTERVAL_COLUMNS; i++) placeholders += ",?";
        return "INSERT INTO pq_intervals(" + pqIntervalColumns() + ") VALUES(" + placeholders + ")";
    }();
    Statement insert = prepare(pDb, sql);
    if (!insert) return false;
    sqlite3_stmt* p = insert.get();
    sqlite3_bind_int(p, 1, value.kind == pq::IntervalKind::hours2 ? 7200 : 600);
    sqlite3_bind_int64(p, 2, value.llStartMicros);
    sqlite3_bind_int64(p, 3, value.llEndMicros);
    sqlite3_bind_int64(p, 4, value.ulParts);
    sqlite3_bind_int(p, 5, value.bComplete);
    sqlite3_bind_int(p, 6, value.bFlagged);
    sqlite3_bind_double(p, 7, config.dDeclaredVolts);
    sqlite3_bind_int(p, 8, config.nNominalHz);
    for (int q = 0; q < pq::pq_COUNT; q++) {
        bindOptional(p, 9 + 3 * q, value.stats[q].dMin);
        bindOptional(p, 10 + 3 * q, value.stats[q].dMean);
        bindOptional(p, 11 + 3 * q, value.stats[q].dMax);
    }
    return sqlite3_step(p) == SQLITE_DONE;
}

bool insertFrequency(sqlite3* pDb, const pq::FrequencyValue& value) {
    Statement insert = prepare(pDb,
                               "INSERT INTO pq_frequency(start_us, mean_hz, min_hz, max_hz, half_cycles, "
                               "complete, flagged) VALUES(?,?,?,?,?,?,?)");
    if (!insert) return false;
    sqlite3_stmt* p = insert.get();
    sqlite3_bind_int64(p, 1, value.llStartMicros);
    bindOptional(p, 2, value.hz.dMean);
    bindOptional(p, 3, value.hz.dMin);
    bindOptional(p, 4, value.hz.dMax);
    sqlite3_bind_int64(p, 5, value.ulHalfCycles);
    sqlite3_bind_int(p, 6, value.bComplete);
    sqlite3_bind_int(p, 7, value.bFlagged);
    return sqlite3_step(p) == SQLITE_DONE;
}

// A voltage event or a rapid voltage change, linked to the recorder's event
// whose window overlaps it.
bool insertEvent(sqlite3* pDb, const PqRow& row, const pq::Config& config) {
    Statement insert = prepare(
        pDb,
        "INSERT INTO pq_events(kind, start_us, duration_us, phase, extreme_v, interrupted_us, delta_max_v, "
        "delta_ss_v, cut_short, declared_v, recorder_event_id) VALUES(?,?,?,?,?,?,?,?,?,?,"
        "(SELECT id FROM events WHERE start_us <= ?2 + ?3 AND end_us >= ?2 ORDER BY id LIMIT 1))");
    if (!insert) return false;
    sqlite3_stmt* p = insert.get();
    const bool bRvc = row.kind == PqRow::Kind::rvc;
    const int nPhase = bRvc ? row.rvc.nPhase : row.event.nPhase;
    sqlite3_bind_text(p, 1, bRvc ? "rvc" : pq::eventKindName(row.event.kind), -1, SQLITE_STATIC);
    sqlite3_bind_int64(p, 2, bRvc ? row.rvc.llStartMicros : row.event.llStartMicros);
    sqlite3_bind_int64(p, 3, bRvc ? row.rvc.llDurationMicros : row.event.llDurationMicros);
    sqlite3_bind_text(p, 4, PHASE_NAMES[nPhase >= 0 && nPhase < 3 ? nPhase : 0], -1, SQLITE_STATIC);
    if (bRvc) {
        sqlite3_bind_null(p, 5);
        sqlite3_bind_null(p, 6);
        bindOptional(p, 7, row.rvc.dMaxDeltaVolts);
        bindOptional(p, 8, row.rvc.dSteadyDeltaVolts);
    } else {
        bindOptional(p, 5, row.event.dExtremeVolts);
        sqlite3_bind_int64(p, 6, row.event.llInterruptedMicros);
        sqlite3_bind_null(p, 7);
        sqlite3_bind_null(p, 8);
    }
    sqlite3_bind_int(p, 9, !bRvc && row.event.bCutShort);
    sqlite3_bind_double(p, 10, config.dDeclaredVolts);
    return sqlite3_step(p) == SQLITE_DONE;
}

}  // namespace

bool storePqRows(EventDatabase& database, const std::vector<PqRow>& rows, const pq::Config& config,
                 std::string& error) {
    int64_t llBytes = 0;
    for (const PqRow& row : rows)
        llBytes += row.kind == PqRow::Kind::interval ? INTERVAL_ROW_BYTES : ROW_BYTES;
    const auto body = [&](sqlite3* pDb, std::string& why) {
        for (const PqRow& row : rows) {
            const bool bStored = row.kind == PqRow::Kind::interval ? insertInterval(pDb, row.interval, config)
                                 : row.kind == PqRow::Kind::frequency ? insertFrequency(pDb, row.frequency)
                                                                      : insertEvent(pDb, row, config);
            if (!bStored) return failed(pDb, why);
        }
        return true;
    };
    return database.writeTransaction(llBytes, body, error);
}

bool loadPqIntervals(EventDatabase& database, int nPeriodSeconds, int64_t llFrom, int64_t llTo, int nMax,
                     std::vector<pq::Interval>& intervals, std::string& error) {
    intervals.clear();
    sqlite3* pDb = database.connection();
    Statement select =
        prepare(pDb, "SELECT " + pqIntervalColumns() +
                         " FROM pq_intervals WHERE period_s = ? AND end_us > ? AND end_us <= ? "
                         "AND start_us >= ? ORDER BY start_us, complete DESC, id");
    if (!select) return failed(pDb, error);
    sqlite3_stmt* p = select.get();
    sqlite3_bind_int(p, 1, nPeriodSeconds);
    sqlite3_bind_int64(p, 2, llFrom);
    sqlite3_bind_int64(p, 3, llTo);
    sqlite3_bind_int64(p, 4, llFrom);
    int nStep;
    while ((nStep = sqlite3_step(p)) == SQLITE_ROW && static_cast<int>(intervals.size()) < nMax) {
        pq::Interval value;
        value.kind = nPeriodSeconds == 7200 ? pq::IntervalKind::hours2 : pq::IntervalKind::minutes10;
        value.llStartMicros = sqlite3_column_int64(p, 1);
        if (!intervals.empty() && intervals.back().llStartMicros == value.llStartMicros) continue;
        value.llEndMicros = sqlite3_column_int64(p, 2);
        value.ulParts = static_cast<uint32_t>(sqlite3_column_int64(p, 3));
        value.bComplete = sqlite3_column_int(p, 4) != 0;
        value.bFlagged = sqlite3_column_int(p, 5) != 0;
        for (int q = 0; q < pq::pq_COUNT; q++)
            value.stats[q] = {columnOr(p, 8 + 3 * q, NAN), columnOr(p, 9 + 3 * q, NAN),
                              columnOr(p, 10 + 3 * q, NAN)};
        intervals.push_back(value);
    }
    return nStep == SQLITE_ROW || nStep == SQLITE_DONE || failed(pDb, error);
}

bool loadPqFrequency(EventDatabase& database, int64_t llFrom, int64_t llTo,
                     std::vector<pq::FrequencyValue>& values, std::string& error) {
    values.clear();
    sqlite3* pDb = database.connection();
    Statement select =
        prepare(pDb,
                "SELECT start_us, mean_hz, min_hz, max_hz, half_cycles, complete, flagged FROM "
                "pq_frequency WHERE start_us >= ? AND start_us < ? ORDER BY start_us, complete DESC");
    if (!select) return failed(pDb, error);
    sqlite3_stmt* p = select.get();
    sqlite3_bind_int64(p, 1, llFrom);
    sqlite3_bind_int64(p, 2, llTo);
    int nStep;
    while ((nStep = sqlite3_step(p)) == SQLITE_ROW) {
        pq::FrequencyValue value;
        value.llStartMicros = sqlite3_column_int64(p, 0);
        if (!values.empty() && values.back().llStartMicros == value.llStartMicros) continue;
        value.llEndMicros = value.llStartMicros + pq::TEN_SECONDS_MICROS;
        value.hz = {columnOr(p, 2, NAN), columnOr(p, 1, NAN), columnOr(p, 3, NAN)};
        value.ulHalfCycles = static_cast<uint32_t>(sqlite3_column_int64(p, 4));
        value.bComplete = sqlite3_column_int(p, 5) != 0;
        value.bFlagged = sqlite3_column_int(p, 6) != 0;
        values.push_back(value);
    }
    return nStep == SQLITE_DONE || failed(pDb, error);
}

bool loadPqEvents(EventDatabase& database, int64_t llFrom, int64_t llTo, int nMax,
                  std::vector<StoredPqEvent>& events, std::string& error) {
    events.clear();
    sqlite3* pDb = database.connection();
    Statement select =
        prepare(pDb,
                "SELECT id, kind, start_us, duration_us, phase, extreme_v, interrupted_us, "
                "delta_max_v, delta_ss_v, cut_short, declared_v, recorder_event_id FROM pq_events "
                "WHERE start_us >= ? AND start_us < ? ORDER BY start_us DESC, id DESC LIMIT ?");
    if (!select) return failed(pDb, error);
    sqlite3_stmt* p = select.get();
    sqlite3_bind_int64(p, 1, llFrom);
    sqlite3_bind_int64(p, 2, llTo);
    sqlite3_bind_int(p, 3, nMax);
    int nStep;
    while ((nStep = sqlite3_step(p)) == SQLITE_ROW) {
        StoredPqEvent event;
        event.llId = sqlite3_column_int64(p, 0);
        const unsigned char* pszKind = sqlite3_column_text(p, 1);
        event.kind = pszKind ? reinterpret_cast<const char*>(pszKind) : "";
        event.llStartMicros = sqlite3_column_int64(p, 2);
        event.llDurationMicros = sqlite3_column_int64(p, 3);
        const unsigned char* pszPhase = sqlite3_column_text(p, 4);
        event.nPhase = pszPhase && pszPhase[0] >= 'A' && pszPhase[0] <= 'C' ? pszPhase[0] - 'A' : 0;
        event.dExtremeVolts = columnOr(p, 5, NAN);
        event.llInterruptedMicros = sqlite3_column_int64(p, 6);
        event.dMaxDeltaVolts = columnOr(p, 7, NAN);
        event.dSteadyDeltaVolts = columnOr(p, 8, NAN);
        event.bCutShort = sqlite3_column_int(p, 9) != 0;
        event.dDeclaredVolts = sqlite3_column_double(p, 10);
        event.llRecorderEventId = sqlite3_column_int64(p, 11);
        events.push_back(event);
    }
    return nStep == SQLITE_DONE || failed(pDb, error);
}

bool voltageEventOf(const StoredPqEvent& stored, pq::VoltageEvent& event) {
    static const pq::EventKind KINDS[] = {pq::EventKind::dip, pq::EventKind::swell,
                                          pq::EventKind::interruption};
    for (const pq::EventKind kind : KINDS) {
        if (stored.kind != pq::eventKindName(kind)) continue;
        event = pq::VoltageEvent{
            kind,          stored.llStartMicros,       stored.llDurationMicros, stored.dExtremeVolts,
            stored.nPhase, stored.llInterruptedMicros, stored.bCutShort};
        return true;
    }
    return false;
}
