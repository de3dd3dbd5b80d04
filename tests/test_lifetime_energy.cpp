// The lifetime energy: a simulated day through the loaded plug-in gives its
// known watt-hours, across a clean restart and a crash, never going back; the
// counting of the module's intervals; stored counters that are no count.
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "ConfigFile.h"
#include "EventDatabase.h"
#include "IntervalEnergy.h"
#include "LifetimeEnergy.h"
#include "PluginFixture.h"
#include "ScratchFiles.h"

namespace {

constexpr double LAG = 36.87;  // PF 0.8: 920 W and 690 var a phase at 230 V, 5 A

class LifetimeDay : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        const std::string config = m_dir.path("QM9000.json");
        writeConfig(config, with(with(wyeMeter(), "EnergyEnable", "1"), "EnergyInterval", "15"));
        sim::setFullScale(500 * 0.90045f, 10);
        sim::setNoInterrupts(true);  // energy needs no half-cycle records
        ASSERT_EQ(m_pModule->initialize(config.c_str(), nullptr, m_block.get()), 0);
        ASSERT_EQ(m_pModule->updateConfig(config.c_str()), 0);
        ASSERT_EQ(m_pModule->monitorStart(), 0);
        reopen();
    }
    // The host starting again: the module's intervals from zero, the counters restored.
    void reopen() {
        m_pLifetime = std::make_unique<LifetimeEnergy>();
        ASSERT_TRUE(m_pLifetime->open(m_dir.path("qm9000.db"), StorageLimits{}, m_error)) << m_error;
        expectNoLower();
    }
    // What is published now is no lower than anything published before.
    void expectNoLower() {
        LifetimeTotals now;
        ASSERT_TRUE(m_pLifetime->published(now));
        for (int c = 0; c < life_MAX; c++) EXPECT_GE(now.values[c], m_highest.values[c]) << c;
        m_highest = now;
    }

    ScratchDirectory m_dir;
    std::unique_ptr<LifetimeEnergy> m_pLifetime;
    LifetimeTotals m_highest;
    std::string m_error;
};

// 6 h importing, a clean restart, 6 h 5 min exporting, a crash 5 min after the
// last save, 11 h 55 min importing: the counters hold what was measured but
// those 5 min, each phase and the total, saved every 10 min (the simulated
// chip's energy reads 0.15 % high).
TEST_F(LifetimeDay, ASimulatedDayGivesItsWattHoursAcrossARestartAndACrashNeverGoingBack) {
    enum Then { Goes, Stops, Crashes };
    const struct {
        int nMinutes;
        double dLag;
        Then then;
    } parts[] = {{360, LAG, Stops}, {365, 180 - LAG, Crashes}, {715, LAG, Goes}};
    for (const auto& part : parts) {
        for (sim::Phase phase : {sim::Phase::A, sim::Phase::B, sim::Phase::C})
            sim::setCurrentLag(phase, part.dLag);
        for (int nHalf = 1; nHalf <= part.nMinutes * 120; nHalf++) {
            sim::advance(500000);
            m_pModule->process();
            m_pLifetime->afterProcess(*m_pModule, block(), static_cast<int64_t>(sim::nowMicros()));
            if (nHalf % 1200 != 0) continue;
            ASSERT_TRUE(m_pLifetime->save(m_error)) << m_error;
            expectNoLower();
        }
        if (part.then != Crashes) {
            ASSERT_TRUE(m_pLifetime->save(m_error)) << m_error;
        }
        if (part.then == Goes) continue;
        ASSERT_EQ(m_pModule->monitorStop() + m_pModule->monitorStart(), 0);
        reopen();
    }
    expectNoLower();
    const double dImportHours = (360 + 715) / 60.0, dExportHours = 360 / 60.0, dVarHours = 1435 / 60.0;
    const struct {
        LifetimeCounter first;  // A; B, C and the total follow
        double dPerPhase;
    } expected[] = {{life_WH_IMPORT_A, 920 * dImportHours},
                    {life_WH_EXPORT_A, 920 * dExportHours},
                    {life_VARH_IMPORT_A, 690 * dVarHours},
                    {life_VARH_EXPORT_A, 0}};
    for (const auto& e : expected)
        for (int p = 0; p < 4; p++) {
            const double dTruth = e.dPerPhase * (p == 3 ? 3 : 1);
            EXPECT_NEAR(m_highest.values[e.first + p], dTruth, dTruth * 0.0025 + 0.5) << e.first + p;
        }
}

// Looks at the module's intervals, phase A's watt-hours and volt-ampere-hours in each: a flow turning
// within an interval; an interval completing, then seen again; the intervals started over; a reading lost.
TEST(IntervalEnergy, SplitsImportFromExportAndCountsEachIntervalOnce) {
    struct Look {
        time_t ttCompletedEnd;  // 0: a look at the running interval
        float fWattHours, fVaHours;
    };
    const struct {
        std::vector<Look> looks;
        double dImport, dExport;
    } cases[] = {
        {{{0, 10, 10}, {0, 4, 12}, {0, 6, 14}}, 12, 6},
        {{{0, 5, 5}, {900, 8, 8}, {0, 3, 3}, {900, 8, 8}, {0, 4, 4}}, 12, 0},
        {{{0, 50, 100}, {0, 1, 2}}, 51, 0},
        {{{0, 5, 5}, {0, NAN, 6}, {0, 7, 7}}, 7, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        IntervalEnergy counted;
        for (const Look& look : c.looks) {
            ACCUMULATOR_DATA interval{};
            interval.m_ttStartTime = look.ttCompletedEnd;
            float fEnergy[accum_ENERGY_MAX] = {};
            fEnergy[accum_AWATTHR] = look.fWattHours;
            fEnergy[accum_AVAHR] = look.fVaHours;
            std::copy(fEnergy, fEnergy + accum_ENERGY_MAX, interval.m_fEnergyAccum);
            if (look.ttCompletedEnd == 0)
                counted.running(fEnergy);
            else if (counted.isNew(interval))
                counted.completed(interval);
        }
        EXPECT_EQ(counted.gained()[life_WH_IMPORT_A], c.dImport);
        EXPECT_EQ(counted.gained()[life_WH_EXPORT_A], c.dExport);
    }
}

// Counters as stored: restored, never lowered, one a later build added left as it is; one that is no
// count of watt-hours refused by its name, nothing changed.
TEST(LifetimeStore, RestoresWhatWasSavedNeverLowersItAndRefusesWhatIsNoCount) {
    const struct {
        const char *pszRows, *pszRefused;
    } cases[] = {{"('wh_import_b', 12.5, 7), ('wh_later', 3, 5)", ""},
                 {"('wh_import_a', 'lots', 7)", "wh_import_a"},
                 {"('varh_export_total', -1, 7)", "varh_export_total"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszRows);
        ScratchDirectory dir;
        const std::string path = dir.path("qm9000.db");
        const std::string rows = "SELECT name, value FROM lifetime_energy ORDER BY name";
        EventDatabase database;
        std::string error, before, after;
        ASSERT_TRUE(database.open(path, error)) << error;
        sqlite3* pDb = nullptr;
        sqlite3_open(path.c_str(), &pDb);
        const auto dump = [&](const std::string& sql) {
            std::string text;
            sqlite3_exec(
                pDb, sql.c_str(),
                [](void* pText, int, char** ppValues, char**) {
                    *static_cast<std::string*>(pText) += std::string(ppValues[0]) + "=" + ppValues[1] + " ";
                    return 0;
                },
                &text, nullptr);
            return text;
        };
        dump(std::string("INSERT INTO lifetime_energy VALUES ") + c.pszRows);
        before = dump(rows);
        LifetimeEnergy lifetime;
        const bool bOpened = lifetime.open(path, StorageLimits{}, error);
        EXPECT_EQ(bOpened, *c.pszRefused == '\0') << error;
        LifetimeTotals totals;
        if (!bOpened) {
            EXPECT_NE(error.find(std::string("counter ") + c.pszRefused + " is stored as no count"),
                      std::string::npos)
                << error;
            EXPECT_TRUE(!lifetime.published(totals) && !lifetime.save(error) && dump(rows) == before);
        } else {
            ASSERT_TRUE(lifetime.published(totals) && lifetime.save(error)) << error;
            EXPECT_TRUE(totals.values[life_WH_IMPORT_B] == 12.5 && totals.llTimeMicros == 7);
            EXPECT_TRUE(database.storeLifetimeEnergy({{"wh_import_b", 1.0}}, 8, error)) << error;
            after = dump(rows);
            EXPECT_TRUE(after.find("wh_import_b=12.5 ") != std::string::npos &&
                        after.find("wh_later=3.0 ") != std::string::npos)
                << after;
        }
        sqlite3_close(pDb);
    }
}

}  // namespace
