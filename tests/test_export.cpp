// The exports read back by a minimal COMTRADE and CSV reader of the test's own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>

#include "ComtradeReader.h"
#include "CsvExport.h"
#include "UtcTime.h"

namespace {

constexpr int64_t T0 = 951868799995000;  // 29 Feb 2000, 23:59:59.995 UTC
// Three records, a value 1000 x (record + 1) + its journal position but for some of their own.
StoredEvent event() {
    StoredEvent e;
    e.llTriggerMicros = T0 + 10000;
    for (int r = 0; r < 3; r++) {
        StoredRecord rec{T0 + (r == 2 ? 19990 : 10000 * r), 4u << r, {}};
        for (int j = 0; j < jrnl_MAX; j++) rec.values[j] = 1000.0f * (r + 1) + j + 0.25f * r;
        rec.values[jrnl_FREQ_A] = 50.02f, rec.values[jrnl_FREQ_B] = 50.01f, rec.values[jrnl_FREQ_C] = 49.99f;
        rec.values[jrnl_WATT_B] = r == 1 ? -1234.5f : 800.25f;
        rec.values[jrnl_VRMS_C] = 0;
        rec.values[jrnl_TOT_WATT] = r == 0 ? 400000 : 17.125f;
        rec.values[jrnl_IRMS_A] = r == 1 ? 0.001f : 100 + r;
        rec.values[jrnl_NIRMS] = r == 2 ? NAN : 0.5f;
        e.records.push_back(rec);
    }
    return e;
}

}  // namespace

TEST(Export, EventAsComtrade) {
    const StoredEvent e = event();
    const Comtrade r = readComtrade(comtradeOfEvent(e, "North, bay 3\n"));
    EXPECT_EQ(r.lines, (Fields{"North  bay 3 ,QM9000,2013", "54,54A,0D", "50", "0", "0,3",
                               "29/02/2000,23:59:59.995000", "01/03/2000,00:00:00.005000", "ASCII", "1",
                               "+0h00,+0h00", "0,0"}));
    expectRecords(r, e.records);  // samples at 0, 10000 and 19990 µs
}

TEST(Export, SnapshotAsComtrade) {
    StoredSnapshot snap{7, 1700000000123456, 59.98, {}};
    std::vector<std::vector<float>> values(SNAPSHOT_CHANNELS);
    std::vector<double> micros;
    for (int s = 0; s < SNAPSHOT_SAMPLES; s++) {
        micros.push_back(s * 1e6 / (128 * 59.98));
        for (int c = 0; c < SNAPSHOT_CHANNELS; c++)
            values[c].push_back(snap.samples[c][s] =
                                    (c < 3 ? 325.3f : 14.14f) * std::sin(M_PI * (s / 64.0 - c / 1.5)));
    }
    const Comtrade r = readComtrade(comtradeOfSnapshot(snap, "North"));
    EXPECT_EQ(r.lines,
              (Fields{"North,QM9000,2013", "6,6A,0D", "60", "1", "7677.44,128", "14/11/2023,22:13:20.123456",
                      "14/11/2023,22:13:20.123456", "ASCII", "1", "+0h00,+0h00", "0,0"}));
    EXPECT_EQ(r.ids, (Fields{"VA,A,V", "VB,B,V", "VC,C,V", "IA,A,A", "IB,B,A", "IC,C,A"}));
    expectSamples(r, values, micros);
}

TEST(Export, EventAsCsv) {
    const StoredEvent e = event();
    const std::vector<Fields> csv = rows(csvOfEvent(e));
    ASSERT_EQ(csv.size(), 4u);
    Fields header{"time", "limit status"};
    for (const int p : exportedPositions())
        header.push_back(split(journal()[p], ",")[0] + " [" + split(journal()[p], ",")[2] + "]");
    EXPECT_EQ(csv[0], header);
    const Fields LEADS{"2000-02-29T23:59:59.995000Z,0x00000004", "2000-03-01T00:00:00.005000Z,0x00000008",
                       "2000-03-01T00:00:00.014990Z,0x00000010"};
    for (size_t r = 0; r < 3; r++) {
        const Fields& row = csv[r + 1];
        ASSERT_EQ(row.size(), header.size());
        EXPECT_EQ(row[0] + "," + row[1], LEADS[r]);
        for (size_t c = 2; c < header.size(); c++) {
            const float x = e.records[r].values[exportedPositions()[c - 2]];
            EXPECT_TRUE(std::isfinite(x) ? row[c] != "" && std::strtof(row[c].c_str(), nullptr) == x
                                         : row[c] == "")
                << header[c] << " row " << r << ": " << row[c];
        }
    }
}

// Month ends and starts, leap days (none in 2100), a year's end, a 32-bit time_t's end and the epoch,
// with their seconds as a 64-bit C library's timegm counts them: as ISO 8601 (CSV, API) and as
// COMTRADE first sample and trigger.
TEST(Export, TimesAcrossTheCalendar) {
    const std::pair<const char*, int64_t> instants[] = {
        {"1969-12-31T23:59:59.999999Z", -1},         {"1970-01-01T00:00:00.000000Z", 0},
        {"2000-02-29T23:59:59.999999Z", 951868799},  {"2000-03-01T00:00:00.000000Z", 951868800},
        {"2023-01-31T23:59:59.999999Z", 1675209599}, {"2023-02-28T23:59:59.999999Z", 1677628799},
        {"2023-03-01T00:00:00.000001Z", 1677628800}, {"2023-04-30T23:59:59.999999Z", 1682899199},
        {"2023-05-01T00:00:00.000000Z", 1682899200}, {"2023-06-30T23:59:59.999999Z", 1688169599},
        {"2023-07-31T23:59:59.999999Z", 1690847999}, {"2023-08-01T00:00:00.000000Z", 1690848000},
        {"2023-09-30T23:59:59.999999Z", 1696118399}, {"2023-10-31T23:59:59.999999Z", 1698796799},
        {"2023-11-30T23:59:59.999999Z", 1701388799}, {"2023-12-31T23:59:59.999999Z", 1704067199},
        {"2024-01-01T00:00:00.000000Z", 1704067200}, {"2024-02-29T12:34:56.789012Z", 1709210096},
        {"2024-03-01T00:00:00.000000Z", 1709251200}, {"2038-01-19T03:14:08.000000Z", 2147483648},
        {"2100-02-28T23:59:59.999999Z", 4107542399}, {"2100-03-01T00:00:00.000000Z", 4107542400},
        {"2400-02-29T06:00:00.500000Z", 13574584800}};
    for (const auto& [pszIso, llSeconds] : instants) {
        const std::string iso = pszIso;
        SCOPED_TRACE(iso);
        const int64_t llMicros = llSeconds * 1000000 + std::stoll(iso.substr(20, 6));
        EXPECT_EQ(isoOfMicros(llMicros), iso);
        StoredEvent e;
        e.llTriggerMicros = llMicros, e.records = {{llMicros, 0, {}}};
        const std::string stamp =
            iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4) + "," + iso.substr(11, 15);
        const Fields lines = readComtrade(comtradeOfEvent(e, "x")).lines;
        EXPECT_EQ(Fields(lines.begin() + 5, lines.begin() + 7), (Fields{stamp, stamp}));
    }
}

// A clock stepped back (or hours on) between records: the records in stored
// order, a half-cycle apart from the step on, and the step said.
TEST(Export, ClockStepsKeepTheRecordsInOrder) {
    for (const int64_t llStep : {int64_t{-30000}, int64_t{3} * 3600 * 1000000}) {
        StoredEvent stepped = event();
        stepped.records[1].llTimeMicros += llStep;
        stepped.records[2].llTimeMicros += llStep;
        const ComtradeFiles files = comtradeOfEvent(stepped, "x");
        EXPECT_EQ(files.note, std::string("the record times step ") + (llStep < 0 ? "back" : "on") +
                                  " at record 2 (a clock step): written a half-cycle apart from there");
        const Comtrade r = readComtrade(files);
        ASSERT_EQ(r.dat.size(), 3u);
        EXPECT_EQ((Fields{r.dat[0][1], r.dat[1][1], r.dat[2][1]}), (Fields{"0", "10000", "19990"}));
    }
}

TEST(Export, UnusableInputGivesNothing) {
    StoredEvent none = event();
    none.records.clear();
    EXPECT_EQ(comtradeOfEvent(none, "x").refusal, "it has no records");
    EXPECT_EQ(rows(csvOfEvent(none)).size(), 1u);
    for (double f : {0.0, -50.0, double(NAN), 1e9})
        EXPECT_TRUE(comtradeOfSnapshot(StoredSnapshot{0, 0, f, {}}, "x").empty()) << f;
}
