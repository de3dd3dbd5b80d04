// The event database over the years: today's files moved to the portable
// layout, events a stop cut marked, a database that refuses writes found at
// start, and storage kept within its bound without losing an event.
#include <sqlite3.h>

#include <cstring>

#include "ComtradeExport.h"
#include "CsvExport.h"
#include "EventDatabase.h"
#include "ScratchFiles.h"

namespace {

// Every row `sql` gives, a line each, its fields separated by '|'.
std::string dump(const std::string& path, const std::string& sql) {
    sqlite3* pDb = nullptr;
    sqlite3_open(path.c_str(), &pDb);
    std::string rows;
    sqlite3_exec(
        pDb, sql.c_str(),
        [](void* pRows, int nColumns, char** ppValues, char**) {
            std::string& text = *static_cast<std::string*>(pRows);
            for (int c = 0; c < nColumns; c++)
                text += std::string(c ? "|" : "") + (ppValues[c] ? ppValues[c] : "-");
            text += "\n";
            return 0;
        },
        &rows, nullptr);
    sqlite3_close(pDb);
    return rows;
}

StoredEvent event(int nRecords, bool bOpen = false) {
    StoredEvent e;
    e.bOpen = bOpen;
    e.records.assign(nRecords, StoredRecord{1700000000000000, 1, {}});
    return e;
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
         {oldBlob(true, INT32_MAX), oldBlob(false, 4102444800), "X'" + std::string(200, '0') + "'"})
        dump(m_path,
             "INSERT INTO intervals(start_s, accum_count, demand_count, data) VALUES(1,2,3," + blob + ")");
    const std::string kept[] = {
        "SELECT id, start_us, end_us, trigger_us, trigger_status, classification, phases, extreme, "
        "duration_us, records FROM events",
        "SELECT event_id, seq, time_us, limit_status, hex(journal) FROM records ORDER BY event_id, seq",
        "SELECT id, time_us, frequency, hex(samples) FROM snapshots"};
    std::string before[3];
    for (int i = 0; i < 3; i++) before[i] = dump(m_path, kept[i]);
    const std::string runIntervals =
        dump(m_path, "SELECT start_s, accum_count, demand_count FROM intervals WHERE id = 1");
    const std::string runBlob = dump(m_path, "SELECT hex(data) FROM intervals WHERE id = 1");
    ASSERT_TRUE(!before[0].empty() && !before[2].empty() && !runIntervals.empty());

    testing::internal::CaptureStderr();
    ASSERT_TRUE(m_database.open(m_path, m_error)) << m_error;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "qmhost: " + m_path +
                  ": moved to layout version 1: 2 events kept, 3 intervals put into columns; " +
                  "1 intervals of a size no build writes are kept apart in table undecoded_intervals\n");
    for (int i = 0; i < 3; i++) EXPECT_EQ(dump(m_path, kept[i]), before[i]) << kept[i];
    EXPECT_EQ(
        dump(m_path, "SELECT length(data) FROM undecoded_intervals") + dump(m_path, "PRAGMA user_version"),
        "100\n1\n");

    const std::vector<ACCUMULATOR_DATA> listed = m_database.listIntervals(10, m_error);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(dump(m_path, "SELECT time_us FROM intervals WHERE id > 1"),
              "2147483647000000\n4102444800000000\n");
    for (const ACCUMULATOR_DATA& got : {listed[0], listed[1]})
        EXPECT_TRUE(got.m_9000AccumCount == 300 && got.m_9000DemandCount == 5 &&
                    got.m_fDemandMax[0] == 0.5f && got.m_fDemandAvg[23] == 47.5f &&
                    got.m_fEnergyAccum[0] == 48.5f && got.m_fEnergyTotal[23] == 95.5f);
    // The run's own interval as the host that wrote it read it back (where it was this build's layout).
    EXPECT_EQ(runIntervals, std::to_string(listed[2].m_ttStartTime) + "|" +
                                std::to_string(listed[2].m_9000AccumCount) + "|" +
                                std::to_string(listed[2].m_9000DemandCount) + "\n");
    if (runBlob.size() == 2 * sizeof(ACCUMULATOR_DATA) + 1) {
        EXPECT_EQ(runBlob, hex(&listed[2], sizeof(ACCUMULATOR_DATA)) + "\n");
    }

    // Moved once; a database of a newer layout is refused and left as it is.
    EXPECT_TRUE(m_database.open(m_path, m_error));
    dump(m_path, "PRAGMA user_version = 2");
    EXPECT_FALSE(m_database.open(m_path, m_error));
    EXPECT_EQ(m_error, m_path +
                           ": its layout is version 2, newer than this build's (1): left as it is; a newer "
                           "qmhost reads it");
    EXPECT_EQ(dump(m_path, kept[0]) + dump(m_path, "PRAGMA user_version"), before[0] + "2\n");
}

// Events left open by a stop (or a crash) are closed as incomplete, and the exports say so.
TEST_F(EventDatabaseTest, EventsAStopCutAreMarkedIncompleteAndTheExportsSaySo) {
    ASSERT_TRUE(m_database.open(m_path, m_error)) << m_error;
    StoredEvent cut = event(2, true), whole = event(2), extended = event(1, true);
    ASSERT_TRUE(m_database.storeEvent(cut, m_error) && m_database.storeEvent(whole, m_error) &&
                m_database.storeEvent(extended, m_error));
    const auto marks = [&] {  // open and incomplete, the oldest first
        std::string text;
        for (const StoredEvent& e : m_database.listEvents(10, m_error))
            text = std::to_string(e.bOpen) + std::to_string(e.bIncomplete) + " " + text;
        return text;
    };
    EXPECT_EQ(marks(), "10 00 10 ");
    extended.bOpen = false;  // the window appended saw its disturbance end
    ASSERT_TRUE(m_database.extendEvent(extended.llId, extended, m_error));
    ASSERT_TRUE(m_database.closeOpenEvents(m_error));
    EXPECT_EQ(marks(), "01 00 00 ");

    const std::string note =
        "incomplete: the recorder stopped while the event went on, so it ends at its last "
        "stored record";
    for (StoredEvent* pEvent : {&cut, &whole}) {
        StoredEvent loaded;
        ASSERT_TRUE(m_database.loadEvent(pEvent->llId, loaded, m_error));
        const bool bCut = pEvent == &cut;
        const std::string csv = csvOfEvent(loaded);  // the note in the header, the first row, not the last
        const size_t header = csv.find("\r\n"), first = csv.find("\r\n", header + 2);
        const auto ends = [&](size_t at, const std::string& tail) {
            return std::to_string(csv.compare(at - tail.size(), tail.size(), tail) == 0);
        };
        EXPECT_EQ(ends(header, ",note") + ends(first, ",\"" + note + "\"") + ends(csv.size() - 2, ","),
                  bCut ? "111" : "000");
        EXPECT_EQ(comtradeOfEvent(loaded, "x").hdr, bCut ? "event 1: " + note + "\r\n" : "");
    }
}

// Read-only, locked or unreachable: found at start in one line; a read-only one still read.
TEST_F(EventDatabaseTest, ADatabaseThatRefusesWritesIsFoundAtStartAndStillRead) {
    StoredEvent stored = event(3);
    ASSERT_TRUE(m_database.open(m_path, m_error) && m_database.storeEvent(stored, m_error));
    const std::string contents = dump(m_path, "SELECT * FROM events") + dump(m_path, "SELECT * FROM pruned");
    EXPECT_TRUE(m_database.checkWritable(m_error) && m_database.storageStatus().bWritable) << m_error;
    EXPECT_EQ(dump(m_path, "SELECT * FROM events") + dump(m_path, "SELECT * FROM pruned"), contents);
    sqlite3* pOther = nullptr;
    sqlite3_open(m_path.c_str(), &pOther);
    sqlite3_exec(pOther, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    EXPECT_FALSE(m_database.checkWritable(m_error));
    EXPECT_EQ(m_error, m_path + ": events cannot be stored: database is locked");
    sqlite3_close(pOther);

    EventDatabase readOnly;
    const std::string uri = "file:" + m_path + "?mode=ro";
    ASSERT_TRUE(readOnly.open(uri, m_error)) << m_error;
    StoredEvent loaded;
    EXPECT_TRUE(readOnly.loadEvent(stored.llId, loaded, m_error) && loaded.records.size() == 3) << m_error;
    EXPECT_FALSE(readOnly.checkWritable(m_error) || readOnly.storageStatus().bWritable ||
                 readOnly.isWritable());
    EXPECT_EQ(m_error, uri + ": events cannot be stored: it is read-only");
    EXPECT_FALSE(readOnly.storeEvent(stored, m_error));
    EXPECT_FALSE(readOnly.open(m_dir.path("gone/events.db"), m_error));
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
        if (loaded.records.size() == e.recordCount() && !e.bRecordsPruned &&
            nWhole == size_t(&e - &events[0]))
            nWhole++;
        else if (!loaded.records.empty() || !e.bRecordsPruned)
            return "event " + std::to_string(e.llId) +
                   " is neither whole nor pruned, or whole after a pruned one";
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
    const struct {
        StorageLimits limits;
        bool bDiskFills;
        const char* pszFilled;
    } cases[] = {{{256 << 10, 3}, false, "40 events, some whole, 2 snapshots pruned, within"},
                 {{}, true, "40 events, some whole, 0 snapshots pruned, within"}};
    for (const auto& c : cases) {
        ScratchDirectory dir;
        const std::string path = dir.path("events.db");
        if (c.bDiskFills) sqlite3_auto_extension(reinterpret_cast<void (*)()>(+fullDisk));
        ASSERT_TRUE(m_database.open(path, m_error, c.limits)) << m_error;
        StoredSnapshot shot;
        StoredEvent fresh;
        for (int i = 0; i < 5; i++) ASSERT_TRUE(m_database.storeSnapshot(shot, m_error)) << m_error;
        testing::internal::CaptureStderr();
        for (int i = 0; i < 40; i++)
            ASSERT_TRUE(m_database.storeEvent(fresh = event(40), m_error)) << m_error;
        EXPECT_EQ(storageOf(m_database), c.pszFilled);
        EXPECT_TRUE(m_database.loadSnapshot(3, shot, m_error) &&
                    m_database.loadSnapshot(2, shot, m_error) == c.bDiskFills);
        ASSERT_TRUE(m_database.loadEvent(1, fresh, m_error));
        EXPECT_EQ(comtradeOfEvent(fresh, "x").refusal,
                  "its records were pruned to keep the database within its bound");

        ASSERT_TRUE(m_database.open(path, m_error, {1, 3}));
        for (int i = 0; i < 2; i++) ASSERT_TRUE(m_database.storeEvent(fresh = event(40), m_error));
        EXPECT_EQ(storageOf(m_database), "42 events, 1 whole, 5 snapshots pruned, over");
        std::string told;
        for (const int64_t llBound : {c.limits.llMaxBytes, int64_t{1}})
            told += "qmhost: " + path + ": at its bound of " + std::to_string(llBound) +
                    " bytes: the records of the oldest events (their summaries stay), then the oldest "
                    "snapshots, make room for new ones\n";
        EXPECT_EQ(testing::internal::GetCapturedStderr(), told);
        sqlite3_reset_auto_extension();
    }
}

}  // namespace
