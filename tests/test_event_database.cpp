// The event database over the years: today's files moved to the portable
// layout, events a stop cut marked, a database that refuses writes found at
// start, and storage kept within its bound without losing an event.
#include <sqlite3.h>

#include <algorithm>
#include <tuple>

#include "ComtradeExport.h"
#include "CsvExport.h"
#include "EventDatabase.h"
#include "EventSchema.h"
#include "LifetimeEnergy.h"
#include "ScratchFiles.h"

namespace {

// Every row `sql` gives, a line each, its fields separated by '|'.
std::string dump(const std::string& path, const std::string& sql) {
    sqlite3* pDb = nullptr;
    std::string rows;
    sqlite3_open(path.c_str(), &pDb);
    const auto add = [](void* pRows, int nColumns, char** ppValues, char**) {
        for (int c = 0; c < nColumns; c++)
            *static_cast<std::string*>(pRows) +=
                (ppValues[c] ? ppValues[c] : "-") + std::string(c + 1 < nColumns ? "|" : "\n");
        return 0;
    };
    sqlite3_exec(pDb, sql.c_str(), add, &rows, nullptr);
    sqlite3_close(pDb);
    return rows;
}

std::string hex(const void* pBytes, size_t size) {
    std::string text;
    for (size_t i = 0; i < size; i++)
        for (const int nShift : {4, 0})
            text += "0123456789ABCDEF"[static_cast<const uint8_t*>(pBytes)[i] >> nShift & 15];
    return text;
}

// An interval as a version 0 host wrote it, on the board or a 64-bit PC, as an SQL blob: time,
// counts 300 and 5, the 96 quantities 0.5, 1.5, ...
std::string oldBlob(bool bBoard, int64_t llSeconds) {
    std::string blob = hex(&llSeconds, bBoard ? 4 : 8) + "2C010500";  // little-endian
    for (float f = 0.5f; f < 96; f++) blob += hex(&f, sizeof f);
    return "X'" + blob + "'";
}

StoredEvent event(int nRecords, bool bOpen = false) {
    StoredEvent e;
    e.bOpen = bOpen;
    e.records.assign(nRecords, StoredRecord{1700000000000000, 1, {}});
    return e;
}

class EventDatabaseTest : public ::testing::Test {
protected:
    ScratchDirectory m_dir;
    std::string m_path = m_dir.path("events.db"), m_error;
    EventDatabase m_database;
};

// A database today's host made on a swelling line (tests/data), with one interval of each layout
// and one of no layout added: every event, record, snapshot and interval kept.
TEST_F(EventDatabaseTest, TodaysDatabaseMovesToColumnsKeepingEverything) {
    writeFile(m_path, readFile(QM_TEST_DATA_DIR "/events-layout-0.db"));
    for (const std::string& blob :
         {oldBlob(true, INT32_MAX), oldBlob(false, 4102444800), std::string("X'00'")})
        dump(m_path, "INSERT INTO intervals VALUES(NULL, 1, 2, 3, " + blob + ")");
    const std::string kept =
        "SELECT id, start_us, end_us, trigger_us, trigger_status, classification, phases, extreme, "
        "duration_us, records FROM events; SELECT event_id, seq, time_us, limit_status, hex(journal) "
        "FROM records ORDER BY event_id, seq; SELECT id, time_us, frequency, hex(samples) FROM snapshots";
    const std::string before = dump(m_path, kept),
                      run = dump(m_path, "SELECT hex(data) FROM intervals WHERE id = 1");
    ASSERT_EQ(std::count(before.begin(), before.end(), '\n'), 2 + 93 + 1);

    testing::internal::CaptureStderr();
    ASSERT_TRUE(m_database.open(m_path, m_error)) << m_error;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "qmhost: " + m_path +
                  ": moved to layout version 1: 2 events kept, 3 intervals put into columns; " +
                  "1 intervals of a size no build writes are kept apart in table undecoded_intervals; " +
                  "moved to layout version 2: a table for the lifetime energy counters; " +
                  "moved to layout version 3: tables for the MQTT publisher's outbox; " +
                  "moved to layout version 4: tables for the power-quality values and events\n");
    EXPECT_EQ(dump(m_path, kept), before);
    EXPECT_EQ(dump(m_path,
                   "SELECT hex(data) FROM undecoded_intervals; PRAGMA user_version;"
                   "SELECT time_us FROM intervals WHERE id > 1"),
              "00\n4\n2147483647000000\n4102444800000000\n");
    // A version 1 database, as every meter has it before the lifetime energy, moves on keeping everything.
    m_database.close();
    dump(
        m_path,
        "DROP TABLE lifetime_energy; DROP TABLE pq_intervals; DROP TABLE pq_frequency; DROP TABLE pq_events; "
        "ALTER TABLE pruned DROP COLUMN pq_rows; PRAGMA user_version = 1");
    ASSERT_TRUE(m_database.open(m_path, m_error)) << m_error;
    EXPECT_EQ(
        dump(m_path, kept + "; SELECT COUNT(*) FROM lifetime_energy; SELECT COUNT(*) FROM pq_intervals, "
                            "pq_frequency, pq_events; SELECT pq_rows FROM pruned"),
        before + "0\n0\n0\n");
    const std::vector<ACCUMULATOR_DATA> listed = m_database.listIntervals(10, m_error);
    ASSERT_EQ(listed.size(), 3u);
    for (const ACCUMULATOR_DATA& got : {listed[0], listed[1]})
        EXPECT_TRUE(got.m_9000AccumCount == 300 && got.m_9000DemandCount == 5 &&
                    got.m_fDemandMax[0] == 0.5f && got.m_fEnergyTotal[23] == 95.5f);
    // The run's own interval as the host that wrote it read it back, where that was this build's layout.
    EXPECT_TRUE(run.size() != 2 * sizeof(ACCUMULATOR_DATA) + 1 ||
                run == hex(&listed[2], sizeof(ACCUMULATOR_DATA)) + "\n");

    // A database of a newer layout is refused and left as it is.
    const std::string newer = std::to_string(EVENT_SCHEMA_VERSION + 1);
    dump(m_path, "PRAGMA user_version = " + newer);
    EXPECT_FALSE(m_database.open(m_path, m_error));
    EXPECT_EQ(m_error, m_path + ": its layout is version " + newer + ", newer than this build's (" +
                           std::to_string(EVENT_SCHEMA_VERSION) +
                           "): left as it is; a newer qmhost reads it");
    EXPECT_EQ(dump(m_path, kept + "; PRAGMA user_version"), before + newer + "\n");
}

// Events left open by a stop (or a crash) are closed as incomplete, and the exports say so.
TEST_F(EventDatabaseTest, EventsAStopCutAreMarkedIncompleteAndTheExportsSaySo) {
    ASSERT_TRUE(m_database.open(m_path, m_error)) << m_error;
    StoredEvent cut = event(2, true), whole = event(2), extended = event(1, true);
    ASSERT_TRUE(m_database.storeEvent(cut, m_error) && m_database.storeEvent(whole, m_error) &&
                m_database.storeEvent(extended, m_error));
    const std::string marks = "SELECT open, incomplete FROM events";
    EXPECT_EQ(dump(m_path, marks), "1|0\n0|0\n1|0\n");
    extended.bOpen = false;  // the window appended saw its disturbance end
    ASSERT_TRUE(m_database.extendEvent(extended.llId, extended, m_error) &&
                m_database.closeOpenEvents(m_error));
    EXPECT_EQ(dump(m_path, marks), "0|1\n0|0\n0|0\n");

    const std::string note =
        "incomplete: the recorder stopped while the event went on, so it ends at its last stored record";
    for (StoredEvent* pEvent : {&cut, &whole}) {
        StoredEvent loaded;
        ASSERT_TRUE(m_database.loadEvent(pEvent->llId, loaded, m_error));
        const std::string csv = csvOfEvent(loaded);  // the note last in the header and the first row only
        const size_t header = csv.find("\r\n"), first = csv.find("\r\n", header + 2);
        EXPECT_EQ((csv.find(",note\r\n") == header - 5) +
                      (csv.find(",\"" + note + "\"\r\n") == first - note.size() - 3) +
                      (csv.rfind(",\r\n") == csv.size() - 3),
                  loaded.bIncomplete ? 3 : 0);
        EXPECT_EQ(comtradeOfEvent(loaded, "x").hdr, pEvent == &cut ? "event 1: " + note + "\r\n" : "");
    }
}

// Read-only or unreachable: found at start in one line; a read-only one still read.
TEST_F(EventDatabaseTest, ADatabaseThatRefusesWritesIsFoundAtStartAndStillRead) {
    StoredEvent stored = event(3);
    ASSERT_TRUE(m_database.open(m_path, m_error) && m_database.storeEvent(stored, m_error));
    EXPECT_TRUE(m_database.checkWritable(m_error) && m_database.storageStatus().bWritable) << m_error;
    const std::string uri = "file:" + m_path + "?mode=ro";
    ASSERT_TRUE(m_database.open(uri, m_error)) << m_error;
    EXPECT_TRUE(m_database.loadEvent(stored.llId, stored, m_error) && stored.records.size() == 3) << m_error;
    EXPECT_FALSE(m_database.storageStatus().bWritable || m_database.storeEvent(stored, m_error));
    EXPECT_EQ(m_error, uri + " is read-only");
    EXPECT_FALSE(m_database.checkWritable(m_error));
    EXPECT_EQ(m_error, uri + ": events cannot be stored: it is read-only");
    EXPECT_FALSE(m_database.open(m_dir.path("gone/events.db"), m_error));
    EXPECT_EQ(m_error,
              m_dir.path("gone/events.db") + ": unable to open database file (No such file or directory)");
}

// "<events> events, <whole> whole, <snapshots> snapshots pruned, within|over": the events whole are
// the newest, the others marked pruned, without records, and counted.
std::string storageOf(EventDatabase& database) {
    std::string error;
    const std::vector<StoredEvent> events = database.listEvents(1000, error);
    size_t nWhole = 0;
    for (const StoredEvent& e : events) {  // the newest first
        StoredEvent loaded;
        database.loadEvent(e.llId, loaded, error);
        const bool bWhole = loaded.records.size() == e.recordCount() && !e.bRecordsPruned;
        if (bWhole ? nWhole != size_t(&e - &events[0]) : !loaded.records.empty() || !e.bRecordsPruned)
            return "event " + std::to_string(e.llId) + " out of order";
        nWhole += bWhole;
    }
    const StorageStatus status = database.storageStatus();
    if (status.llPrunedEvents != int64_t(events.size() - nWhole)) return "pruned events miscounted";
    return std::to_string(events.size()) + " events, " +
           (nWhole > 1 && nWhole < events.size() ? "some" : std::to_string(nWhole)) + " whole, " +
           std::to_string(status.llPrunedSnapshots) + " snapshots pruned, " +
           (status.llUsedBytes <= status.llMaxBytes ? "within" : "over");
}

// Within a bound of 256 KiB, or on a disk that fills (SQLite's page limit, as every connection of
// the test gets it), the oldest events' records go first; the bound lowered below what the summaries
// take, the snapshots go too; each write leaves the newest event whole; none is lost.
TEST_F(EventDatabaseTest, StorageStaysWithinItsBoundLosingNoEvent) {
    const auto fullDisk = [](sqlite3* pDb, char**, const sqlite3_api_routines*) {
        return sqlite3_exec(pDb, "PRAGMA max_page_count = 64", nullptr, nullptr, nullptr);
    };
    for (const bool bDiskFills : {false, true}) {
        ScratchDirectory dir;
        const std::string path = dir.path("events.db");
        if (bDiskFills) sqlite3_auto_extension(reinterpret_cast<void (*)()>(+fullDisk));
        ASSERT_TRUE(
            m_database.open(path, m_error, bDiskFills ? StorageLimits{} : StorageLimits{256 << 10, 3}));
        StoredSnapshot shot;
        StoredEvent e;
        for (int i = 0; i < 5; i++) ASSERT_TRUE(m_database.storeSnapshot(shot, m_error)) << m_error;
        testing::internal::CaptureStderr();
        for (int i = 0; i < 40; i++) ASSERT_TRUE(m_database.storeEvent(e = event(40), m_error)) << m_error;
        EXPECT_EQ(storageOf(m_database), bDiskFills ? "40 events, some whole, 0 snapshots pruned, within"
                                                    : "40 events, some whole, 2 snapshots pruned, within");
        EXPECT_TRUE(m_database.loadSnapshot(3, shot, m_error) &&
                    m_database.loadSnapshot(2, shot, m_error) == bDiskFills);
        EXPECT_TRUE(m_database.loadEvent(1, e, m_error) &&
                    comtradeOfEvent(e, "x").refusal ==
                        "its records were pruned to keep the database within its bound");

        ASSERT_TRUE(m_database.open(path, m_error, {1, 3}));
        for (int i = 0; i < 2; i++) ASSERT_TRUE(m_database.storeEvent(e = event(40), m_error));
        EXPECT_EQ(storageOf(m_database), "42 events, 1 whole, 5 snapshots pruned, over");
        testing::internal::GetCapturedStderr();
        sqlite3_reset_auto_extension();
    }
}

// Lifetime energy counters as stored: restored, never lowered, one a later build added left as it is;
// one that is no count of watt-hours refused by its name, nothing changed.
TEST_F(EventDatabaseTest, LifetimeCountersAreRestoredNeverLoweredAndThoseNoCountRefused) {
    for (const auto& [pszStored, pszRefused, pszAfter] :
         std::vector<std::tuple<const char*, const char*, const char*>>{
             {"('wh_import_b', 12.5, 7), ('wh_later', 3, 5)", "", "wh_import_b|12.5\nwh_later|3.0\n"},
             {"('wh_import_a', 'lots', 7)", "wh_import_a", "wh_import_a|lots\n"},
             {"('varh_export_total', -1, 7)", "varh_export_total", "varh_export_total|-1.0\n"}}) {
        SCOPED_TRACE(pszStored);
        ASSERT_TRUE(m_database.open(m_path, m_error)) << m_error;
        dump(m_path,
             std::string("DELETE FROM lifetime_energy; INSERT INTO lifetime_energy VALUES ") + pszStored);
        LifetimeEnergy lifetime;
        LifetimeTotals totals;
        const bool bOpened = lifetime.open(m_path, StorageLimits{}, m_error) && lifetime.published(totals) &&
                             lifetime.save(m_error);
        EXPECT_TRUE(bOpened
                        ? !*pszRefused && totals.values[life_WH_IMPORT_B] == 12.5 && totals.llTimeMicros == 7
                        : m_error.find(std::string("counter ") + pszRefused + " is stored as no count") !=
                              std::string::npos)
            << m_error;
        EXPECT_TRUE(!bOpened || m_database.storeLifetimeEnergy({{"wh_import_b", 1.0}}, 8, m_error))
            << m_error;
        EXPECT_EQ(dump(m_path, "SELECT name, value FROM lifetime_energy WHERE value != 0"), pszAfter);
    }
}

}  // namespace
