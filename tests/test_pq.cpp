// The power-quality analysis fed half-cycle records directly, on any time
// scale: unbalance from known phasors, events and rapid voltage changes, the
// chains' alignment to the UTC clock across a rate change, a dip on a tick and
// clock steps, a synthetic week's EN 50160 report and the week scenario's
// program played as records and reported; the module's record as input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numeric>
#include <tuple>
#include <vector>

#include "En50160Report.h"
#include "JournalRecordInput.h"
#include "JournalTables.h"
#include "PowerQualityAnalyzer.h"
#include "SequenceComponents.h"
#include "WeekProgram.h"

using namespace pq;

namespace {

constexpr double DECLARED = 230.0;
constexpr int64_t BASE = 1700000000LL / 7200 * 7200 * SECOND_MICROS;  // a 2-hour tick

struct Collected : Sink {
    bool bShort = true;  // the 10/12- and 150/180-cycle values kept too
    std::vector<Interval> intervals;
    std::vector<FrequencyValue> tenSeconds;
    std::vector<VoltageEvent> events;
    std::vector<RapidVoltageChange> changes;
    int nBreaks = 0;
    void aggregate(const Interval& value) override {
        if (bShort || value.kind == IntervalKind::minutes10 || value.kind == IntervalKind::hours2)
            intervals.push_back(value);
    }
    void frequency(const FrequencyValue& value) override { tenSeconds.push_back(value); }
    void voltageEvent(const VoltageEvent& event) override { events.push_back(event); }
    void rapidVoltageChange(const RapidVoltageChange& change) override { changes.push_back(change); }
    void discontinuity(int64_t, int64_t) override { nBreaks++; }
    std::vector<Interval> of(IntervalKind kind) const {
        std::vector<Interval> found;
        for (const Interval& value : intervals)
            if (value.kind == kind) found.push_back(value);
        return found;
    }
};

HalfCycleRecord balanced(int64_t llMicros, double dHz = 50) {
    const double V = DECLARED;
    return {llMicros, {V, V, V}, {5, 5, 5},          {0, -120, 120},
            dHz,      {2, 2, 2}, {1100, 1100, 1100}, {-150, -150, -150}};
}

// Sets the phases of `unPhases` to `dPercent` of the declared voltage.
auto at(double dPercent, unsigned unPhases) {
    return [=](HalfCycleRecord& r) {
        for (int p = 0; p < 3; p++) r.volts[p] = (unPhases >> p) & 1 ? DECLARED * dPercent / 100 : r.volts[p];
    };
}

// Half-cycles of `dHz` from `llFrom` up to `llTo`; `shape` may change each.
template <typename Shape>
int64_t feed(Analyzer& analyzer, int64_t llFrom, int64_t llTo, double dHz, Shape shape) {
    int64_t llTime = llFrom;
    for (int n = 0; llTime < llTo; llTime = llFrom + std::llround(++n * 1e6 / (2 * dHz))) {
        HalfCycleRecord record = balanced(llTime, dHz);
        shape(record);
        analyzer.add(record);
    }
    return llTime;
}

TEST(PqConfig, ASettingOutOfRangeIsNamedAndItsDefaultUsed) {
    const auto settings = [](const Config& c) {
        return std::tuple{c.dDeclaredVolts,       c.nNominalHz,         c.dDipPercent, c.dSwellPercent,
                          c.dInterruptionPercent, c.dHysteresisPercent, c.dRvcPercent, c.unMeasuredPhases};
    };
    const std::pair<const char*, void (*)(Config&)> cases[] = {
        // named in the error; nullptr: accepted
        {nullptr, [](Config& c) { c.dRvcPercent = 6, c.dSwellPercent = 105, c.unMeasuredPhases = 5; }},
        {"rapid voltage change threshold (%) 7 is outside 1 to 6: 3 is used",
         [](Config& c) { c.dRvcPercent = 7; }},
        {"rapid", [](Config& c) { c.dRvcPercent = 0.5; }},
        {"frequency", [](Config& c) { c.nNominalHz = 55; }},
        {"declared", [](Config& c) { c.dDeclaredVolts = NAN; }},
        {"dip", [](Config& c) { c.dDipPercent = 4; }},
        {"hysteresis", [](Config& c) { c.dHysteresisPercent = 5; }},
        {"phases", [](Config& c) { c.unMeasuredPhases = 8; }},
    };
    for (const auto& [pszNamed, set] : cases) {
        SCOPED_TRACE(pszNamed ? pszNamed : "accepted");
        Config config;
        set(config);
        const ConfigCheck check = checkConfig(config);
        EXPECT_EQ(settings(check.applied), settings(pszNamed ? Config{} : config));
        ASSERT_EQ(check.errors.size(), pszNamed ? 1u : 0u);
        EXPECT_TRUE(!pszNamed || check.errors[0].find(pszNamed) != std::string::npos) << check.errors[0];
    }
}

// Phasors made from their symmetrical components by definition read those
// components back, from one record and as a 10/12-cycle value.
TEST(PqUnbalance, PhasorsOfKnownSequenceComponentsReadTheirRatios) {
    const double dDegree = std::acos(-1.0) / 180;
    const std::complex<double> a = std::polar(1.0, 120 * dDegree);
    for (const auto& [dU2, dU0] : {std::pair{2.0, 0.0}, {2.0, 1.5}, {0.5, 0.0}, {0.0, 3.0}}) {
        SCOPED_TRACE(testing::Message() << "u2 " << dU2 << " % u0 " << dU0 << " %");
        const std::complex<double> v1 = DECLARED, v2 = std::polar(DECLARED * dU2 / 100, 37 * dDegree),
                                   v0 = std::polar(DECLARED * dU0 / 100, -65 * dDegree);
        const std::complex<double> v[3] = {v0 + v1 + v2, v0 + a * a * v1 + a * v2, v0 + a * v1 + a * a * v2};
        HalfCycleRecord record = balanced(0);
        for (int p = 0; p < 3; p++) {
            record.volts[p] = std::abs(v[p]);
            record.voltDegrees[p] = std::arg(v[p] / v[0]) / dDegree;  // phase A's 0
        }
        const UnbalanceRatios ratios = unbalanceRatios(record.volts, record.voltDegrees);
        EXPECT_NEAR(ratios.dU2Percent, dU2, 0.01);
        EXPECT_NEAR(ratios.dU0Percent, dU0, 0.01);
        Collected sink;
        Analyzer analyzer(Config{}, sink);
        feed(analyzer, BASE - 10000, BASE + 200000, 50,
             [&](HalfCycleRecord& r) { r.volts = record.volts, r.voltDegrees = record.voltDegrees; });
        const std::vector<Interval> blocks = sink.of(IntervalKind::cycles10);
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_NEAR(blocks[0].stats[pq_U2].dMean, dU2, 0.01);
        EXPECT_NEAR(blocks[0].stats[pq_U0].dMean, dU0, 0.01);
    }
}

// After 2 s at the declared voltage, each case's levels in turn (% of the
// declared, on its phases), then the end of the records.
TEST(PqEvents, StepsGiveTheirDipsSwellsInterruptionsAndRapidChanges) {
    struct Level {
        double dPercent;
        unsigned unPhases;
        int nHalfCycles;
    };
    struct Case {
        const char* pszName;
        std::vector<Level> levels;
        std::vector<std::pair<EventKind, size_t>> events;  // and the level that makes each
        double dSteadyDelta;                               // of the one rapid change, NAN: none
    } cases[] = {
        {"3 % step: one rapid change", {{103, 1, 300}}, {}, 6.9},
        {"12 % step down: a dip, no change", {{88, 1, 50}, {100, 7, 300}}, {{EventKind::dip, 0}}, NAN},
        {"12 % step up on B: a swell", {{112, 2, 20}, {100, 7, 300}}, {{EventKind::swell, 0}}, NAN},
        {"a dip cancels a 3 % step", {{103, 1, 30}, {85, 1, 10}, {103, 1, 300}}, {{EventKind::dip, 1}}, NAN},
        {"all below 5 %: an interruption", {{3, 7, 30}, {100, 7, 300}}, {{EventKind::interruption, 0}}, NAN},
        {"C alone below 5 %: a dip", {{3, 4, 30}, {100, 7, 300}}, {{EventKind::dip, 0}}, NAN},
        {"2 % step: nothing", {{98, 7, 300}}, {}, NAN},
        {"A high, then C low",
         {{115, 1, 15}, {80, 4, 15}, {100, 7, 300}},
         {{EventKind::swell, 0}, {EventKind::dip, 1}},
         NAN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        Collected sink;
        Analyzer analyzer(Config{}, sink);
        std::vector<int64_t> starts = {feed(analyzer, BASE, BASE + 2 * SECOND_MICROS, 50, at(100, 7))};
        for (const Level& level : c.levels)
            starts.push_back(feed(analyzer, starts.back(), starts.back() + level.nHalfCycles * 10000, 50,
                                  at(level.dPercent, level.unPhases)));
        analyzer.finish();
        ASSERT_EQ(sink.events.size(), c.events.size());
        for (size_t e = 0; e < c.events.size(); e++) {
            const VoltageEvent& event = sink.events[e];
            const auto& [kind, nLevel] = c.events[e];
            const Level& level = c.levels[nLevel];
            EXPECT_EQ(event.kind, kind);
            EXPECT_EQ(event.llStartMicros, starts[nLevel]);
            EXPECT_EQ(event.llDurationMicros, level.nHalfCycles * 10000);
            EXPECT_EQ(event.dExtremeVolts, DECLARED * level.dPercent / 100);
            EXPECT_EQ(event.nPhase, __builtin_ctz(level.unPhases));
            EXPECT_EQ(event.llInterruptedMicros,
                      event.kind == EventKind::interruption ? event.llDurationMicros : 0);
            EXPECT_FALSE(event.bCutShort);
        }
        ASSERT_EQ(sink.changes.size(), std::isnan(c.dSteadyDelta) ? 0u : 1u);
        if (sink.changes.empty()) continue;
        EXPECT_EQ(sink.changes[0].llStartMicros, starts[0]);
        EXPECT_EQ(sink.changes[0].llDurationMicros, 10000);
        EXPECT_NEAR(sink.changes[0].dSteadyDeltaVolts, c.dSteadyDelta, 1e-9);
        EXPECT_NEAR(sink.changes[0].dMaxDeltaVolts, c.dSteadyDelta, 1e-9);
    }
}

// From a second before a 2-hour tick: 50 Hz half-cycles, from 123.4567 s on
// 60 Hz ones; a 600 ms dip of B to 60 % across the 10-minute tick, its
// frequency read as 0.5 GHz (no measurement); at 605 s
// the clock steps back to 400 s, a record is dropped at 700 s; at 20 min 1 s
// the records jump forward 5 min, and end a second later.
TEST(PqChains, TenMinuteValuesKeepToTheTicksAcrossARateChangeAClockStepAndAGap) {
    Collected sink;
    Analyzer analyzer(Config{}, sink);
    const int64_t M = TEN_MINUTES_MICROS;
    size_t nFirst = 0, nSecond = 0;  // records in the first 10 minutes, in the second after the step
    size_t* pCount = &nFirst;
    const auto shape = [&](HalfCycleRecord& record) {
        const int64_t t = record.llTimeMicros;
        if (pCount == &nSecond && t / 8334 == (BASE + 700 * SECOND_MICROS) / 8334)
            record.voltThdPercent[0] = -1;  // the module's failed conversion: dropped, and bridged
        else
            *pCount += t >= BASE + (pCount == &nSecond) * M && t < BASE + (1 + (pCount == &nSecond)) * M;
        if (pCount == &nFirst && std::llabs(t - (BASE + M)) <= 300000) at(60, 2)(record), record.dHz = 5.2e8;
        if (t == BASE || t == BASE - 10000)
            record.watts[0] = t == BASE ? 0 : -1;  // the first in, the last out
    };
    const int64_t t = feed(analyzer, BASE - SECOND_MICROS, BASE + 123456700, 50, shape);
    feed(analyzer, t, BASE + 605 * SECOND_MICROS, 60, shape);
    pCount = &nSecond;
    feed(analyzer, BASE + 400 * SECOND_MICROS, BASE + 1201 * SECOND_MICROS, 60, shape);
    feed(analyzer, BASE + 1501 * SECOND_MICROS, BASE + 1502 * SECOND_MICROS, 60, shape);
    analyzer.finish();
    // Blocks a 20 half-cycles: one straddles each tick, and goes with the interval it began in.
    ASSERT_TRUE(nFirst % 20 && nSecond % 20);
    const struct {
        int64_t llStart;
        bool bComplete, bFlagged;
        size_t nBlocks;  // 0: not checked
    } expected[] = {{BASE, true, true, (nFirst + 19) / 20},
                    {BASE + M, false, true, 0},  // cut by the step
                    {BASE + M, true, false, (nSecond + 19) / 20},
                    {BASE + 2 * M, false, false, 0}};  // cut by the gap
    const std::vector<Interval> tens = sink.of(IntervalKind::minutes10);
    ASSERT_EQ(tens.size(), std::size(expected));
    for (size_t i = 0; i < tens.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tens[i].llStartMicros, expected[i].llStart);
        EXPECT_EQ(tens[i].llEndMicros, expected[i].llStart + M);
        EXPECT_EQ(tens[i].bComplete, expected[i].bComplete);
        EXPECT_EQ(tens[i].bFlagged, expected[i].bFlagged);
        EXPECT_TRUE(!expected[i].nBlocks || tens[i].ulParts == expected[i].nBlocks) << tens[i].ulParts;
    }
    EXPECT_EQ(tens[0].stats[pq_VOLTS_A].dMean, DECLARED);
    EXPECT_EQ(tens[0].stats[pq_VOLTS_B].dMin, 0.6 * DECLARED);
    EXPECT_EQ(tens[0].stats[pq_WATTS_A].dMin, 0);  // the record stamped on the tick is the interval's first
    EXPECT_NEAR(tens[2].stats[pq_WATTS_C].dMean, 1100, 1e-9);
    EXPECT_NEAR(tens[2].stats[pq_VARS_B].dMean, -150, 1e-9);
    // The 150/180-cycle chain starts over at the tick: the first interval's hold its blocks, no more.
    uint32_t ulBlocks = 0;
    for (const Interval& value : sink.of(IntervalKind::cycles150))
        if (value.llStartMicros >= BASE && value.llStartMicros < BASE + M) ulBlocks += value.ulParts;
    EXPECT_EQ(ulBlocks, tens[0].ulParts);
    const std::vector<Interval> hours = sink.of(IntervalKind::hours2);
    ASSERT_EQ(hours.size(), 1u);
    EXPECT_EQ(hours[0].llStartMicros, BASE);
    EXPECT_EQ(hours[0].ulParts, 2u);
    EXPECT_TRUE(hours[0].bFlagged && !hours[0].bComplete);
    // Each 10-second value on its tick: 50 Hz, 60 Hz, and where the rate changed the half-cycles
    // counted over the 10 s they fill (their mean reading would be 0.4 Hz higher).
    ASSERT_EQ(sink.tenSeconds.front().llStartMicros, BASE);
    const int64_t llMixed = BASE + 120 * SECOND_MICROS;
    for (const FrequencyValue& value : sink.tenSeconds) {
        const int64_t llStart = value.llStartMicros;
        EXPECT_EQ(llStart % TEN_SECONDS_MICROS, 0);
        const double dHz = llStart == llMixed ? value.ulHalfCycles / 20.0 : llStart < llMixed ? 50 : 60;
        EXPECT_TRUE(!value.bComplete || std::fabs(value.hz.dMean - dHz) < (llStart == llMixed ? 0.02 : 1e-9));
    }
    EXPECT_EQ(sink.nBreaks, 2);
    EXPECT_EQ(analyzer.droppedRecords(), 1u);
    EXPECT_TRUE(sink.changes.empty());
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].nPhase, 1);
    EXPECT_NEAR(sink.events[0].llDurationMicros, 600000, 8334);
    // The dip that flags both intervals is counted once, as one: 70-40 %, 0.5-1 s.
    const En50160Report report = en50160Report(Config{}, BASE, sink.intervals, sink.tenSeconds, sink.events);
    EXPECT_EQ(report.dips[2][2], 1u);
    uint32_t ulCounted = 0;
    for (const auto& row : report.dips) ulCounted = std::accumulate(row.begin(), row.end(), ulCounted);
    EXPECT_EQ(ulCounted, 1u);
    EXPECT_EQ(std::pair(report.ulTenMinutesPresent, report.ulTenMinutesFlagged), std::pair(2u, 1u));
}

// A week of stored values made by a small program: the voltage criteria's
// percentages, every cell of the event table and the verdicts are the
// program's own (THD, unbalance and frequency: the week scenario's test below).
TEST(PqReport, ASyntheticWeekGivesThePercentagesAndCountsOfItsProgram) {
    const auto flagged = [](int k) { return k % 50 == 7; };
    const auto voltsA = [](int k) { return k % 25 == 3 ? 200.0 : k % 200 == 9 ? 205.0 : 230.0; };
    // Dip rows by their residual, swell rows by their highest (% of the declared), the columns' durations.
    const double dRows[] = {80, 70, 40, 5, 2, 120, 115}, dColumns[] = {0.2, 0.5, 1, 5, 60, 90};
    const auto placed = [](int r, int c) { return static_cast<uint32_t>((r + 2 * c) % 3); };  // events a cell
    const auto event = [](EventKind kind, double dPercent, double dSeconds, int64_t llStart) {
        return VoltageEvent{kind, llStart, std::llround(dSeconds * 1e6), DECLARED * dPercent / 100};
    };
    std::vector<VoltageEvent> events = {event(EventKind::dip, 50, 1, BASE - 1),  // the week before and after
                                        event(EventKind::swell, 130, 1, BASE + WEEK_MICROS)};
    for (int r = 0; r < DIP_ROWS + SWELL_ROWS; r++)
        for (int c = 0; c < DURATION_COLUMNS; c++)
            for (uint32_t n = 0; n < placed(r, c); n++)
                events.push_back(event(r >= DIP_ROWS ? EventKind::swell
                                       : r == 4 && n ? EventKind::interruption
                                                     : EventKind::dip,
                                       dRows[r], dColumns[c],
                                       BASE + int64_t(events.size()) * 60 * SECOND_MICROS));
    std::vector<FrequencyValue> tenSeconds(TEN_SECONDS_PER_WEEK);
    for (int j = 0; j < int(tenSeconds.size()); j++) {
        const int64_t llStart = BASE + j * TEN_SECONDS_MICROS;
        tenSeconds[j] = {llStart, llStart + TEN_SECONDS_MICROS, {50, 50, 50}, 1000, false, true};
    }
    const struct {
        const char* pszName;
        int nMissing, nLowC;  // -1: none; C at 82 % in that interval
        Verdict verdict;
    } cases[] = {{"all there", -1, -1, Verdict::pass},
                 {"an interval missing", 500, -1, Verdict::incomplete},
                 {"C below -15 % once", -1, 600, Verdict::fail},
                 {"C below -15 % once, flagged", -1, 57, Verdict::pass}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<Interval> tens;
        uint32_t ulPresent = 0, ulFlagged = 0, ulJudged = 0, ulA95 = 0, ulCAll = 0;
        for (int k = 0; k <= int(TEN_MINUTES_PER_WEEK); k++) {  // one past the week, and an incomplete one
            if (k == c.nMissing) continue;
            Interval value;
            value.kind = IntervalKind::minutes10;
            value.llStartMicros = BASE + k * TEN_MINUTES_MICROS;
            value.llEndMicros = value.llStartMicros + TEN_MINUTES_MICROS;
            value.bFlagged = flagged(k);
            const double dVoltsC = k == c.nLowC ? 0.82 * DECLARED : DECLARED;
            value.stats[pq_VOLTS_A].dMean = k < int(TEN_MINUTES_PER_WEEK) ? voltsA(k) : 0;
            value.stats[pq_VOLTS_B].dMean = DECLARED, value.stats[pq_VOLTS_C].dMean = dVoltsC;
            tens.push_back(value);
            if (k == int(TEN_MINUTES_PER_WEEK)) break;
            if (k == 100)
                tens.push_back(value), tens.back().bComplete = false, tens.back().stats[pq_VOLTS_A].dMean = 0;
            ulPresent++;
            if (flagged(k) && ++ulFlagged) continue;
            ulJudged++;
            ulA95 += std::fabs(voltsA(k) - DECLARED) <= 0.1 * DECLARED;
            ulCAll += dVoltsC >= 0.85 * DECLARED;
        }
        const En50160Report report = en50160Report(Config{}, BASE, tens, tenSeconds, events);
        EXPECT_EQ(report.ulTenMinutesPresent, ulPresent);
        EXPECT_EQ(report.ulTenMinutesFlagged, ulFlagged);
        EXPECT_EQ(report.ulTenSecondsPresent, TEN_SECONDS_PER_WEEK);
        for (const auto& [pCriterion, ulWithin, dRequired] : {std::tuple{&report.voltage95[0], ulA95, 95.0},
                                                              {&report.voltageAll[2], ulCAll, 100.0},
                                                              {&report.voltage95[1], ulJudged, 95.0}}) {
            EXPECT_EQ(pCriterion->ulValues, ulJudged);
            EXPECT_EQ(pCriterion->ulWithin, ulWithin);
            EXPECT_NEAR(pCriterion->dPercentWithin, 100.0 * ulWithin / ulJudged, 1e-9);
            EXPECT_EQ(pCriterion->bPass, 100.0 * ulWithin / ulJudged >= dRequired);
        }
        for (int r = 0; r < DIP_ROWS + SWELL_ROWS; r++) {
            const auto& row = r < DIP_ROWS ? report.dips[r] : report.swells[r - DIP_ROWS];
            for (int col = 0; col < DURATION_COLUMNS; col++) EXPECT_EQ(row[col], placed(r, col)) << r << col;
        }
        EXPECT_EQ(report.verdict, c.verdict);
    }
}

// The week scenario's program played as the records of its line (no chip
// between) from its Monday; the report's percentages and
// counts told from the program. Sanitized and emulated builds play 6 hours.
TEST(PqWeek, TheWeekScenariosProgramIsReportedAsItsTableSays) {
#if defined(QM_SANITIZED) || defined(__arm__)
    const int64_t llFrom = 86400 + 9 * 3600, llTo = llFrom + 6 * 3600;  // Tuesday 09:00 to 15:00, its dips
#else
    const int64_t llFrom = 0, llTo = WEEK_SECONDS;
#endif
    const int64_t llMonday = lastWeekStart(BASE);
    Collected sink;
    sink.bShort = false;
    Analyzer analyzer(Config{}, sink);
    // From the half-cycle before the first tick to a second past the last: every interval whole.
    double dSeconds = llFrom - 0.01;  // from the Monday; the record's end
    for (HalfCycleRecord r = balanced(0); dSeconds < llTo + 1; dSeconds += 0.5 / r.dHz) {
        r = balanced(llMonday + std::llround(dSeconds * 1e6));
        for (const WeekEvent& e : weekProgram()) {
            if (dSeconds <= e.llOffsetSeconds || dSeconds > e.llOffsetSeconds + e.dSeconds) continue;
            if (e.change == WeekChange::frequency) r.dHz = e.dValue;
            if (e.change == WeekChange::harmonics) r.voltThdPercent[e.nPhase] = e.dValue;
            if (e.change == WeekChange::unbalance) r.voltDegrees[e.nPhase] -= e.dDegrees;
            if (e.change != WeekChange::frequency && e.change != WeekChange::harmonics)
                r.volts[e.nPhase] *= e.dValue;
        }
        analyzer.add(r);
    }
    analyzer.finish();

    // The report's row of a voltage by the rows' lower bounds; its column of -duration likewise.
    const auto bucket = [](double d, std::initializer_list<double> bounds) {
        return int(std::count_if(bounds.begin(), bounds.end(), [d](double b) { return d < b; }));
    };
    uint32_t ulFlagged = 0, ulThdHigh = 0, ulUnbalanced = 0, ulHzOut = 0;
    size_t nChanges = 0;
    EventTable<DIP_ROWS> dips{};
    EventTable<SWELL_ROWS> swells{};
    for (const WeekEvent& e : weekProgram()) {
        if (e.llOffsetSeconds < llFrom || e.llOffsetSeconds >= llTo) continue;
        const uint32_t ulTenMinutes = static_cast<uint32_t>(e.dSeconds / 600);
        const double dPercent = 100 * e.dValue;
        const int nColumn = bucket(-e.dSeconds, {-0.2, -0.5, -1, -5, -60});
        if (e.change == WeekChange::dip) dips[bucket(dPercent, {80, 70, 40, 5})][nColumn]++;
        if (e.change == WeekChange::swell) swells[bucket(dPercent, {120})][nColumn]++;
        ulFlagged += e.change == WeekChange::dip || e.change == WeekChange::swell;
        ulThdHigh += e.change == WeekChange::harmonics && e.dValue > 8 ? ulTenMinutes : 0;
        ulHzOut += e.change == WeekChange::frequency && std::abs(e.dValue - 50) > 0.5
                       ? uint32_t(e.dSeconds / 10)
                       : 0;
        if (e.change != WeekChange::unbalance) continue;
        nChanges += 2 * (std::abs(dPercent - 100) > 3);  // its start and end, within the dip threshold
        const std::complex<double> a = std::polar(1.0, 2 * M_PI / 3),
                                   b = std::polar(e.dValue, -(120 + e.dDegrees) * M_PI / 180),
                                   c = std::conj(a);
        ulUnbalanced +=
            std::abs(1.0 + a * a * b + a * c) / std::abs(1.0 + a * b + a * a * c) > 0.02 ? ulTenMinutes : 0;
    }
    const En50160Report report =
        en50160Report(Config{}, llMonday, sink.intervals, sink.tenSeconds, sink.events);
    const uint32_t ulPresent = uint32_t(llTo - llFrom) / 600, ulJudged = ulPresent - ulFlagged;
    EXPECT_EQ(std::tuple(report.ulTenMinutesPresent, report.ulTenMinutesFlagged, report.ulTenSecondsPresent),
              std::tuple(ulPresent, ulFlagged, uint32_t(llTo - llFrom) / 10));
    for (const auto& [pCriterion, ulOut] : {std::pair{&report.thd95[0], ulThdHigh},
                                            {&report.unbalance95, ulUnbalanced},
                                            {&report.voltage95[2], 0u},
                                            {&report.thd95[1], 0u}}) {
        EXPECT_EQ(pCriterion->ulValues, ulJudged);
        EXPECT_EQ(pCriterion->ulWithin, ulJudged - ulOut);
    }
    EXPECT_EQ(report.frequency995.ulWithin, uint32_t(llTo - llFrom) / 10 - ulHzOut);
    EXPECT_EQ(report.dips, dips);
    EXPECT_EQ(report.swells, swells);
    EXPECT_EQ(sink.changes.size(), nChanges);
    EXPECT_EQ(report.verdict, llTo - llFrom == WEEK_SECONDS ? Verdict::pass : Verdict::incomplete);
    EXPECT_EQ(sink.nBreaks, 0);
}

TEST(PqJournal, AModuleRecordGivesItsOneCycleValuesAndTheFirstPhaseWithAFrequency) {
    DATA_ACQ record{1700000000, 123456, 0, {}};
    for (int q = 0; q < jrnl_MAX; q++) record.m_fJournal[q] = q;  // each value its own index
    record.m_fJournal[jrnl_FREQ_A] = 0;
    const HalfCycleRecord input = halfCycleFromJournal(record);
    EXPECT_EQ(input.llTimeMicros, 1700000000123456);
    const auto phases = [](int nFirst) { return PhaseValues{double(nFirst), nFirst + 1.0, nFirst + 2.0}; };
    EXPECT_EQ(input.volts, phases(jrnl_VRMS1_A));
    EXPECT_EQ(input.amps, phases(jrnl_IRMS1_A));
    EXPECT_EQ(input.voltDegrees, phases(jrnl_VANGLE_A));
    EXPECT_EQ(input.voltThdPercent, phases(jrnl_VTHD_A));
    EXPECT_EQ(input.watts, phases(jrnl_WATT_A));
    EXPECT_EQ(input.vars, phases(jrnl_VAR_A));
    EXPECT_EQ(input.dHz, jrnl_FREQ_B);
}

}  // namespace
