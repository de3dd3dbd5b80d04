#include "EventSchema.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

namespace {

// Version 0 as the host made it, kept so a new database is made the way an
// old one was, and both take the same move to version 1.
constexpr const char* VERSION_0_TABLES = R"sql(
CREATE TABLE IF NOT EXISTS events(
  id INTEGER PRIMARY KEY, start_us INTEGER NOT NULL, end_us INTEGER NOT NULL,
  trigger_us INTEGER NOT NULL, trigger_status INTEGER NOT NULL, classification TEXT NOT NULL,
  phases TEXT NOT NULL, extreme REAL NOT NULL, duration_us INTEGER NOT NULL, records INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS records(
  event_id INTEGER NOT NULL REFERENCES events(id), seq INTEGER NOT NULL, time_us INTEGER NOT NULL,
  limit_status INTEGER NOT NULL, journal BLOB NOT NULL, PRIMARY KEY(event_id, seq));
CREATE TABLE IF NOT EXISTS intervals(
  id INTEGER PRIMARY KEY, start_s INTEGER NOT NULL, accum_count INTEGER NOT NULL,
  demand_count INTEGER NOT NULL, data BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS snapshots(
  id INTEGER PRIMARY KEY, time_us INTEGER NOT NULL, frequency REAL NOT NULL, samples BLOB NOT NULL);
)sql";

// Version 1's changes; the intervals' quantities are added from the table below.
// pruned: one row, what the bound and the snapshot cap deleted.
constexpr const char* VERSION_1_CHANGES = R"sql(
ALTER TABLE events ADD COLUMN open INTEGER NOT NULL DEFAULT 0;
ALTER TABLE events ADD COLUMN incomplete INTEGER NOT NULL DEFAULT 0;
ALTER TABLE events ADD COLUMN records_pruned INTEGER NOT NULL DEFAULT 0;
ALTER TABLE intervals RENAME TO intervals_v0;
CREATE TABLE pruned(id INTEGER PRIMARY KEY CHECK(id = 1), events INTEGER NOT NULL, snapshots INTEGER NOT NULL);
INSERT INTO pruned VALUES(1, 0, 0);
)sql";

// Version 3's tables. mqtt_outbox: the interval, event and energy messages
// in the order they were queued, each deleted once the broker acknowledged
// it. mqtt_cursor: one row, the last event and interval queued (NULL until
// the publisher first starts, which then begins with what is stored).
constexpr const char* VERSION_3_TABLES = R"sql(
CREATE TABLE IF NOT EXISTS mqtt_outbox(
  id INTEGER PRIMARY KEY, time_us INTEGER NOT NULL, topic TEXT NOT NULL, payload BLOB NOT NULL,
  retained INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS mqtt_cursor(id INTEGER PRIMARY KEY CHECK(id = 1), event_id INTEGER, interval_id INTEGER);
INSERT OR IGNORE INTO mqtt_cursor VALUES(1, NULL, NULL);
)sql";

// Version 4's tables (their intervals' quantity columns are added from
// PQ_QUANTITY_COLUMNS). pq_intervals: 10-minute and 2-hour values by their
// UTC ticks; not unique, as a clock stepped back can give a tick a second
// value (readers take the complete one first). pq_frequency: the 10-second
// frequency values. pq_events: dips, swells, interruptions and rapid voltage
// changes, each with the recorder's event whose window overlaps it, once
// there is one.
constexpr const char* VERSION_4_TABLES = R"sql(
CREATE TABLE pq_frequency(
  start_us INTEGER NOT NULL, mean_hz REAL, min_hz REAL, max_hz REAL, half_cycles INTEGER NOT NULL,
  complete INTEGER NOT NULL, flagged INTEGER NOT NULL);
CREATE INDEX pq_frequency_start ON pq_frequency(start_us);
CREATE TABLE pq_events(
  id INTEGER PRIMARY KEY, kind TEXT NOT NULL CHECK(kind IN ('dip','swell','interruption','rvc')),
  start_us INTEGER NOT NULL, duration_us INTEGER NOT NULL, phase TEXT, extreme_v REAL, interrupted_us INTEGER,
  delta_max_v REAL, delta_ss_v REAL, cut_short INTEGER NOT NULL DEFAULT 0, declared_v REAL NOT NULL,
  recorder_event_id INTEGER REFERENCES events(id));
CREATE INDEX pq_events_start ON pq_events(start_us);
CREATE INDEX pq_intervals_end ON pq_intervals(period_s, end_us);
ALTER TABLE pruned ADD COLUMN pq_rows INTEGER NOT NULL DEFAULT 0;
)sql";

constexpr size_t BOARD_BLOB_SIZE = 392, WIDE_TIME_BLOB_SIZE = 396;
constexpr int QUANTITIES_PER_ARRAY = accum_POWER_MAX;
// ACCUMULATOR_DATA's arrays in their order: each a column prefix and suffix.
struct QuantityArray {
    const char *pszPrefix, *pszSuffix;
};
constexpr QuantityArray ARRAYS[] = {
    {"demand_max_", ""}, {"demand_avg_", ""}, {"energy_", "hr"}, {"energy_total_", "hr"}};
constexpr int QUANTITY_COUNT = 4 * QUANTITIES_PER_ARRAY;
constexpr size_t FIRST_QUANTITY = offsetof(ACCUMULATOR_DATA, m_fDemandMax);
static_assert(int{accum_POWER_MAX} == int{accum_ENERGY_MAX} &&
                  offsetof(ACCUMULATOR_DATA, m_fDemandAvg) ==
                      FIRST_QUANTITY + QUANTITIES_PER_ARRAY * sizeof(float),
              "the four arrays are alike and follow each other");
static_assert(sizeof(ACCUMULATOR_DATA) == FIRST_QUANTITY + QUANTITY_COUNT * sizeof(float), "nothing after");
static_assert(sizeof(ACCUMULATOR_DATA) == (sizeof(time_t) == 4 ? BOARD_BLOB_SIZE : WIDE_TIME_BLOB_SIZE),
              "a version 0 blob is this build's layout");

// ePowerAccum and eEnergyAccum, without "accum_" and "_ACC" or "HR": phases A,
// B, C of each quantity, then the totals.
std::vector<std::string> quantityNames() {
    static const char* const QUANTITIES[] = {"watt", "var", "va", "fwatt", "fvar", "fva"};
    std::vector<std::string> names;
    for (const QuantityArray& array : ARRAYS) {
        for (const char* pszQuantity : QUANTITIES)
            for (const char* pszPhase : {"a", "b", "c"})
                names.push_back(array.pszPrefix + std::string(pszPhase) + pszQuantity + array.pszSuffix);
        for (const char* pszQuantity : QUANTITIES)
            names.push_back(array.pszPrefix + std::string("tot_") + pszQuantity + array.pszSuffix);
    }
    return names;
}

float quantity(const ACCUMULATOR_DATA& interval, int n) {
    float f;
    memcpy(&f, reinterpret_cast<const char*>(&interval) + FIRST_QUANTITY + n * sizeof(float), sizeof f);
    return f;
}

void setQuantity(ACCUMULATOR_DATA& interval, int n, float f) {
    memcpy(reinterpret_cast<char*>(&interval) + FIRST_QUANTITY + n * sizeof(float), &f, sizeof f);
}

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

Statement prepare(sqlite3* pDb, const std::string& sql) {
    sqlite3_stmt* pStatement = nullptr;
    sqlite3_prepare_v2(pDb, sql.c_str(), -1, &pStatement, nullptr);
    return Statement(pStatement, sqlite3_finalize);
}

bool execute(sqlite3* pDb, const std::string& sql) {
    return sqlite3_exec(pDb, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

int64_t single(sqlite3* pDb, const char* pszSql) {
    Statement select = prepare(pDb, pszSql);
    return select && sqlite3_step(select.get()) == SQLITE_ROW ? sqlite3_column_int64(select.get(), 0) : -1;
}

// Every version 0 interval into the new table under its own id, counted;
// those of a size no build writes stay apart, counted too.
bool moveIntervals(sqlite3* pDb, int64_t& llMoved, int64_t& llKeptApart) {
    std::string create =
        "CREATE TABLE intervals(id INTEGER PRIMARY KEY, time_us INTEGER NOT NULL, "
        "accum_count INTEGER NOT NULL, demand_count INTEGER NOT NULL";
    for (const std::string& name : quantityNames()) create += ", " + name + " REAL";
    if (!execute(pDb, create + ")")) return false;
    Statement select = prepare(pDb, "SELECT id, data FROM intervals_v0 ORDER BY id");
    Statement insert = prepare(pDb, intervalInsert());
    if (!select || !insert) return false;
    llMoved = llKeptApart = 0;
    int nStep;
    while ((nStep = sqlite3_step(select.get())) == SQLITE_ROW) {
        int64_t llSeconds = 0;
        ACCUMULATOR_DATA interval{};
        if (!decodeIntervalBlob(sqlite3_column_blob(select.get(), 1),
                                static_cast<size_t>(sqlite3_column_bytes(select.get(), 1)), llSeconds,
                                interval)) {
            llKeptApart++;
            continue;
        }
        sqlite3_reset(insert.get());
        sqlite3_bind_int64(insert.get(), 1, sqlite3_column_int64(select.get(), 0));
        bindInterval(insert.get(), 2, llSeconds * 1000000, interval);
        if (sqlite3_step(insert.get()) != SQLITE_DONE) return false;
        llMoved++;
    }
    if (nStep != SQLITE_DONE) return false;
    select.reset(), insert.reset();  // no statement may be running on a table dropped
    if (!execute(pDb, "DELETE FROM intervals_v0 WHERE id IN (SELECT id FROM intervals)")) return false;
    return execute(pDb, llKeptApart ? "ALTER TABLE intervals_v0 RENAME TO undecoded_intervals"
                                    : "DROP TABLE intervals_v0");
}

// Version 0 to 1 inside the caller's transaction; `what` says what it did.
bool moveToVersion1(sqlite3* pDb, std::string& what) {
    int64_t llMoved = 0, llKeptApart = 0;
    if (!execute(pDb, VERSION_0_TABLES) || !execute(pDb, VERSION_1_CHANGES) ||
        !moveIntervals(pDb, llMoved, llKeptApart))
        return false;
    what = std::to_string(single(pDb, "SELECT COUNT(*) FROM events")) + " events kept, " +
           std::to_string(llMoved) + " intervals put into columns";
    if (llKeptApart)
        what += "; " + std::to_string(llKeptApart) +
                " intervals of a size no build writes are kept apart in table undecoded_intervals";
    return true;
}

// Version 1 to 2: the lifetime energy counters, a row each by a name that
// never changes, so counters added later need no new layout.
bool moveToVersion2(sqlite3* pDb, std::string& what) {
    what = "a table for the lifetime energy counters";
    return execute(pDb,
                   "CREATE TABLE lifetime_energy(name TEXT PRIMARY KEY, value REAL NOT NULL, "
                   "time_us INTEGER NOT NULL)");
}

// Version 2 to 3: the MQTT publisher's outbox and how far it has queued.
bool moveToVersion3(sqlite3* pDb, std::string& what) {
    what = "tables for the MQTT publisher's outbox";
    return execute(pDb, VERSION_3_TABLES);
}

// Version 3 to 4: the power-quality values and events.
bool moveToVersion4(sqlite3* pDb, std::string& what) {
    what = "tables for the power-quality values and events";
    std::string intervals =
        "CREATE TABLE pq_intervals(id INTEGER PRIMARY KEY, period_s INTEGER NOT NULL CHECK(period_s IN "
        "(600, 7200)), start_us INTEGER NOT NULL, end_us INTEGER NOT NULL, parts INTEGER NOT NULL, "
        "complete INTEGER NOT NULL, flagged INTEGER NOT NULL, declared_v REAL, nominal_hz INTEGER";
    for (const char* pszStem : PQ_QUANTITY_COLUMNS)
        for (const char* pszStat : {"_min", "_mean", "_max"})
            intervals += std::string(", ") + pszStem + pszStat + " REAL";
    return execute(pDb, intervals + ")") && execute(pDb, VERSION_4_TABLES);
}

// Each version's move from the one before, in order: entry n makes version n + 1.
using Move = bool (*)(sqlite3*, std::string&);
constexpr Move MOVES[] = {moveToVersion1, moveToVersion2, moveToVersion3, moveToVersion4};
static_assert(std::size(MOVES) == EVENT_SCHEMA_VERSION, "a move to each version");

// From `llVersion` to this build's inside the caller's transaction. A new
// database (no tables yet) is made the same way, without a note.
bool moveFrom(sqlite3* pDb, int64_t llVersion, std::string& note) {
    const bool bHadTables = single(pDb, "SELECT COUNT(*) FROM sqlite_master WHERE name = 'events'") > 0;
    std::string what;
    for (int64_t v = llVersion; v < EVENT_SCHEMA_VERSION; v++) {
        if (!MOVES[v](pDb, what) || !execute(pDb, "PRAGMA user_version = " + std::to_string(v + 1)))
            return false;
        if (bHadTables)
            note += (note.empty() ? "" : "; ") +
                    ("moved to layout version " + std::to_string(v + 1) + ": " + what);
    }
    return true;
}

}  // namespace

const char* const PQ_QUANTITY_COLUMNS[17] = {"u_a",   "u_b",   "u_c",   "i_a", "i_b", "i_c",
                                             "thd_a", "thd_b", "thd_c", "p_a", "p_b", "p_c",
                                             "q_a",   "q_b",   "q_c",   "u2",  "u0"};

const std::string& intervalInsert() {
    static const std::string sql = [] {
        std::string placeholders = "?";
        for (int i = 0; i < intervalColumnCount(); i++) placeholders += ",?";
        return "INSERT INTO intervals(id," + intervalColumns() + ") VALUES(" + placeholders + ")";
    }();
    return sql;
}

const std::string& intervalColumns() {
    static const std::string columns = [] {
        std::string list = "time_us,accum_count,demand_count";
        for (const std::string& name : quantityNames()) list += "," + name;
        return list;
    }();
    return columns;
}

int intervalColumnCount() {
    return 3 + QUANTITY_COUNT;
}

void bindInterval(sqlite3_stmt* p, int nFirst, int64_t llTimeMicros, const ACCUMULATOR_DATA& interval) {
    sqlite3_bind_int64(p, nFirst, llTimeMicros);
    sqlite3_bind_int(p, nFirst + 1, interval.m_9000AccumCount);
    sqlite3_bind_int(p, nFirst + 2, interval.m_9000DemandCount);
    for (int n = 0; n < QUANTITY_COUNT; n++) sqlite3_bind_double(p, nFirst + 3 + n, quantity(interval, n));
}

ACCUMULATOR_DATA readInterval(sqlite3_stmt* p, int nFirst) {
    ACCUMULATOR_DATA interval{};
    const int64_t llMicros = sqlite3_column_int64(p, nFirst);
    // Whole seconds, rounded down also before 1970.
    interval.m_ttStartTime = static_cast<time_t>(llMicros / 1000000 - (llMicros % 1000000 < 0));
    interval.m_9000AccumCount = static_cast<uint16_t>(sqlite3_column_int(p, nFirst + 1));
    interval.m_9000DemandCount = static_cast<uint16_t>(sqlite3_column_int(p, nFirst + 2));
    for (int n = 0; n < QUANTITY_COUNT; n++) {
        const int nColumn = nFirst + 3 + n;
        setQuantity(interval, n,
                    sqlite3_column_type(p, nColumn) == SQLITE_NULL
                        ? NAN
                        : static_cast<float>(sqlite3_column_double(p, nColumn)));
    }
    return interval;
}

bool decodeIntervalBlob(const void* pBlob, size_t size, int64_t& llTimeSeconds, ACCUMULATOR_DATA& interval) {
    if (!pBlob || (size != BOARD_BLOB_SIZE && size != WIDE_TIME_BLOB_SIZE)) return false;
    const char* pBytes = static_cast<const char*>(pBlob);
    // Both layouts are little-endian, packed: the time, two counts, the quantities.
    const size_t timeSize = size - sizeof(uint16_t) * 2 - QUANTITY_COUNT * sizeof(float);
    if (timeSize == 4) {
        int32_t lSeconds;
        memcpy(&lSeconds, pBytes, sizeof lSeconds);
        llTimeSeconds = lSeconds;
    } else {
        memcpy(&llTimeSeconds, pBytes, sizeof llTimeSeconds);
        if (llTimeSeconds > INT64_MAX / 1000000 || llTimeSeconds < INT64_MIN / 1000000) return false;
    }
    interval = ACCUMULATOR_DATA{};
    interval.m_ttStartTime = static_cast<time_t>(llTimeSeconds);
    memcpy(&interval.m_9000AccumCount, pBytes + timeSize, sizeof(uint16_t));
    memcpy(&interval.m_9000DemandCount, pBytes + timeSize + 2, sizeof(uint16_t));
    memcpy(reinterpret_cast<char*>(&interval) + FIRST_QUANTITY, pBytes + timeSize + 4,
           QUANTITY_COUNT * sizeof(float));
    return true;
}

bool upgradeEventSchema(sqlite3* pDb, bool bWritable, std::string& error, std::string& note) {
    note.clear();
    const auto failed = [&](const std::string& why) {
        error = why;
        return false;
    };
    const auto refusal = [&](int64_t llVersion) {
        return "its layout is version " + std::to_string(llVersion) + ", newer than this build's (" +
               std::to_string(EVENT_SCHEMA_VERSION) + "): left as it is; a newer qmhost reads it";
    };
    int64_t llVersion = single(pDb, "PRAGMA user_version");
    if (llVersion < 0) return failed(sqlite3_errmsg(pDb));
    if (llVersion == EVENT_SCHEMA_VERSION) return true;
    if (llVersion > EVENT_SCHEMA_VERSION) return failed(refusal(llVersion));
    if (!bWritable)
        return failed("its layout is version " + std::to_string(llVersion) +
                      " and must be moved to version " + std::to_string(EVENT_SCHEMA_VERSION) +
                      ", but it is read-only");
    if (!execute(pDb, "BEGIN IMMEDIATE")) return failed(sqlite3_errmsg(pDb));
    llVersion = single(pDb, "PRAGMA user_version");  // another connection may have moved it meanwhile
    bool bDone = llVersion == EVENT_SCHEMA_VERSION ||
                 (llVersion >= 0 && llVersion < EVENT_SCHEMA_VERSION && moveFrom(pDb, llVersion, note));
    if (bDone && execute(pDb, "COMMIT")) return true;
    error = llVersion > EVENT_SCHEMA_VERSION ? refusal(llVersion) : sqlite3_errmsg(pDb);
    note.clear();
    execute(pDb, "ROLLBACK");
    return false;
}

namespace {

std::string columnText(sqlite3_stmt* p, int nColumn) {
    const unsigned char* psz = sqlite3_column_text(p, nColumn);
    return psz ? reinterpret_cast<const char*>(psz) : "";
}

}  // namespace

void readEventRow(sqlite3_stmt* p, StoredEvent& event) {
    event.llId = sqlite3_column_int64(p, 0);
    event.llStartMicros = sqlite3_column_int64(p, 1);
    event.llEndMicros = sqlite3_column_int64(p, 2);
    event.llTriggerMicros = sqlite3_column_int64(p, 3);
    event.ulTriggerStatus = static_cast<uint32_t>(sqlite3_column_int64(p, 4));
    event.classification = columnText(p, 5);
    event.phases = columnText(p, 6);
    event.dExtreme = sqlite3_column_double(p, 7);
    event.llDurationMicros = sqlite3_column_int64(p, 8);
    event.storedRecords = static_cast<size_t>(sqlite3_column_int64(p, 9));
    event.bOpen = sqlite3_column_int(p, 10) != 0;
    event.bIncomplete = sqlite3_column_int(p, 11) != 0;
    event.bRecordsPruned = sqlite3_column_int(p, 12) != 0;
}

const char* const EVENT_COLUMNS =
    "SELECT id, start_us, end_us, trigger_us, trigger_status, classification, phases, extreme, duration_us, "
    "records, open, incomplete, records_pruned "
    "FROM events ";
