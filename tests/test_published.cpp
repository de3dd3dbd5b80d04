// The interfaces made from the catalogue of published quantities, each against
// it: /metrics read by a strict parser of Prometheus' text format 0.0.4, and
// the lifetime counters /api/values carries; the catalogue's keys the API's.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "ExportChannels.h"
#include "MetricsText.h"
#include "PublishedQuantities.h"
#include "WebJson.h"

namespace {

using Series = std::pair<std::string, double>;  // type, value

// Every series of the exposition ("name{labels}" as written), each breach of the format a failure: names
// and labels' syntax and escapes, # HELP and # TYPE once and before the metric's samples, a metric's
// samples together, counters ending in _total and not negative, no series twice.
std::map<std::string, Series> parseExposition(const std::string& text) {
    static const std::string NAME = "([a-zA-Z_:][a-zA-Z0-9_:]*)",
                             LABEL = R"re([a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*")re";
    static const std::regex DESCRIPTOR("# (?:HELP " + NAME + R"( (?:[^\\\n]|\\[\\n])*|TYPE )" + NAME +
                                       " (counter|gauge))"),
        SAMPLE(NAME + "(\\{(?:" + LABEL + "(?:," + LABEL + ")*,?)?\\})? (\\S+)");
    std::map<std::string, std::string> types, helps;
    std::set<std::string> done;
    std::string current;
    std::map<std::string, Series> series;
    EXPECT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, DESCRIPTOR)) {
            const std::string name = m[2].matched ? m[2] : m[1];
            std::map<std::string, std::string>& kind = m[2].matched ? types : helps;
            EXPECT_TRUE(done.count(name) + kind.count(name) == 0) << "late or twice: " << line;
            kind[name] = m[3];
            continue;
        }
        if (!std::regex_match(line, m, SAMPLE)) {
            ADD_FAILURE() << "neither a sample nor # HELP or # TYPE: " << line;
            continue;
        }
        const std::string name = m[1], value = m[3];
        if (name != current) {
            EXPECT_TRUE(done.insert(current).second && done.count(name) == 0) << line;
            current = name;
        }
        EXPECT_TRUE(types.count(name) && helps.count(name)) << "no # TYPE or # HELP before " << line;
        char* pszEnd = nullptr;
        const double dValue = std::strtod(value.c_str(), &pszEnd);  // NaN, +Inf and -Inf too
        EXPECT_EQ(*pszEnd, '\0') << line;
        EXPECT_TRUE(types[name] != "counter" ||
                    (std::regex_search(name, std::regex("_total$")) && dValue >= 0))
            << line;
        EXPECT_TRUE(series.emplace(name + m[2].str(), Series{types[name], dValue}).second)
            << "twice: " << line;
    }
    return series;
}

TEST(PublishedInterfaces, MetricsAndTheLifetimeJsonCarryEachQuantityOfTheCatalogue) {
    std::array<float, jrnl_MAX> journal;
    for (int i = 0; i < jrnl_MAX; i++) journal[i] = 1000.5f + i;
    LifetimeTotals lifetime;
    lifetime.llTimeMicros = 1709251199990000;
    for (int c = 0; c < life_MAX; c++) lifetime.values[c] = 1.75e10 + c + 0.25;  // 100 kW for 20 years
    MetricsInputs inputs;
    inputs.pJournal = &journal;
    inputs.pLifetime = &lifetime;
    inputs.serialNumber = "QM\"9\\00\n1";  // the EEPROM's, whatever it holds
    inputs.version = "1.0.0";
    inputs.status.recorder.unWindows = 3;
    inputs.status.mqtt = MqttCounts{};
    inputs.status.mqtt->ullDropped = 4;
    const std::map<std::string, Series> series = parseExposition(metricsText(inputs));
    const nlohmann::json json = nlohmann::json::parse(jsonOfLifetime(lifetime));
    std::set<std::string> keys;
    size_t lifetimeKeys = 0;
    for (const PublishedQuantity& q : publishedQuantities()) {
        SCOPED_TRACE(q.key);
        EXPECT_TRUE(keys.insert(q.key).second);
        const bool bJournal = q.source == QuantitySource::Journal;
        const ExportChannel& channel =
            journalChannels()[bJournal ? q.nIndex : 0];  // the API's records' names
        EXPECT_TRUE(!bJournal || (channel.name == q.key && channel.unit == q.unit)) << channel.name;
        // Journal values as the floats they were, the counters' doubles exactly, in base units.
        const double dWanted =
            bJournal ? float(journal[q.nIndex] * q.dMetricScale) : lifetime.values[q.nIndex] * q.dMetricScale;
        lifetimeKeys += !bJournal && json["counters"].value(q.key, -1.0) == lifetime.values[q.nIndex];
        const auto found = series.find(q.metric + (q.phase.empty() ? "" : "{phase=\"" + q.phase + "\"}"));
        ASSERT_NE(found, series.end());
        EXPECT_EQ(found->second.first, q.stateClass == "total_increasing" ? "counter" : "gauge");
        EXPECT_EQ(bJournal ? float(found->second.second) : found->second.second, dWanted);
    }
    EXPECT_EQ(json["counters"].size(), lifetimeKeys);  // each counter, as it is
    EXPECT_EQ(json["timeMicros"], lifetime.llTimeMicros);
    const auto value = [&](const std::string& key) {
        return series.count(key) ? series.at(key).second : NAN;
    };
    EXPECT_EQ(value(R"(qm9000_info{serial="QM\"9\\00\n1",version="1.0.0"})"), 1);
    EXPECT_EQ(value("qm9000_recorder_windows_stored_total"), 3);
    EXPECT_EQ(value("qm9000_mqtt_dropped_messages_total"), 4);
}

}  // namespace
