// The interfaces made from the catalogue of published quantities, each against
// it: /metrics read by a strict parser of Prometheus' text format 0.0.4, and
// the lifetime counters /api/values carries; the catalogue's keys the API's.
#include <gtest/gtest.h>

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

struct Series {
    std::string type;
    double dValue;
};

// Every series of the exposition by name and labels (sorted, as written), each breach of the format a
// failure: names and labels' syntax and escapes, # HELP and # TYPE once and before the metric's samples,
// a metric's samples together, counters ending in _total and not negative, no series twice.
std::map<std::string, Series> parseExposition(const std::string& text) {
    static const std::regex NAME("[a-zA-Z_:][a-zA-Z0-9_:]*"), HELP(R"((?:[^\\\n]|\\[\\n])*)"),
        SAMPLE(R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})? (\S+))"),
        LABEL(R"re(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\[\\"n])*)",?)re");
    std::map<std::string, std::string> types, helps;
    std::set<std::string> done;
    std::string current;
    std::map<std::string, Series> series;
    EXPECT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
            const std::string name = line.substr(7, line.find(' ', 7) - 7),
                              what = line.substr(8 + name.size());
            std::map<std::string, std::string>& kind = line[2] == 'T' ? types : helps;
            EXPECT_TRUE(std::regex_match(name, NAME) && done.count(name) + kind.count(name) == 0) << line;
            EXPECT_TRUE(line[2] == 'T' ? what == "counter" || what == "gauge" : std::regex_match(what, HELP))
                << line;
            kind[name] = what;
            continue;
        }
        if (!std::regex_match(line, m, SAMPLE)) {
            ADD_FAILURE() << "not a sample: " << line;
            continue;
        }
        const std::string name = m[1], value = m[3];
        if (name != current) {
            EXPECT_TRUE(done.insert(current).second && done.count(name) == 0) << line;
            current = name;
        }
        EXPECT_TRUE(types.count(name) && helps.count(name)) << "no # TYPE or # HELP before " << line;
        std::map<std::string, std::string> labels;
        std::smatch l;
        for (std::string rest = m[2]; !rest.empty(); rest = l.suffix())
            if (!std::regex_search(rest, l, LABEL, std::regex_constants::match_continuous) ||
                !labels.emplace(l[1], l[2]).second) {
                ADD_FAILURE() << "labels: " << line;
                break;
            }
        std::string key = name;
        for (const auto& [label, labelValue] : labels)
            key += (key == name ? "{" : ",") + label + "=\"" + labelValue + "\"";
        key += labels.empty() ? "" : "}";
        char* pszEnd = nullptr;
        const double dValue = value == "+Inf" || value == "-Inf" ? 0 : std::strtod(value.c_str(), &pszEnd);
        EXPECT_TRUE(value == "NaN" || value == "+Inf" || value == "-Inf" || *pszEnd == '\0') << line;
        const bool bCounter = types[name] == "counter";
        EXPECT_TRUE(!bCounter || (name.size() > 6 && name.substr(name.size() - 6) == "_total" && dValue >= 0))
            << line;
        EXPECT_TRUE(series.emplace(key, Series{types[name], dValue}).second) << "twice: " << line;
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
    inputs.outbox.ullDropped = 4;
    const std::map<std::string, Series> series = parseExposition(metricsText(inputs));
    const nlohmann::json json = nlohmann::json::parse(jsonOfLifetime(lifetime));
    std::set<std::string> keys;
    size_t lifetimeKeys = 0;
    for (const PublishedQuantity& q : publishedQuantities()) {
        SCOPED_TRACE(q.key);
        EXPECT_TRUE(keys.insert(q.key).second);
        const bool bJournal = q.source == QuantitySource::Journal;
        if (bJournal) {  // named and measured as the API's records name them
            EXPECT_EQ(journalChannels()[q.nIndex].name, q.key);
            EXPECT_EQ(journalChannels()[q.nIndex].unit, q.unit);
        } else {
            EXPECT_EQ(json["counters"][q.key], lifetime.values[q.nIndex]);
            lifetimeKeys++;
        }
        const auto found = series.find(q.metric + (q.phase.empty() ? "" : "{phase=\"" + q.phase + "\"}"));
        ASSERT_NE(found, series.end());
        EXPECT_EQ(found->second.type, q.stateClass == "total_increasing" ? "counter" : "gauge");
        if (bJournal)  // as the float it was, in base units
            EXPECT_EQ(float(found->second.dValue), float(journal[q.nIndex] * q.dMetricScale));
        else
            EXPECT_EQ(found->second.dValue, lifetime.values[q.nIndex]);
    }
    EXPECT_EQ(json["counters"].size(), lifetimeKeys);
    EXPECT_EQ(json["timeMicros"], lifetime.llTimeMicros);
    for (const auto& [key, dValue] :
         std::map<std::string, double>{{R"(qm9000_info{serial="QM\"9\\00\n1",version="1.0.0"})", 1},
                                       {"qm9000_recorder_windows_stored_total", 3},
                                       {"qm9000_mqtt_dropped_messages_total", 4}}) {
        ASSERT_TRUE(series.count(key)) << key;
        EXPECT_EQ(series.at(key).dValue, dValue) << key;
    }
}

}  // namespace
