#include "PqJson.h"

#include <algorithm>
#include <cmath>

#include "JsonText.h"
#include "UtcTime.h"

namespace {

constexpr const char* QUANTITY_NAMES[pq::pq_COUNT] = {"uA",   "uB",   "uC",   "iA", "iB", "iC",
                                                      "thdA", "thdB", "thdC", "pA", "pB", "pC",
                                                      "qA",   "qB",   "qC",   "u2", "u0"};
constexpr const char* PHASES[] = {"A", "B", "C"};

std::string flag(bool b) {
    return b ? "true" : "false";
}

std::string timeFields(const char* pszName, int64_t llMicros) {
    return std::string("\"") + pszName + "\":" + jsonString(isoOfMicros(llMicros)) + ",\"" + pszName +
           "Micros\":" + jsonNumber(llMicros);
}

std::string jsonOfCriterion(const pq::Criterion& c) {
    return "{\"judged\":" + flag(c.bJudged) + ",\"values\":" + jsonNumber(int64_t{c.ulValues}) +
           ",\"within\":" + jsonNumber(int64_t{c.ulWithin}) +
           ",\"percentWithin\":" + jsonNumber(c.dPercentWithin) +
           ",\"requiredPercent\":" + jsonNumber(c.dRequiredPercent) + ",\"pass\":" + flag(c.bPass) + "}";
}

std::string jsonOfPhases(const std::array<pq::Criterion, pq::PHASES>& criteria) {
    std::string json = "{";
    for (int p = 0; p < pq::PHASES; p++)
        json += std::string(p ? "," : "") + "\"" + PHASES[p] + "\":" + jsonOfCriterion(criteria[p]);
    return json + "}";
}

template <size_t ROWS>
std::string jsonOfTable(const std::array<std::array<uint32_t, pq::DURATION_COLUMNS>, ROWS>& table,
                        const char* const (&rows)[ROWS]) {
    static const char* const COLUMNS[] = {"<=0.2s", "0.2-0.5s", "0.5-1s", "1-5s", "5-60s", ">60s"};
    std::string names, columns, counts;
    for (size_t r = 0; r < ROWS; r++) {
        names += std::string(r ? "," : "") + jsonString(rows[r]);
        std::string row;
        for (int c = 0; c < pq::DURATION_COLUMNS; c++)
            row += (c ? "," : "") + jsonNumber(int64_t{table[r][c]});
        counts += std::string(r ? "," : "") + "[" + row + "]";
    }
    for (int c = 0; c < pq::DURATION_COLUMNS; c++)
        columns += std::string(c ? "," : "") + jsonString(COLUMNS[c]);
    return "{\"rows\":[" + names + "],\"columns\":[" + columns + "],\"counts\":[" + counts + "]}";
}

}  // namespace

std::string jsonOfPqInterval(const pq::Interval& value) {
    std::string values;
    for (int q = 0; q < pq::pq_COUNT; q++) {
        const pq::Stat& s = value.stats[q];
        values += std::string(q ? "," : "") + "\"" + QUANTITY_NAMES[q] + "\":{\"min\":" + jsonNumber(s.dMin) +
                  ",\"mean\":" + jsonNumber(s.dMean) + ",\"max\":" + jsonNumber(s.dMax) + "}";
    }
    return "{\"kind\":" + jsonString(pq::intervalKindName(value.kind)) + "," +
           timeFields("start", value.llStartMicros) + "," + timeFields("end", value.llEndMicros) +
           ",\"parts\":" + jsonNumber(int64_t{value.ulParts}) + ",\"complete\":" + flag(value.bComplete) +
           ",\"flagged\":" + flag(value.bFlagged) + ",\"values\":{" + values + "}}";
}

std::string jsonOfPqLive(const PqLive& live, const pq::Config& config) {
    const auto latest = [](bool bHave, const pq::Interval& value) {
        return bHave ? jsonOfPqInterval(value) : std::string("null");
    };
    const double dNone = NAN;
    return "{\"declaredVolts\":" + jsonNumber(config.dDeclaredVolts) +
           ",\"nominalHz\":" + jsonNumber(int64_t{config.nNominalHz}) +
           ",\"u2\":" + jsonNumber(live.bHaveCycles10 ? live.cycles10.stats[pq::pq_U2].dMean : dNone) +
           ",\"u0\":" + jsonNumber(live.bHaveCycles10 ? live.cycles10.stats[pq::pq_U0].dMean : dNone) +
           ",\"rvc\":" + jsonString(live.bRvcSteady ? "steady" : "changing") +
           ",\"cycles10\":" + latest(live.bHaveCycles10, live.cycles10) +
           ",\"cycles150\":" + latest(live.bHaveCycles150, live.cycles150) + "}";
}

std::string jsonOfAggregates(const std::string& period, int64_t llFrom, int64_t llTo, bool bTruncated,
                             const std::vector<pq::Interval>& intervals,
                             const std::vector<pq::FrequencyValue>& tenSeconds) {
    std::string list;
    auto next = tenSeconds.begin();
    for (const pq::Interval& value : intervals) {
        while (next != tenSeconds.end() && next->llStartMicros < value.llStartMicros) ++next;
        pq::Stat hz{INFINITY, 0, -INFINITY};
        uint32_t ulValues = 0;
        for (; next != tenSeconds.end() && next->llEndMicros <= value.llEndMicros; ++next) {
            if (!next->bComplete) continue;
            hz = {std::min(hz.dMin, next->hz.dMin), hz.dMean + next->hz.dMean,
                  std::max(hz.dMax, next->hz.dMax)};
            ulValues++;
        }
        std::string json = jsonOfPqInterval(value);
        json.insert(json.size() - 1,
                    ",\"hz\":" + (ulValues ? "{\"min\":" + jsonNumber(hz.dMin) +
                                                 ",\"mean\":" + jsonNumber(hz.dMean / ulValues) +
                                                 ",\"max\":" + jsonNumber(hz.dMax) + "}"
                                           : std::string("null")));
        list += (list.empty() ? "" : ",") + json;
    }
    return "{\"period\":" + jsonString(period) + "," + timeFields("from", llFrom) + "," +
           timeFields("to", llTo) + ",\"count\":" + jsonNumber(static_cast<int64_t>(intervals.size())) +
           ",\"truncated\":" + flag(bTruncated) + ",\"intervals\":[" + list + "]}";
}

std::string jsonOfEn50160Report(const pq::En50160Report& r, const pq::Config& config) {
    static const char* const VERDICTS[] = {"pass", "fail", "incomplete"};
    static const char* const DIP_ROWS[pq::DIP_ROWS] = {"90-80%", "80-70%", "70-40%", "40-5%", "<5%"};
    static const char* const SWELL_ROWS[pq::SWELL_ROWS] = {">=120%", "110-120%"};
    return "{" + timeFields("start", r.llStartMicros) + "," + timeFields("end", r.llEndMicros) +
           ",\"declaredVolts\":" + jsonNumber(config.dDeclaredVolts) +
           ",\"nominalHz\":" + jsonNumber(int64_t{config.nNominalHz}) +
           ",\"verdict\":" + jsonString(VERDICTS[static_cast<int>(r.verdict)]) +
           ",\"tenMinutes\":{\"present\":" + jsonNumber(int64_t{r.ulTenMinutesPresent}) +
           ",\"expected\":" + jsonNumber(int64_t{pq::TEN_MINUTES_PER_WEEK}) +
           ",\"flagged\":" + jsonNumber(int64_t{r.ulTenMinutesFlagged}) +
           "},\"tenSeconds\":{\"present\":" + jsonNumber(int64_t{r.ulTenSecondsPresent}) +
           ",\"expected\":" + jsonNumber(int64_t{pq::TEN_SECONDS_PER_WEEK}) +
           "},\"voltage95\":" + jsonOfPhases(r.voltage95) + ",\"voltageAll\":" + jsonOfPhases(r.voltageAll) +
           ",\"thd95\":" + jsonOfPhases(r.thd95) + ",\"frequency995\":" + jsonOfCriterion(r.frequency995) +
           ",\"frequencyAll\":" + jsonOfCriterion(r.frequencyAll) +
           ",\"unbalance95\":" + jsonOfCriterion(r.unbalance95) +
           ",\"dips\":" + jsonOfTable(r.dips, DIP_ROWS) + ",\"swells\":" + jsonOfTable(r.swells, SWELL_ROWS) +
           "}";
}

std::string jsonOfPqEvent(const StoredPqEvent& e) {
    const bool bRvc = e.kind == "rvc";
    std::string json =
        "{\"id\":" + jsonString("pq" + std::to_string(e.llId)) + ",\"kind\":" + jsonString(e.kind) + "," +
        timeFields("start", e.llStartMicros) + "," + timeFields("end", e.llStartMicros + e.llDurationMicros) +
        ",\"classification\":" + jsonString(e.kind) + ",\"phases\":" + jsonString(PHASES[e.nPhase]) +
        ",\"extreme\":" + jsonNumber(e.dExtremeVolts) +
        ",\"duration\":" + jsonNumber(static_cast<double>(e.llDurationMicros) / 1e6) +
        ",\"incomplete\":" + flag(e.bCutShort) + ",\"records\":0,\"recordsPruned\":false" +
        ",\"declaredVolts\":" + jsonNumber(e.dDeclaredVolts) +
        ",\"eventId\":" + (e.llRecorderEventId ? jsonNumber(e.llRecorderEventId) : std::string("null"));
    if (e.kind == "interruption")
        json += ",\"interrupted\":" + jsonNumber(static_cast<double>(e.llInterruptedMicros) / 1e6);
    if (bRvc)
        json += ",\"deltaMaxVolts\":" + jsonNumber(e.dMaxDeltaVolts) +
                ",\"deltaSteadyVolts\":" + jsonNumber(e.dSteadyDeltaVolts);
    return json + "}";
}
