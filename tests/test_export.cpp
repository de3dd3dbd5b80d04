// The exports read back by a minimal COMTRADE and CSV reader of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "ComtradeReader.h"
#include "CsvExport.h"
#include "ExportChannels.h"

namespace {

constexpr int64_t T0 = 951868799995000;  // 29 Feb 2000, 23:59:59.995 UTC
StoredEvent event() {
    StoredEvent e;
    e.llTriggerMicros = T0 + 10000;
    for (int r = 0; r < 3; r++) {
        StoredRecord rec{T0 + (r == 2 ? 19990 : 10000 * r), 4u << r, {}};
        for (int j = 0; j < jrnl_MAX; j++) rec.values[j] = (j + 1) * 10.5f * (1 + 0.1f * r);
        rec.values[jrnl_FREQ_A] = rec.values[jrnl_FREQ_B] = rec.values[jrnl_FREQ_C] = 50.02f;
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
    for (const char* id : {"FREQ_C,C,Hz", "VRMS_A,A,V", "IRMS1012_B,B,A", "WATT_B,B,W", "FVAR_A,A,var",
                           "NIRMS,N,A", "TOT_VA,,VA", "TOT_FWATT,,W"})
        EXPECT_EQ(std::count(r.ids.begin(), r.ids.end(), id), 1) << id;
    ASSERT_EQ(r.ids.size(), 54u);  // 15 quantities x 3 phases, 3 neutral, 6 totals
    std::vector<std::vector<float>> values(54);
    for (size_t c = 0; c < 54; c++) {
        const ExportChannel& ch = exportChannels()[c];
        EXPECT_EQ(r.ids[c], ch.name + "," + ch.phase + "," + ch.unit);
        for (const StoredRecord& rec : e.records) values[c].push_back(rec.values[ch.index]);
    }
    expectSamples(r, values, {0, 10000, 19990});
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
    for (const ExportChannel& ch : exportChannels()) header.push_back(ch.name + " [" + ch.unit + "]");
    EXPECT_EQ(csv[0], header);
    const Fields LEADS{"2000-02-29T23:59:59.995000Z,0x00000004", "2000-03-01T00:00:00.005000Z,0x00000008",
                       "2000-03-01T00:00:00.014990Z,0x00000010"};
    for (size_t r = 0; r < 3; r++) {
        const Fields& row = csv[r + 1];
        ASSERT_EQ(row.size(), header.size());
        EXPECT_EQ(row[0] + "," + row[1], LEADS[r]);
        for (size_t c = 0; c < exportChannels().size(); c++) {
            const float x = e.records[r].values[exportChannels()[c].index];
            EXPECT_TRUE(std::isfinite(x) ? row[2 + c] != "" && std::strtof(row[2 + c].c_str(), nullptr) == x
                                         : row[2 + c] == "")
                << header[2 + c] << " row " << r << ": " << row[2 + c];
        }
    }
}

TEST(Export, UnusableInputGivesNothing) {
    StoredEvent backwards = event(), none = event();
    std::swap(backwards.records[0], backwards.records[2]);
    none.records.clear();
    EXPECT_TRUE(comtradeOfEvent(backwards, "x").empty() && comtradeOfEvent(none, "x").empty());
    EXPECT_EQ(rows(csvOfEvent(none)).size(), 1u);
    for (double f : {0.0, -50.0, double(NAN), 1e9})
        EXPECT_TRUE(comtradeOfSnapshot(StoredSnapshot{0, 0, f, {}}, "x").empty()) << f;
}
