#include "MqttPayloads.h"

#include <map>
#include <vector>

#include "JsonText.h"
#include "PublishedQuantities.h"
#include "UtcTime.h"

namespace {

// An Influx tag key or value, or a field key: commas, equals signs and
// spaces escaped.
std::string influxName(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == ',' || c == '=' || c == ' ' || c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

using Fields = std::vector<std::pair<std::string, std::string>>;  // key, value as written

std::string timeFields(const char* pszName, int64_t llMicros) {
    return std::string("\"") + pszName + "\":" + jsonString(isoOfMicros(llMicros)) + ",\"" + pszName +
           "Micros\":" + std::to_string(llMicros);
}

// One line; nothing when there are no fields (a value that is not finite is left out).
std::string influxLine(const std::string& measurement, const Fields& tags, const Fields& fields,
                       int64_t llMicros) {
    std::string line = measurement;
    for (const auto& [key, value] : tags)
        if (!value.empty()) line += "," + influxName(key) + "=" + influxName(value);
    std::string values;
    for (const auto& [key, value] : fields)
        if (value != "null") values += (values.empty() ? " " : ",") + influxName(key) + "=" + value;
    if (values.empty()) return "";
    return line + values + " " + std::to_string(llMicros) + "000\n";
}

// The quantity's name without its phase: "VRMS" for VRMS_A, a total's key as it is.
std::string fieldName(const PublishedQuantity& quantity) {
    const std::string suffix = "_" + quantity.phase;
    const std::string& key = quantity.key;
    if (!quantity.phase.empty() && key.size() > suffix.size() &&
        key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0)
        return key.substr(0, key.size() - suffix.size());
    return key;
}

// The catalogue's quantities from `source` with their values: a JSON object's
// members after the time, or a line a phase (the totals' without one).
template <typename Value>
std::string catalogued(MqttFormat format, const std::string& meterId, const char* pszMeasurement,
                       QuantitySource source, int64_t llMicros, Value value) {
    if (format == MqttFormat::Json) {
        std::string json = "{" + timeFields("time", llMicros);
        for (const PublishedQuantity& quantity : publishedQuantities())
            if (quantity.source == source)
                json += "," + jsonString(quantity.key) + ":" + jsonNumber(value(quantity));
        return json + "}";
    }
    std::map<std::string, Fields> byPhase;
    for (const PublishedQuantity& quantity : publishedQuantities())
        if (quantity.source == source)
            byPhase[quantity.phase].emplace_back(fieldName(quantity), jsonNumber(value(quantity)));
    std::string lines;
    for (const auto& [phase, fields] : byPhase)
        lines += influxLine(pszMeasurement, {{"meter", meterId}, {"phase", phase}}, fields, llMicros);
    return lines;
}

// ACCUMULATOR_DATA's arrays: the JSON member, the Influx field prefix and
// suffix, the names' suffix ("HR" for energy).
struct AccumulatorArray {
    const char *pszMember, *pszPrefix, *pszSuffix;
    const float* (*values)(const ACCUMULATOR_DATA&);
};
const AccumulatorArray ARRAYS[] = {
    {"energy", "energy_", "hr", [](const ACCUMULATOR_DATA& a) -> const float* { return a.m_fEnergyAccum; }},
    {"total", "energy_total_", "hr",
     [](const ACCUMULATOR_DATA& a) -> const float* { return a.m_fEnergyTotal; }},
    {"demandMax", "demand_max_", "",
     [](const ACCUMULATOR_DATA& a) -> const float* { return a.m_fDemandMax; }},
    {"demandAvg", "demand_avg_", "",
     [](const ACCUMULATOR_DATA& a) -> const float* { return a.m_fDemandAvg; }},
};
const char* const QUANTITIES[] = {"WATT", "VAR", "VA", "FWATT", "FVAR", "FVA"};
const char* const PHASES[] = {"A", "B", "C"};
constexpr int QUANTITY_COUNT = 6;
static_assert(int{accum_ENERGY_MAX} == 4 * QUANTITY_COUNT && int{accum_POWER_MAX} == 4 * QUANTITY_COUNT,
              "per quantity phases A, B, C, then the totals");

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string MqttPayloads::state(const StateReading& reading) const {
    return catalogued(m_format, m_meterId, "qm9000_state", QuantitySource::Journal, reading.llTimeMicros,
                      [&](const PublishedQuantity& q) {
                          return q.nIndex >= 0 && q.nIndex < jrnl_MAX ? reading.journal[q.nIndex] : NAN;
                      });
}

std::string MqttPayloads::energy(const LifetimeTotals& totals) const {
    return catalogued(m_format, m_meterId, "qm9000_energy", QuantitySource::Lifetime, totals.llTimeMicros,
                      [&](const PublishedQuantity& q) {
                          return q.nIndex >= 0 && q.nIndex < life_MAX ? totals.values[q.nIndex] : NAN;
                      });
}

// Index of quantity q of phase p in an accumulator array: 3q + p, the totals after.
std::string MqttPayloads::interval(int64_t llEndMicros, const ACCUMULATOR_DATA& interval) const {
    if (m_format == MqttFormat::Json) {
        std::string json = "{" + timeFields("end", llEndMicros);
        for (const AccumulatorArray& array : ARRAYS) {
            const float* pf = array.values(interval);
            const std::string suffix = array.pszSuffix[0] ? "HR" : "";
            std::string members;
            for (int q = 0; q < QUANTITY_COUNT; q++)
                for (int p = 0; p < 3; p++)
                    members += (members.empty() ? "" : ",") +
                               jsonString(PHASES[p] + std::string(QUANTITIES[q]) + suffix) + ":" +
                               jsonNumber(pf[3 * q + p]);
            for (int q = 0; q < QUANTITY_COUNT; q++)
                members += ",\"TOT_" + std::string(QUANTITIES[q]) + suffix + "\":" + jsonNumber(pf[18 + q]);
            json += ",\"" + std::string(array.pszMember) + "\":{" + members + "}";
        }
        return json + "}";
    }
    std::string lines;
    for (int p = 0; p <= 3; p++) {  // phases A, B, C, then the totals
        Fields fields;
        for (const AccumulatorArray& array : ARRAYS)
            for (int q = 0; q < QUANTITY_COUNT; q++)
                fields.emplace_back(array.pszPrefix + lower(QUANTITIES[q]) + array.pszSuffix,
                                    jsonNumber(array.values(interval)[p < 3 ? 3 * q + p : 18 + q]));
        lines += influxLine("qm9000_interval", {{"meter", m_meterId}, {"phase", p < 3 ? PHASES[p] : ""}},
                            fields, llEndMicros);
    }
    return lines;
}

std::string MqttPayloads::event(const StoredEvent& event) const {
    const std::string files = "/api/events/" + std::to_string(event.llId);
    const double dDuration = static_cast<double>(event.llDurationMicros) / 1e6;
    if (m_format == MqttFormat::Json)
        return "{\"id\":" + std::to_string(event.llId) + "," + timeFields("start", event.llStartMicros) +
               "," + timeFields("end", event.llEndMicros) +
               ",\"classification\":" + jsonString(event.classification) +
               ",\"phases\":" + jsonString(event.phases) + ",\"extreme\":" + jsonNumber(event.dExtreme) +
               ",\"duration\":" + jsonNumber(dDuration) +
               ",\"incomplete\":" + (event.bIncomplete ? "true" : "false") + ",\"comtrade\":[" +
               jsonString(files + ".cfg") + "," + jsonString(files + ".dat") +
               "],\"csv\":" + jsonString(files + ".csv") + "}";
    return influxLine(
        "qm9000_event",
        {{"meter", m_meterId}, {"classification", event.classification}, {"phases", event.phases}},
        {{"id", std::to_string(event.llId) + "i"},
         {"extreme", jsonNumber(event.dExtreme)},
         {"duration", jsonNumber(dDuration)},
         {"incomplete", event.bIncomplete ? "true" : "false"},
         {"end_us", std::to_string(event.llEndMicros) + "i"},
         {"comtrade", jsonString(files + ".cfg")},
         {"csv", jsonString(files + ".csv")}},
        event.llStartMicros);
}
