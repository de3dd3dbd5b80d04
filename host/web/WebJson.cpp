#include "WebJson.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "ExportChannels.h"
#include "JsonText.h"
#include "PublishedQuantities.h"
#include "UtcTime.h"

namespace {

std::string quoted(const std::string& text) {
    return jsonString(text);
}

template <typename T>
std::string number(T value) {
    return jsonNumber(value);
}

std::string number(int64_t value) {
    return std::to_string(value);
}

// {"NAME":value,...} for `count` floats named by `names`.
std::string namedValues(const std::vector<std::string>& names, const float* pfValues, size_t count) {
    std::string json = "{";
    for (size_t i = 0; i < count; i++) json += (i ? "," : "") + quoted(names[i]) + ":" + number(pfValues[i]);
    return json + "}";
}

const std::vector<std::string>& journalNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const ExportChannel& channel : journalChannels()) list.push_back(channel.name);
        return list;
    }();
    return names;
}

// The interval quantities in accumulator order: "AWATT" ... "TOT_FVA" for
// demand, the same with "HR" for energy.
std::vector<std::string> accumulatorNames(const char* pszSuffix) {
    static const char* const QUANTITIES[] = {"WATT", "VAR", "VA", "FWATT", "FVAR", "FVA"};
    std::vector<std::string> names;
    for (const char* pszQuantity : QUANTITIES)
        for (const char* pszPhase : {"A", "B", "C"})
            names.push_back(std::string(pszPhase) + pszQuantity + pszSuffix);
    for (const char* pszQuantity : QUANTITIES) names.push_back(std::string("TOT_") + pszQuantity + pszSuffix);
    return names;
}

const std::vector<std::string>& energyNames() {
    static const std::vector<std::string> names = accumulatorNames("HR");
    return names;
}

const std::vector<std::string>& demandNames() {
    static const std::vector<std::string> names = accumulatorNames("");
    return names;
}

std::string timeFields(const char* pszName, int64_t llMicros) {
    return std::string("\"") + pszName + "\":" + quoted(isoOfMicros(llMicros)) + ",\"" + pszName +
           "Micros\":" + number(llMicros);
}

std::string eventFields(const StoredEvent& event) {
    return "\"id\":" + number(event.llId) + ",\"kind\":\"window\"," +
           timeFields("start", event.llStartMicros) + "," + timeFields("end", event.llEndMicros) + "," +
           timeFields("trigger", event.llTriggerMicros) +
           ",\"triggerStatus\":" + number(int64_t{event.ulTriggerStatus}) +
           ",\"classification\":" + quoted(event.classification) + ",\"phases\":" + quoted(event.phases) +
           ",\"extreme\":" + number(event.dExtreme) +
           ",\"duration\":" + number(static_cast<double>(event.llDurationMicros) / 1e6) +
           ",\"incomplete\":" + (event.bIncomplete ? "true" : "false") +
           ",\"recordsPruned\":" + (event.bRecordsPruned ? "true" : "false");
}

}  // namespace

std::string jsonError(const std::string& message) {
    return "{\"error\":" + quoted(message) + "}";
}

uint32_t recordRequestFloats(int nType) {
    switch (nType) {
        case REQ_VANDI:
            return VANDI_FLOATS;
        case REQ_PHASOR:
            return PHASOR_FLOATS;
        case REQ_ENERGY:
            return ENERGY_FLOATS;
        case REQ_MODBUS:
            return MODBUS_FLOATS;
        default:
            return 0;
    }
}

std::string jsonOfRecordRequest(int nType, const float* pfValues) {
    const std::string head = "{\"request\":" + std::to_string(nType) + ",";
    const std::vector<std::string>& journal = journalNames();
    switch (nType) {
        case REQ_VANDI:
            return head + "\"values\":" + namedValues(journal, pfValues, VANDI_FLOATS) + "}";
        case REQ_PHASOR: {
            const std::vector<std::string> angles(journal.begin() + jrnl_VANGLE_A,
                                                  journal.begin() + jrnl_NIRMS);
            return head + "\"values\":" + namedValues(angles, pfValues, angles.size()) + "}";
        }
        case REQ_ENERGY:
            return head + "\"energy\":" + namedValues(energyNames(), pfValues, accum_ENERGY_MAX) +
                   ",\"total\":" + namedValues(energyNames(), pfValues + accum_ENERGY_MAX, accum_ENERGY_MAX) +
                   ",\"demandMax\":" +
                   namedValues(demandNames(), pfValues + 2 * accum_ENERGY_MAX, accum_POWER_MAX) + "}";
        case REQ_MODBUS:
            return head + "\"values\":" + namedValues(journal, pfValues, jrnl_MAX) +
                   ",\"energy\":" + namedValues(energyNames(), pfValues + jrnl_MAX, accum_ENERGY_MAX) +
                   ",\"total\":" +
                   namedValues(energyNames(), pfValues + jrnl_MAX + accum_ENERGY_MAX, accum_ENERGY_MAX) + "}";
        default:
            return jsonError("no record " + std::to_string(nType));
    }
}

std::string jsonOfEventSummary(const StoredEvent& event) {
    return "{" + eventFields(event) + ",\"records\":" + number(static_cast<int64_t>(event.recordCount())) +
           "}";
}

std::string jsonOfEvent(const StoredEvent& event) {
    std::string times, limits;
    for (const StoredRecord& record : event.records) {
        times += (times.empty() ? "" : ",") + number(record.llTimeMicros);
        limits += (limits.empty() ? "" : ",") + number(int64_t{record.ulLimitStatus});
    }
    std::string values;
    for (const ExportChannel& channel : journalChannels()) {
        std::string column;
        for (const StoredRecord& record : event.records)
            column += (column.empty() ? "" : ",") + number(record.values[channel.index]);
        values += (values.empty() ? "" : ",") + quoted(channel.name) + ":[" + column + "]";
    }
    return "{" + eventFields(event) + ",\"records\":" + number(static_cast<int64_t>(event.recordCount())) +
           ",\"series\":{\"timeMicros\":[" + times + "],\"limits\":[" + limits + "],\"values\":{" + values +
           "}}}";
}

std::string jsonOfEvents(const std::vector<StoredEvent>& events) {
    std::string json = "[";
    for (const StoredEvent& event : events) json += (json.size() > 1 ? "," : "") + jsonOfEventSummary(event);
    return json + "]";
}

std::string jsonOfIntervals(const std::vector<ACCUMULATOR_DATA>& intervals) {
    std::string json = "[";
    for (const ACCUMULATOR_DATA& interval : intervals) {
        if (json.size() > 1) json += ",";
        // A completed interval's time stamp is the moment it ended.
        json += "{" + timeFields("end", static_cast<int64_t>(interval.m_ttStartTime) * 1000000) +
                ",\"energy\":" + namedValues(energyNames(), interval.m_fEnergyAccum, accum_ENERGY_MAX) +
                ",\"total\":" + namedValues(energyNames(), interval.m_fEnergyTotal, accum_ENERGY_MAX) +
                ",\"demandMax\":" + namedValues(demandNames(), interval.m_fDemandMax, accum_POWER_MAX) +
                ",\"demandAvg\":" + namedValues(demandNames(), interval.m_fDemandAvg, accum_POWER_MAX) + "}";
    }
    return json + "]";
}

std::string jsonOfSnapshot(const StoredSnapshot& snapshot) {
    static const char* const NAMES[SNAPSHOT_CHANNELS] = {"VA", "VB", "VC", "IA", "IB", "IC"};
    std::string json = "{";
    if (snapshot.llId > 0) json += "\"id\":" + number(snapshot.llId) + ",";
    json += timeFields("time", snapshot.llTimeMicros) + ",\"frequency\":" + number(snapshot.dFrequency) +
            ",\"samplesPerCycle\":" + std::to_string(SNAPSHOT_SAMPLES) + ",\"channels\":[";
    for (int c = 0; c < SNAPSHOT_CHANNELS; c++) {
        std::string samples;
        for (const float sample : snapshot.samples[c])
            samples += (samples.empty() ? "" : ",") + number(sample);
        json += std::string(c ? "," : "") + "{\"name\":\"" + NAMES[c] + "\",\"unit\":\"" +
                (c < 3 ? "V" : "A") + "\",\"samples\":[" + samples + "]}";
    }
    return json + "]}";
}

std::string jsonOfStatus(const MeterStatus& status) {
    const MeasurementStatus& m = status.measurement;
    const RecorderCounts& r = status.recorder;
    const StorageStatus& d = status.database;
    const auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
    const auto count = [](uint64_t n) { return number(static_cast<int64_t>(n)); };
    std::string lost;
    for (const LostWindow& window : r.lost)
        lost += (lost.empty() ? "{" : ",{") + timeFields("start", window.llStartMicros) + "," +
                timeFields("end", window.llEndMicros) + ",\"reason\":" + quoted(window.reason) + "}";
    std::string mqtt;  // left out when the meter publishes to no broker
    if (const std::optional<MqttCounts>& q = status.mqtt)
        mqtt = ",\"mqtt\":{\"connected\":" + flag(q->bConnected) + ",\"queued\":" + count(q->ullQueued) +
               ",\"delivered\":" + count(q->ullDelivered) + ",\"dropped\":" + count(q->ullDropped) +
               ",\"lastError\":" + quoted(q->lastError) + "}";
    std::string pq;  // left out when no analysis runs
    if (const std::optional<PqCounts>& a = status.pq)
        pq = ",\"pq\":{\"recordsAnalysed\":" + count(a->ullRecordsAnalysed) +
             ",\"recordsLost\":" + count(a->ullRecordsLost) +
             ",\"recordsDropped\":" + count(a->ullRecordsDropped) + ",\"breaks\":" + count(a->ullBreaks) +
             ",\"rows\":{\"written\":" + count(a->ullRowsWritten) +
             ",\"pending\":" + count(a->ullRowsPending) + ",\"dropped\":" + count(a->ullRowsDropped) +
             "},\"retriedWrites\":" + count(a->ullRetriedWrites) + ",\"lastError\":" + quoted(a->lastError) +
             "}";
    return "{\"measurement\":{\"measuring\":" + flag(m.bMeasuring) + ",\"fault\":" + quoted(m.fault) +
           ",\"recordsPerSecond\":" + number(m.dRecordsPerSecond) +
           ",\"chipAnswering\":" + flag(m.bChipAnswering) + ",\"uptimeSeconds\":" + number(m.dUptimeSeconds) +
           "},\"recorder\":{\"recording\":" + flag(r.bRecording) +
           ",\"windows\":{\"stored\":" + count(r.unWindows) + ",\"pending\":" + count(r.unPendingWindows) +
           ",\"dropped\":" + count(r.unDroppedWindows) + ",\"lost\":" + count(r.unLostWindows) +
           "},\"intervals\":{\"stored\":" + count(r.unIntervals) +
           ",\"pending\":" + count(r.unPendingIntervals) + ",\"dropped\":" + count(r.unDroppedIntervals) +
           "},\"records\":" + count(r.ulRecords) + ",\"retriedWrites\":" + count(r.unRetriedWrites) +
           ",\"lostWindows\":[" + lost + "],\"lastError\":" + quoted(r.lastError) +
           "},\"database\":{\"path\":" + quoted(d.path) + ",\"writable\":" + flag(d.bWritable) +
           ",\"sizeBytes\":" + number(d.llUsedBytes) + ",\"maxBytes\":" + number(d.llMaxBytes) +
           ",\"prunedEvents\":" + number(d.llPrunedEvents) +
           ",\"prunedSnapshots\":" + number(d.llPrunedSnapshots) +
           ",\"prunedPqRows\":" + number(d.llPrunedPqRows) + ",\"error\":" + quoted(status.databaseError) +
           "}" + mqtt + pq + "}";
}

std::string jsonOfLifetime(const LifetimeTotals& totals) {
    std::string counters;
    for (const PublishedQuantity& q : publishedQuantities())
        if (q.source == QuantitySource::Lifetime)
            counters += (counters.empty() ? "" : ",") + quoted(q.key) + ":" + number(totals.values[q.nIndex]);
    return "{" + timeFields("time", totals.llTimeMicros) + ",\"counters\":{" + counters + "}}";
}
