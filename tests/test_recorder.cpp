// The recorder: windows classified as a power-quality meter reports them,
// stored whole in SQLite, and a disk that refuses never holding up the ring.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "ConfigFile.h"
#include "HostBlock.h"
#include "PluginFixture.h"
#include "Recorder.h"
#include "ScratchFiles.h"

namespace {

// Ten records 10 ms apart; `volts(record, phase)` sets the one-cycle RMS voltages.
template <typename Volts>
StoredEvent window(Volts&& volts) {
    StoredEvent event;
    for (int r = 0; r < 10; r++) {
        StoredRecord record{1700000000000000 + r * 10000, 0, {}};
        for (int p = 0; p < 3; p++) record.values[jrnl_VRMS1_A + p] = volts(r, p);
        event.records.push_back(record);
    }
    event.llStartMicros = event.records.front().llTimeMicros;
    event.llEndMicros = event.records.back().llTimeMicros;
    return event;
}

TEST(Recorder, ClassifiesWindowsAsPowerQualityMetersReportThem) {
    const auto during = [](int r, int from, int to) { return r >= from && r <= to; };
    const struct {
        std::function<float(int, int)> volts;
        double dDipPercent;
        const char *pszClass, *pszPhases;
        double dExtreme, dDurationMillis;
    } cases[] = {
        {[](int, int) { return 230.0f; }, 90, "limit", "", 0, 0},
        {[&](int r, int p) { return during(r, 3, 5) && p == 1 ? 100.0f : 230.0f; }, 90, "dip", "B", 100, 30},
        {[&](int r, int p) { return during(r, 2, 3) ? 5.0f + p : 230.0f; }, 90, "interruption", "ABC", 5, 20},
        {[&](int r, int p) { return during(r, 2, 3) && p > 0 ? 5.0f : 230.0f; }, 90, "dip", "BC", 5, 20},
        {[&](int r, int p) { return during(r, 4, 9) && p != 1 ? 270.0f - r : 230.0f; }, 90, "swell", "AC",
         266, 50},
        {[&](int r, int p) { return during(r, 4, 5) ? (p == 0 ? 200.0f : 260.0f) : 230.0f; }, 90, "dip", "A",
         200, 20},
        {[&](int r, int p) { return during(r, 4, 5) ? (p == 0 ? 200.0f : 260.0f) : 230.0f; }, 80, "swell",
         "BC", 260, 20},
    };
    for (const auto& c : cases) {
        StoredEvent event = window(c.volts);
        VoltageThresholds thresholds;
        thresholds.dDipPercent = c.dDipPercent;
        classifyEvent(event, thresholds);
        EXPECT_EQ(event.classification + "/" + event.phases, std::string(c.pszClass) + "/" + c.pszPhases);
        EXPECT_FLOAT_EQ(event.dExtreme, c.dExtreme) << c.pszClass;
        EXPECT_EQ(event.llDurationMicros, c.dDurationMillis * 1000) << c.pszClass;
    }
}

// Records n..n+9 in the ring, one second apart, the window over them pending
// and `unFilled` of them written; `volts(n)`: record n's one-cycle RMS voltage on A.
void pendWindow(
    STATUS_AND_CONTROL& block, uint16_t unFirst, uint16_t unFilled,
    const std::function<float(int)>& volts = [](int n) { return 230.0f + n; }) {
    for (uint16_t n = unFirst; n != unFirst + 10; n++) {
        block.s_AcquisitionBuffer[n % ACQ_BUFFER_RECORDS] =
            DATA_ACQ{1700000000u + n, 0, n == unFirst + 3, {}};
        float* pfJournal = block.s_AcquisitionBuffer[n % ACQ_BUFFER_RECORDS].m_fJournal;
        pfJournal[jrnl_VRMS1_A] = volts(n);
        pfJournal[jrnl_VRMS1_B] = pfJournal[jrnl_VRMS1_C] = 230.0f;
    }
    block.s_unAcqBufferNextWrite = unFirst;
    block.s_unAcqBufferLastWrite = (unFirst + 10) % ACQ_BUFFER_RECORDS;
    block.s_unAcqBufferNextIn = (unFirst + unFilled) % ACQ_BUFFER_RECORDS;
}

TEST(Recorder, TakesAFilledWindowWholeAndALockedDatabaseRetriesThenDrops) {
    ScratchDirectory dir;
    HostBlockPtr block = makeHostBlock();
    Recorder recorder(*block, VoltageThresholds{});
    std::string error;
    ASSERT_TRUE(recorder.open(dir.path("events.db"), error)) << error;
    pendWindow(*block, 4090, 9);  // across the ring's end, one record still to come
    EXPECT_FALSE(recorder.step());
    block->s_unAcqBufferNextIn = 4;
    EXPECT_TRUE(recorder.step());
    EXPECT_EQ(block->s_unAcqBufferNextWrite, 4);

    sqlite3* pOther = nullptr;  // another program writing: the database is locked
    ASSERT_EQ(sqlite3_open(dir.path("events.db").c_str(), &pOther), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(pOther, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    pendWindow(*block, 100, 10);
    testing::internal::CaptureStderr();  // the live view redraws standard output
    for (int nPass = 0; nPass < 20 && recorder.step(); nPass++) {
    }
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_EQ(block->s_unAcqBufferNextWrite, 110);  // measurement goes on all the same
    EXPECT_EQ(output,
              "qmhost: recorder: cannot store a window: database is locked; retrying\n"
              "qmhost: recorder: a window dropped after 5 attempts (1 dropped)\n");
    sqlite3_exec(pOther, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(pOther);
    pendWindow(*block, 200, 10);
    EXPECT_TRUE(recorder.step());
    EXPECT_EQ(recorder.counts().unWindows, 2u);
    EXPECT_EQ(recorder.counts().unDropped, 1u);

    EventDatabase database;
    ASSERT_TRUE(database.open(dir.path("events.db"), error));
    const std::vector<StoredEvent> events = database.listEvents(10, error);
    ASSERT_EQ(events.size(), 2u);
    StoredEvent stored;
    ASSERT_TRUE(database.loadEvent(events[0].llId, stored, error));  // the newest first
    ASSERT_EQ(stored.records.size(), 10u);
    EXPECT_EQ(stored.records[9].llTimeMicros, int64_t{1700000209} * 1000000);
    EXPECT_EQ(stored.records[9].values[jrnl_VRMS1_A], 439.0f);
    EXPECT_EQ(stored.llTriggerMicros, stored.records[3].llTimeMicros);  // the first with limit bits
}

// A swell seen starting in one window and ending in a later one is one event
// with its whole duration, also when the later window's write is retried.
TEST(Recorder, ADisturbanceOutlastingItsWindowIsOneEvent) {
    ScratchDirectory dir;
    HostBlockPtr block = makeHostBlock();
    Recorder recorder(*block, VoltageThresholds{});
    std::string error;
    ASSERT_TRUE(recorder.open(dir.path("events.db"), error)) << error;
    const auto swell = [](int from, int to, float peak) {
        return [=](int n) { return n >= from && n < to ? peak : 230.0f; };
    };
    pendWindow(*block, 0, 10, swell(5, 1000, 260));
    ASSERT_TRUE(recorder.step());
    sqlite3* pOther = nullptr;  // the later window's first write finds the database locked
    ASSERT_EQ(sqlite3_open(dir.path("events.db").c_str(), &pOther), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(pOther, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    pendWindow(*block, 500, 10, swell(0, 503, 262));
    captureStdout([&] { recorder.step(); });
    sqlite3_exec(pOther, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(pOther);
    while (recorder.step()) {
    }
    pendWindow(*block, 600, 10, swell(0, 605, 270));  // the swell had ended: a new one
    while (recorder.step()) {
    }

    EventDatabase database;
    ASSERT_TRUE(database.open(dir.path("events.db"), error));
    const std::vector<StoredEvent> events = database.listEvents(10, error);
    ASSERT_EQ(events.size(), 2u);
    StoredEvent whole;
    ASSERT_TRUE(database.loadEvent(events[1].llId, whole, error));
    EXPECT_EQ(whole.classification + "/" + whole.phases, "swell/A");
    EXPECT_EQ(whole.llDurationMicros, int64_t{498} * 1000000);  // records 5 to 502
    EXPECT_EQ(whole.dExtreme, 262.0);
    ASSERT_EQ(whole.records.size(), 20u);
    EXPECT_EQ(whole.llEndMicros, whole.records.back().llTimeMicros);
    EXPECT_EQ(whole.records[10].llTimeMicros, int64_t{1700000500} * 1000000);
    EXPECT_EQ(events[0].llDurationMicros, int64_t{5} * 1000000);
}

// A process killed in the middle of writing leaves every event whole.
TEST(Recorder, AnEventIsStoredWholeOrNotAtAllWhenTheProcessIsKilled) {
    ScratchDirectory dir;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        EventDatabase database;
        std::string error;
        if (!database.open(dir.path("events.db"), error)) _exit(1);
        StoredEvent event = window([](int, int) { return 230.0f; });
        event.records.resize(2000, event.records.back());
        while (database.storeEvent(event, error) && write(fds[1], "x", 1) == 1) {
        }
        _exit(1);
    }
    close(fds[1]);
    int nStored = 0;  // five events in, then killed mid-write
    for (char c; nStored < 5 && read(fds[0], &c, 1) == 1;) nStored++;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(fds[0]);
    ASSERT_EQ(nStored, 5);
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(dir.path("events.db").c_str(), &pDb), SQLITE_OK);
    sqlite3_stmt* pStatement = nullptr;
    sqlite3_prepare_v2(
        pDb,
        "SELECT COUNT(*), SUM(records = (SELECT COUNT(*) FROM records WHERE event_id = events.id)) "
        "FROM events",
        -1, &pStatement, nullptr);
    ASSERT_EQ(sqlite3_step(pStatement), SQLITE_ROW);
    EXPECT_GE(sqlite3_column_int(pStatement, 0), 5);
    EXPECT_EQ(sqlite3_column_int(pStatement, 1), sqlite3_column_int(pStatement, 0));
    sqlite3_finalize(pStatement);
    sqlite3_close(pDb);
}

}  // namespace
