// The recorder: windows classified as a power-quality meter reports them,
// stored whole in SQLite, and a disk that refuses never holding up the ring.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

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

// An event but its records: "id start end trigger status class/phases extreme duration records".
std::string fieldsOf(const StoredEvent& e) {
    return (testing::Message() << e.llId << " " << e.llStartMicros << " " << e.llEndMicros << " "
                               << e.llTriggerMicros << " 0x" << std::hex << e.ulTriggerStatus << std::dec
                               << " " << e.classification << "/" << e.phases << " " << e.dExtreme << " "
                               << e.llDurationMicros << " " << e.recordCount())
        .GetString();
}

// The thresholds of the module's configuration, read as the module reads it.
VoltageThresholds configured(const Settings& settings) {
    ScratchDirectory dir;
    writeConfig(dir.path("QM9000.json"), settings);
    LineSettings line;
    EXPECT_TRUE(readLineSettings(dir.path("QM9000.json").c_str(), line));
    return voltageThresholds(line, 5);
}

// A 120 V line whose configuration names no VNominal, as the module triggers on it: interruption, dip
// and swell below 6 V, below 108 V and above 126 V (5, 90 and 105 % of 120 V); an interruption on every
// phase at once; a dip before a swell; a phase the module's limit bit marks is beyond its threshold.
TEST(Recorder, ClassifiesWindowsAsPowerQualityMetersReportThem) {
    constexpr float N = 120;  // nominal
    constexpr uint32_t HIGH_B = LIMIT_VOLTS_HIGH << 8, LOW_C = LIMIT_VOLTS_LOW << 16;
    const struct {
        float fVolts[3];  // on A, B, C over records `from` to `to`, moving `step` a record where not N
        int from, to;
        float step;
        uint32_t ulBits;  // the module's limit bits on records `from` to `to`
        const char *pszClass, *pszPhases;
        double dExtreme, dDurationMillis;
    } cases[] = {
        {{N, N, N}, 0, 9, 0, 0, "limit", "", 0, 0},
        {{108, 126, N}, 0, 9, 0, 0, "limit", "", 0, 0},
        {{N, N, N}, 2, 3, 0, LIMIT_AMPS_HIGH | LIMIT_EXTERNAL_TRIGGER, "limit", "", 0, 0},
        {{107.99f, N, N}, 3, 5, 0, 0, "dip", "A", 107.99f, 30},
        {{N, 80, N}, 3, 5, -2, 0, "dip", "B", 76, 30},
        {{50, 100, N}, 4, 9, 1, 0, "dip", "AB", 50, 50},
        {{6, 0, 0}, 2, 3, 0, 0, "dip", "ABC", 0, 20},
        {{5.99f, 0, 3}, 2, 3, 0, 0, "interruption", "ABC", 0, 20},
        {{5, 5.5f, 5.8f}, 1, 9, -0.5f, 0, "interruption", "ABC", 1, 80},
        {{100, 130, 130}, 4, 5, 0, 0, "dip", "A", 100, 20},
        {{N, N, N}, 3, 3, 0, LOW_C, "dip", "C", N, 10},
        {{N, 127, N}, 4, 5, 0, LOW_C, "dip", "C", N, 20},
        {{126.1f, N, N}, 6, 7, 0, 0, "swell", "A", 126.1f, 20},
        {{N, N, 130}, 4, 9, 1, 0, "swell", "C", 135, 50},
        {{N, N, N}, 4, 5, 0, HIGH_B, "swell", "B", N, 20},
        {{127, N, 128}, 8, 8, 0, HIGH_B, "swell", "ABC", 128, 10},
    };
    const VoltageThresholds thresholds = configured({{"Wiring", "3"}, {"FNominal", "60"}});
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        StoredEvent event = window([&](int r, int p) {
            return r >= c.from && r <= c.to && c.fVolts[p] != N ? c.fVolts[p] + c.step * (r - c.from) : N;
        });
        for (int r = c.from; r <= c.to; r++) event.records[r].ulLimitStatus = c.ulBits;
        classifyEvent(event, thresholds);
        EXPECT_EQ(event.classification + "/" + event.phases, std::string(c.pszClass) + "/" + c.pszPhases);
        EXPECT_FLOAT_EQ(event.dExtreme, c.dExtreme);
        EXPECT_EQ(event.llDurationMicros, c.dDurationMillis * 1000);
    }
    // A 230 V line with a swell above 253 V (110 %): 241.6 V, a swell at the default 105 %, is none.
    const VoltageThresholds line230 = configured({{"VHighPercent", "110"}, {"VNominal", "230"}});
    for (const auto& [fVolts, pszClass] :
         {std::pair{241.6f, "limit/"}, {253.1f, "swell/B"}, {206.9f, "dip/B"}, {207.1f, "limit/"}}) {
        StoredEvent event = window([&](int r, int p) { return p == 1 && r == 4 ? fVolts : 230.0f; });
        classifyEvent(event, line230);
        EXPECT_EQ(event.classification + "/" + event.phases, pszClass) << fVolts;
    }
    // A single phase: the unconnected B and C inputs read 0 V and are no dip; A alone can be interrupted.
    for (const auto& [fVolts, pszClass] :
         {std::pair{N, "limit/"}, {5.0f, "interruption/A"}, {100.0f, "dip/A"}}) {
        StoredEvent event = window([&](int r, int p) { return p > 0 ? 0.0f : r == 4 ? fVolts : N; });
        classifyEvent(event, configured({{"Wiring", "1"}}));
        EXPECT_EQ(event.classification + "/" + event.phases, pszClass) << fVolts;
    }
}

// Records n..n+9 in the ring, one second apart, a current limit from n+3 on, the window over them pending
// and `unFilled` of them written; `volts(n)`: record n's one-cycle RMS voltage on A.
void pendWindow(
    STATUS_AND_CONTROL& block, uint16_t unFirst, uint16_t unFilled,
    const std::function<float(int)>& volts = [](int n) { return 230.0f + n; }) {
    for (uint16_t n = unFirst; n != unFirst + 10; n++) {
        block.s_AcquisitionBuffer[n % ACQ_BUFFER_RECORDS] =
            DATA_ACQ{1700000000u + n, 0, n >= unFirst + 3 ? LIMIT_AMPS_HIGH : 0, {}};
        float* pfJournal = block.s_AcquisitionBuffer[n % ACQ_BUFFER_RECORDS].m_fJournal;
        pfJournal[jrnl_VRMS1_A] = volts(n);
        pfJournal[jrnl_VRMS1_B] = pfJournal[jrnl_VRMS1_C] = 230.0f;
    }
    block.s_unAcqBufferNextWrite = unFirst;
    block.s_unAcqBufferLastWrite = (unFirst + 10) % ACQ_BUFFER_RECORDS;
    block.s_unAcqBufferNextIn = (unFirst + unFilled) % ACQ_BUFFER_RECORDS;
}

// A recorder on a fresh block and database, on virtual time, the database
// read back by a connection of its own, and another program's connection to it.
class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_recorder.open(m_dir.path("events.db"), m_error)) << m_error;
        ASSERT_TRUE(m_database.open(m_dir.path("events.db"), m_error)) << m_error;
        ASSERT_EQ(sqlite3_open(m_dir.path("events.db").c_str(), &m_pOther), SQLITE_OK);
    }
    void TearDown() override { sqlite3_close(m_pOther); }
    // Another program writing (or done): the database is locked (or free again).
    void lock(bool bLocked) {
        ASSERT_EQ(sqlite3_exec(m_pOther, bLocked ? "BEGIN EXCLUSIVE" : "ROLLBACK", nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    // Past any back-off, then every pass until there is nothing to do.
    void drain() {
        m_llNow += Recorder::LAST_RETRY_MICROS;
        while (m_recorder.step()) continue;
    }
    // The module's side: `nCount` records made one after another, 10 ms apart (no voltage: interruptions).
    void makeRecords(int nCount) {
        for (const int64_t llEnd = m_llMade + nCount; m_llMade < llEnd; m_llMade++)
            m_block->s_AcquisitionBuffer[m_llMade % ACQ_BUFFER_RECORDS] = {
                1800000000u + uint32_t(m_llMade / 100), uint32_t(m_llMade % 100) * 10000, 0, {}};
        m_block->s_unAcqBufferNextIn = m_llMade % ACQ_BUFFER_RECORDS;
    }

    ScratchDirectory m_dir;
    HostBlockPtr m_block = makeHostBlock();
    int64_t m_llNow = 0, m_llMade = 0;
    Recorder m_recorder{*m_block, VoltageThresholds{230, 5, 90, 110}, [this] { return m_llNow; }};
    EventDatabase m_database;
    std::string m_error;
    sqlite3* m_pOther = nullptr;
};

// Windows and an interval taken while another program holds the database for
// 30 s are all stored once it lets go; the window taken as soon as it is filled.
TEST_F(RecorderTest, TakesAFilledWindowWholeAndLosesNothingToAThirtySecondLock) {
    pendWindow(*m_block, 4090, 9);  // across the ring's end, one record still to come
    EXPECT_FALSE(m_recorder.step());
    m_block->s_unAcqBufferNextIn = 4;
    EXPECT_TRUE(m_recorder.step());
    EXPECT_EQ(m_block->s_unAcqBufferNextWrite, 4);

    lock(true);
    ACCUMULATOR_DATA intervals[2] = {{1700000300, 300, 5, {1.5f}, {}, {}, {}},
                                     {1700000600, 300, 5, {2.5f}, {}, {}, {}}};
    testing::internal::CaptureStderr();  // the live view redraws standard output
    for (int nTenth = 0; nTenth < 300; nTenth++, m_llNow += 100000) {
        if (nTenth == 0) pendWindow(*m_block, 100, 10, [](int) { return 230.0f; });
        if (nTenth == 100) m_block->s_pLastAccumulator = &intervals[0], m_recorder.afterProcess();
        if (nTenth == 200)  // voltage high on A and B
            pendWindow(*m_block, 200, 10), m_block->s_eiLastEventInfo = {1700000203, 0x00000101};
        m_recorder.step();
    }
    EXPECT_EQ(m_block->s_unAcqBufferNextWrite, 210);  // measurement goes on all the same
    RecorderCounts counts = m_recorder.counts();
    EXPECT_EQ(counts.unPendingWindows * 10 + counts.unPendingIntervals, 21u);
    EXPECT_EQ(counts.lastError + " " + std::to_string(counts.unRetriedWrites),
              "database is locked 20");  // 0.1 ... 3.2 s, then 2 s apart
    lock(false);
    drain();
    for (ACCUMULATOR_DATA& interval : intervals)  // each completed interval stored once
        m_block->s_pLastAccumulator = &interval, m_recorder.afterProcess(), m_recorder.afterProcess();
    drain();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "qmhost: recorder: cannot store a window: database is locked; retrying\n"
              "qmhost: recorder: writing again; 2 windows waited\n");
    counts = m_recorder.counts();
    EXPECT_EQ(counts.lastError + std::to_string(counts.unWindows * 10 + counts.unIntervals +
                                                counts.unPendingWindows + counts.dropped()),
              "32");

    const std::vector<StoredEvent> events = m_database.listEvents(10, m_error);
    ASSERT_EQ(events.size(), 3u);
    // The newest first: records 200 to 209, A from 430 V up; triggered by the first with limit bits.
    EXPECT_EQ(fieldsOf(events[0]),
              "3 1700000200000000 1700000209000000 1700000203000000 0x101 swell/A 439 9000000 10");
    StoredEvent stored;
    ASSERT_TRUE(m_database.loadEvent(events[0].llId, stored, m_error));
    ASSERT_EQ(stored.records.size(), 10u);
    EXPECT_EQ(stored.records[9].llTimeMicros, int64_t{1700000209} * 1000000);
    EXPECT_EQ(stored.records[9].values[jrnl_VRMS1_A], 439.0f);
    EXPECT_EQ(stored.records[3].ulLimitStatus, LIMIT_AMPS_HIGH);
    // Not there (the API's 404), against there but unreadable (its 503).
    EXPECT_FALSE(m_database.loadEvent(424242, stored, m_error) || !m_database.lastLoadMissed());
    sqlite3_exec(m_pOther, "UPDATE records SET journal = x'00'", nullptr, nullptr, nullptr);
    EXPECT_FALSE(m_database.loadEvent(events[0].llId, stored, m_error) || m_database.lastLoadMissed());
    EXPECT_EQ(m_error, "event 3: a record of the wrong size");
    const std::vector<ACCUMULATOR_DATA> listed = m_database.listIntervals(10, m_error);  // the newest first
    EXPECT_TRUE(listed.size() == 2 && listed[0].m_fDemandMax[0] == 2.5f && listed[1].m_fDemandMax[0] == 1.5f);
}

// A window (10 records, 6 made when it opens) taken after the module came round to it is lost, never
// stored; seen first after nearly a lap, it cannot be told from its overwritten slots.
TEST_F(RecorderTest, AWindowOverwrittenInTheRingIsCountedLostNeverStored) {
    unsigned unLost = 0, unStored = 0;  // cases: looked when it opened, records made until the next look
    const int cases[][3] = {{1, 4089, 1}, {1, 4090, 0}, {0, 4085, 1}, {0, 4086, 0}, {1, 9000, 0}};
    for (const auto& [bSeenOpen, nMadeThen, bStored] : cases) {
        makeRecords(20);
        m_recorder.step();
        const int64_t llFirstMicros = 1800000000000000 + (m_llMade - 6) * 10000;
        m_block->s_unAcqBufferNextWrite = (m_llMade - 6) % ACQ_BUFFER_RECORDS;
        m_block->s_unAcqBufferLastWrite = (m_llMade + 4) % ACQ_BUFFER_RECORDS;
        if (bSeenOpen) m_recorder.step();
        makeRecords(nMadeThen);
        m_recorder.step();
        (bStored ? unStored : unLost)++;
        const RecorderCounts counts = m_recorder.counts();
        EXPECT_EQ(counts.unWindows * 100 + counts.unLostWindows, unStored * 100 + unLost) << nMadeThen;
        EXPECT_EQ(m_block->s_unAcqBufferNextWrite, m_block->s_unAcqBufferLastWrite);
        if (!bStored && bSeenOpen) {  // from its first record to the sixth, the newest when seen
            EXPECT_EQ(counts.lost.at(unLost - 1).reason +
                          std::to_string(counts.lost.at(unLost - 1).llStartMicros - llFirstMicros) +
                          std::to_string(counts.lost.at(unLost - 1).llEndMicros - llFirstMicros),
                      "overwritten in the ring050000");
        }
    }
}

// Past MAX_PENDING windows and intervals waiting, the oldest are dropped, counted and listed.
TEST_F(RecorderTest, APendingQueueOverflowingDropsTheOldestAndCountsThem) {
    lock(true);
    for (uint16_t n = 0; n < Recorder::MAX_PENDING + 2; n++)
        pendWindow(*m_block, n * 10, 10, [](int) { return 230.0f; }), m_recorder.step();
    const RecorderCounts counts = m_recorder.counts();
    EXPECT_EQ(counts.unPendingWindows * 10 + counts.unDroppedWindows, Recorder::MAX_PENDING * 10 + 2);
    // Windows 0 and 1 listed: records 0 to 9 and 10 to 19.
    EXPECT_EQ(std::to_string(counts.lost.size()) + counts.lost.at(0).reason +
                  std::to_string(counts.lost.at(0).llStartMicros) +
                  std::to_string(counts.lost.at(1).llEndMicros),
              "2pending queue full17000000000000001700000019000000");
    lock(false);
    drain();
    EXPECT_EQ(m_recorder.counts().unWindows, Recorder::MAX_PENDING);
}

// A swell seen starting in one window and ending in a later one is one event
// with its whole duration, also when the later window's write is retried.
TEST_F(RecorderTest, ADisturbanceOutlastingItsWindowIsOneEvent) {
    const auto swell = [](int from, int to, float peak) {
        return [=](int n) { return n >= from && n < to ? peak : 230.0f; };
    };
    pendWindow(*m_block, 0, 10, swell(5, 1000, 260));
    ASSERT_TRUE(m_recorder.step());
    lock(true);  // the later window's first write finds the database locked
    pendWindow(*m_block, 500, 10, swell(0, 503, 262));
    captureStdout([&] { m_recorder.step(); });
    lock(false);
    drain();
    pendWindow(*m_block, 600, 10, swell(0, 605, 270));  // the swell had ended: a new one
    drain();
    const std::vector<StoredEvent> events = m_database.listEvents(10, m_error);
    ASSERT_EQ(events.size(), 2u);
    // Records 0 to 9 and 500 to 509, the swell on from 5 to 502; the later one from 600 to 604.
    EXPECT_EQ(fieldsOf(events[1]),
              "1 1700000000000000 1700000509000000 1700000003000000 0x0 swell/A 262 498000000 20");
    EXPECT_EQ(fieldsOf(events[0]),
              "2 1700000600000000 1700000609000000 1700000603000000 0x0 swell/A 270 5000000 10");
    StoredEvent whole;
    ASSERT_TRUE(m_database.loadEvent(events[1].llId, whole, m_error));
    ASSERT_EQ(whole.records.size(), 20u);
    EXPECT_EQ(whole.records[10].llTimeMicros, int64_t{1700000500} * 1000000);

    // A swell still on at its window's last record when the recorder stops reads back incomplete.
    pendWindow(*m_block, 700, 10, swell(705, 1000, 265));
    drain();
    m_recorder.stop();
    const std::vector<StoredEvent> after = m_database.listEvents(10, m_error);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_TRUE(after[0].bIncomplete && !after[1].bIncomplete && !after[2].bIncomplete);

    // One that cannot be written is found at the start: nothing is taken for it, and the counts say so.
    Recorder readOnly{*m_block, {}, [] { return int64_t{0}; }};
    EXPECT_FALSE(readOnly.open("file:" + m_dir.path("events.db") + "?mode=ro", m_error));
    ACCUMULATOR_DATA interval{1700000900, 1, 1, {}, {}, {}, {}};
    m_block->s_pLastAccumulator = &interval;
    readOnly.afterProcess();
    const RecorderCounts refused = readOnly.counts();
    EXPECT_TRUE(!refused.bRecording && refused.lastError == m_error && refused.unPendingIntervals == 0)
        << refused.lastError;
}

// A process killed in the middle of writing leaves every event whole.
TEST_F(RecorderTest, AnEventIsStoredWholeOrNotAtAllWhenTheProcessIsKilled) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        EventDatabase database;
        std::string error;
        if (!database.open(m_dir.path("events.db"), error)) _exit(1);
        StoredEvent event = window([](int, int) { return 230.0f; });
        event.records.resize(2000, event.records.back());
        while (database.storeEvent(event, error) && write(fds[1], "x", 1) == 1) continue;
        _exit(1);
    }
    close(fds[1]);
    int nStored = 0;  // five events in, then killed mid-write
    for (char c; nStored < 5 && read(fds[0], &c, 1) == 1;) nStored++;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(fds[0]);
    ASSERT_EQ(nStored, 5);
    sqlite3_stmt* pStatement = nullptr;
    sqlite3_prepare_v2(
        m_pOther,
        "SELECT COUNT(*), SUM(records = (SELECT COUNT(*) FROM records WHERE event_id = events.id)) "
        "FROM events",
        -1, &pStatement, nullptr);
    ASSERT_EQ(sqlite3_step(pStatement), SQLITE_ROW);
    EXPECT_GE(sqlite3_column_int(pStatement, 0), 5);
    EXPECT_EQ(sqlite3_column_int(pStatement, 1), sqlite3_column_int(pStatement, 0));
    sqlite3_finalize(pStatement);
}

// The recorder's thread against the module's process thread on the simulated board, in real time:
// a 1.5 s swell on A, its start and its end in windows of their own.
class RecorderThread : public PluginTest {};

TEST_F(RecorderThread, StoresTheWindowsOfASwellBesideTheProcessCycle) {
    ScratchDirectory dir;
    writeConfig(dir.path("QM9000.json"), with(wyeMeter(), "VLimitEnable", "1"));
    sim::setFullScale(500 * 0.90045f, 10);
    ASSERT_EQ(m_pModule->initialize(dir.path("QM9000.json").c_str(), nullptr, m_block.get()), 0);
    ASSERT_EQ(m_pModule->updateConfig(dir.path("QM9000.json").c_str()), 0);
    ASSERT_EQ(m_pModule->monitorStart(), 0);
    Recorder recorder(block(), VoltageThresholds{});
    std::string error;
    ASSERT_TRUE(recorder.open(dir.path("qm9000.db"), error)) << error;
    recorder.start();
    sim::swell(sim::Phase::A, 1.15, sim::nowMicros() + 3000000, 1500000);  // once monitoring is on
    sim::setClockMode(sim::ClockMode::RealTime);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (recorder.counts().unWindows < 2 && std::chrono::steady_clock::now() < deadline)
        m_pModule->process(), std::this_thread::yield();
    recorder.stop();
    sim::setClockMode(sim::ClockMode::Virtual);
    EXPECT_EQ(recorder.counts().unWindows * 100 + recorder.counts().dropped(), 200u);
}

}  // namespace
