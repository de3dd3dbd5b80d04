#include "MetricsText.h"

#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include "PublishedQuantities.h"

namespace {

// A sample's value as the format reads it: NaN, +Inf, -Inf, else the shortest
// text that reads back as the same number.
template <typename T>
std::string number(T value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// Backslash and newline escaped, as HELP text; a double quote too, as a label value.
std::string escaped(const std::string& text, bool bLabel) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || (bLabel && c == '"')) out += '\\';
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

// The samples by metric, each metric's together whatever order they are added in.
class Exposition {
public:
    void add(const std::string& name, bool bCounter, const std::string& help, const std::string& labels,
             const std::string& value) {
        auto [at, bNew] = m_index.emplace(name, m_families.size());
        if (bNew) m_families.push_back({name, bCounter, help, {}});
        m_families[at->second].samples.push_back(name + labels + " " + value + "\n");
    }
    std::string text() const {
        std::string out;
        for (const Family& f : m_families) {
            out += "# HELP " + f.name + " " + escaped(f.help, false) + "\n# TYPE " + f.name +
                   (f.bCounter ? " counter\n" : " gauge\n");
            for (const std::string& sample : f.samples) out += sample;
        }
        return out;
    }

private:
    struct Family {
        std::string name;
        bool bCounter;
        std::string help;
        std::vector<std::string> samples;
    };
    std::vector<Family> m_families;
    std::map<std::string, size_t> m_index;
};

// "Voltage A" -> "Voltage by phase."; the lifetime counters over the meter's life.
std::string helpOf(const PublishedQuantity& q) {
    std::string help = q.name;
    if (!q.phase.empty()) help = help.substr(0, help.rfind(' ')) + " by phase";
    return help + (q.source == QuantitySource::Lifetime ? ", over the meter's life." : ".");
}

void addQuantities(Exposition& out, const MetricsInputs& in) {
    static const std::array<float, jrnl_MAX> NO_JOURNAL{};
    static const LifetimeTotals NO_LIFETIME;
    for (const PublishedQuantity& q : publishedQuantities()) {
        const bool bLifetime = q.source == QuantitySource::Lifetime;
        if (!(bLifetime ? in.pLifetime != nullptr : in.pJournal != nullptr)) continue;
        const std::string labels = q.phase.empty() ? "" : "{phase=\"" + escaped(q.phase, true) + "\"}";
        const double dValue = publishedValue(q, in.pJournal ? *in.pJournal : NO_JOURNAL,
                                             in.pLifetime ? *in.pLifetime : NO_LIFETIME) *
                              q.dMetricScale;
        // A journal value is a float: as many digits as it has.
        out.add(q.metric, q.stateClass == "total_increasing", helpOf(q), labels,
                bLifetime ? number(dValue) : number(static_cast<float>(dValue)));
    }
}

void addHealth(Exposition& out, const MetricsInputs& in) {
    const MeasurementStatus& m = in.status.measurement;
    const RecorderCounts& r = in.status.recorder;
    const StorageStatus& d = in.status.database;
    const struct {
        const char* pszName;
        bool bCounter;
        const char* pszHelp;
        double dValue;
    } rows[] = {
        {"qm9000_measuring", false, "1 while the meter measures.", double(m.bMeasuring)},
        {"qm9000_chip_answering", false, "1 while the measuring chip answers.", double(m.bChipAnswering)},
        {"qm9000_records_per_second", false, "Half-cycle records made over the last second.",
         m.dRecordsPerSecond},
        {"qm9000_uptime_seconds", false, "Seconds since the meter started.", m.dUptimeSeconds},
        {"qm9000_recorder_recording", false, "1 while the recorder's writes are taken.",
         double(r.bRecording)},
        {"qm9000_recorder_windows_stored_total", true, "Recording windows stored.", double(r.unWindows)},
        {"qm9000_recorder_records_stored_total", true, "Records stored with the windows.",
         double(r.ulRecords)},
        {"qm9000_recorder_intervals_stored_total", true, "Energy intervals stored.", double(r.unIntervals)},
        {"qm9000_recorder_windows_pending", false, "Windows waiting for the database.",
         double(r.unPendingWindows)},
        {"qm9000_recorder_intervals_pending", false, "Intervals waiting for the database.",
         double(r.unPendingIntervals)},
        {"qm9000_recorder_windows_dropped_total", true, "Windows dropped from a full pending queue.",
         double(r.unDroppedWindows)},
        {"qm9000_recorder_intervals_dropped_total", true, "Intervals dropped from a full pending queue.",
         double(r.unDroppedIntervals)},
        {"qm9000_recorder_windows_lost_total", true,
         "Windows overwritten in the ring before they were taken.", double(r.unLostWindows)},
        {"qm9000_recorder_retried_writes_total", true, "Database writes that failed and were tried again.",
         double(r.unRetriedWrites)},
        {"qm9000_database_size_bytes", false, "The event database's size.", double(d.llUsedBytes)},
        {"qm9000_database_max_bytes", false, "The bound the event database is kept within.",
         double(d.llMaxBytes)},
        {"qm9000_database_pruned_events_total", true, "Events whose records were pruned to keep the bound.",
         double(d.llPrunedEvents)},
        {"qm9000_database_pruned_snapshots_total", true, "Snapshots pruned to keep the bound.",
         double(d.llPrunedSnapshots)},
    };
    out.add(
        "qm9000_info", false, "The meter: its module's serial number and the software's version.",
        "{serial=\"" + escaped(in.serialNumber, true) + "\",version=\"" + escaped(in.version, true) + "\"}",
        "1");
    for (const auto& row : rows) out.add(row.pszName, row.bCounter, row.pszHelp, "", number(row.dValue));
    if (const std::optional<MqttCounts>& mqtt = in.status.mqtt) {
        out.add("qm9000_mqtt_connected", false, "1 while the MQTT broker is connected.", "",
                number(mqtt->bConnected ? 1.0 : 0.0));
        out.add("qm9000_mqtt_queued_messages", false, "MQTT messages kept for the broker.", "",
                number(static_cast<double>(mqtt->ullQueued)));
        out.add("qm9000_mqtt_delivered_messages_total", true, "MQTT messages the broker confirmed.", "",
                number(static_cast<double>(mqtt->ullDelivered)));
        out.add("qm9000_mqtt_dropped_messages_total", true, "MQTT messages dropped at the queue's bound.", "",
                number(static_cast<double>(mqtt->ullDropped)));
    }
    if (in.pLifetime)
        out.add("qm9000_lifetime_energy_saved_timestamp_seconds", false,
                "When the lifetime energy counters shown were last brought up to date (Unix time).", "",
                number(static_cast<double>(in.pLifetime->llTimeMicros) / 1e6));
}

}  // namespace

std::string metricsText(const MetricsInputs& inputs) {
    Exposition out;
    addQuantities(out, inputs);
    addHealth(out, inputs);
    return out.text();
}
