#include "WebServer.h"

#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

#include "ComtradeExport.h"
#include "CsvExport.h"
#include "EventDatabase.h"
#include "HttpServer.h"
#include "MetricsText.h"
#include "PqJson.h"
#include "PublishedQuantities.h"
#include "SnapshotCache.h"
#include "UtcTime.h"
#include "WebAccess.h"
#include "WebJson.h"

namespace {

using Request = HttpRequest;
using Response = HttpResponse;

constexpr const char* JSON = "application/json";
constexpr const char* METRICS = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char* STATION = "QM9000";
// Debian's charting library (libjs-dygraphs), which the page draws with.
constexpr const char* DYGRAPHS_DIR = "/usr/share/javascript/dygraphs";
constexpr int DEFAULT_EVENTS = 100, DEFAULT_INTERVALS = 96, MAX_LIST = 1000;
// The most 10-minute or 2-hour values one answer holds: a week of 10-minute
// values (~1.4 MB), or 92 days of 2-hour ones.
constexpr int MAX_AGGREGATES = 1104;
constexpr int64_t HOUR_MICROS = 3600LL * 1000000, DAY_MICROS = 24 * HOUR_MICROS;
// The analysis's kinds of event, and the recorder's own ("window").
constexpr const char* EVENT_KINDS[] = {"window", "dip", "swell", "interruption", "rvc"};
constexpr std::chrono::milliseconds SNAPSHOT_PERIOD{5000};
// Big enough for the JSON reports: the values, the scaled values and the register list.
constexpr uint32_t REPORT_BUFFER = 65536;
// inDatabase's status for a lookup: 404 or 503 by what went wrong.
constexpr int LOOKUP_STATUS = 0;

void sendError(Response& response, int nStatus, const std::string& message) {
    response.status = nStatus;
    response.set_content(jsonError(message), JSON);
}

// "the module did not answer request N", and what it said instead.
void sendNoAnswer(Response& response, int nType, const std::string& detail = "") {
    sendError(response, 503, "the module did not answer request " + std::to_string(nType) + detail);
}

// A positive decimal id of at most 18 digits (an int64 holds it).
bool parseId(const std::string& text, int64_t& llId) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    llId = std::stoll(text);
    return llId > 0;
}

// ?limit=N, 1 to MAX_LIST; `nDefault` without one. False with a 400 sent.
bool listLimit(const Request& request, Response& response, int nDefault, int& nLimit) {
    nLimit = nDefault;
    if (!request.has_param("limit")) return true;
    int64_t llLimit = 0;
    if (parseId(request.get_param_value("limit"), llLimit) && llLimit <= MAX_LIST) {
        nLimit = static_cast<int>(llLimit);
        return true;
    }
    sendError(response, 400, "limit must be a whole number from 1 to " + std::to_string(MAX_LIST));
    return false;
}

// The record request "/api/records/<which>" names: <which> is its code.
bool parseRecord(const std::string& which, int& nType) {
    for (const eRealtimeRequest request : RECORD_REQUESTS)
        if (which == std::to_string(request)) {
            nType = request;
            return true;
        }
    return false;
}

// The records' codes as a sentence, "A, B and C", for a refusal.
std::string recordList() {
    const size_t count = std::size(RECORD_REQUESTS);
    std::string list;
    for (size_t i = 0; i < count; i++)
        list += (i == 0 ? "" : i + 1 < count ? ", " : " and ") + std::to_string(RECORD_REQUESTS[i]);
    return list;
}

// What ".../ID[.EXT]" asks for: a stored event or snapshot, as JSON (no
// extension) or as the file the extension names.
struct Download {
    explicit Download(const char* pszWhat) : pszKind(pszWhat) {}

    const char* pszKind;  // "event", "snapshot"
    int64_t llId = 0;
    std::string extension;

    // "12", "12.cfg", "12.dat", "12.csv" from the path; false with a 400 sent
    // for a malformed id.
    bool parse(const Request& request, Response& response) {
        const std::string text = request.matches[1];
        const size_t dot = text.find('.');
        extension = dot == std::string::npos ? "" : text.substr(dot + 1);
        if (parseId(text.substr(0, dot), llId)) return true;
        sendError(response, 400, std::string("malformed ") + pszKind + " id \"" + text + "\"");
        return false;
    }
    // As an attachment "<kind>-ID.EXT".
    void send(Response& response, const std::string& text, const char* pszType) const {
        response.set_header("Content-Disposition", std::string("attachment; filename=\"") + pszKind + "-" +
                                                       std::to_string(llId) + "." + extension + "\"");
        response.set_content(text, pszType);
    }
    // The .cfg or .dat of `files`; a 404 "<kind> ID: <why not>" when the
    // stored data makes no COMTRADE record.
    void sendComtrade(Response& response, const ComtradeFiles& files) const {
        if (files.empty())
            return sendError(response, 404,
                             std::string(pszKind) + " " + std::to_string(llId) + ": " + files.refusal);
        if (!files.note.empty() && extension == "cfg")
            warn(std::string(pszKind) + " " + std::to_string(llId), files.note);
        send(response, extension == "cfg" ? files.cfg : files.dat, "text/plain");
    }
};

// The wall clock, as the module stamps its records (virtual with --fast).
int64_t nowMicros() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return int64_t{now.tv_sec} * 1000000 + now.tv_usec;
}

// ?`name`= as a moment (ISO 8601 UTC or microseconds), `llDefault` without
// one. False with a 400 sent.
bool timeParam(const Request& request, Response& response, const char* pszName, int64_t llDefault,
               int64_t& llMicros) {
    llMicros = llDefault;
    if (!request.has_param(pszName)) return true;
    const std::string text = request.get_param_value(pszName);
    if (microsOfTimeText(text, llMicros)) return true;
    sendError(response, 400,
              std::string(pszName) + " \"" + text +
                  "\" is not a time: ISO 8601 in UTC (2024-03-04T00:00:00Z) or microseconds since the epoch");
    return false;
}

// ?kind=a,b: which kinds of event /api/events lists, a bit each in
// EVENT_KINDS' order; "all" for every one. The recorder's alone without one.
bool eventKinds(const Request& request, Response& response, unsigned& unKinds) {
    unKinds = 1;
    if (!request.has_param("kind")) return true;
    const std::string text = request.get_param_value("kind");
    unKinds = 0;
    for (size_t at = 0; at <= text.size();) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string kind = text.substr(at, comma - at);
        unsigned unBit = kind == "all" ? (1u << std::size(EVENT_KINDS)) - 1 : 0;
        for (size_t k = 0; k < std::size(EVENT_KINDS); k++)
            if (kind == EVENT_KINDS[k]) unBit = 1u << k;
        if (!unBit) {
            sendError(response, 400,
                      "kind \"" + kind + "\" is none of window, dip, swell, interruption, rvc, all");
            return false;
        }
        unKinds |= unBit;
        at = comma + 1;
    }
    return true;
}

bool listsKind(unsigned unKinds, const std::string& kind) {
    for (size_t k = 0; k < std::size(EVENT_KINDS); k++)
        if (kind == EVENT_KINDS[k]) return (unKinds >> k) & 1;
    return false;
}

}  // namespace

bool parseWebAddress(const std::string& text, std::string& host, int& port, std::string& error) {
    const size_t colon = text.rfind(':');
    host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    const std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    int64_t llPort = 0;
    const bool bPortOk = portText == "0" || (parseId(portText, llPort) && llPort <= 65535);
    if (host.empty() || !bPortOk) {
        error = "\"" + text + "\" is not [ADDRESS:]PORT with a port from 0 to 65535";
        return false;
    }
    port = static_cast<int>(llPort);
    return true;
}

// The server and what its handlers share. The constructor of WebServer sets
// it up in steps, one group of routes each.
struct WebServer::Routes {
    Routes(MeasSOM& module, std::string path, const StorageLimits& limits, MeterStatusSource source)
        : module(module),
          databasePath(std::move(path)),
          storageLimits(limits),
          statusSource(std::move(source)),
          snapshots(module, SNAPSHOT_PERIOD) {}

    MeasSOM& module;
    const std::string databasePath;
    const StorageLimits storageLimits;
    const MeterStatusSource statusSource;
    HttpServer server;
    std::mutex databaseMutex;  // the server's threads share one connection
    EventDatabase database;
    SnapshotCache snapshots;  // the capture every viewer is served
    AccessPolicy accessPolicy;
    PublishedSources published;
    PqSources pqSources;

    // A handler of ours, as the server calls it.
    HttpServer::Handler handler(void (Routes::*pHandler)(const Request&, Response&)) {
        return [this, pHandler](const Request& request, Response& response) {
            (this->*pHandler)(request, response);
        };
    }

    // `use(error)` on the database under its lock, the database opened on
    // first use (the recorder creates it). False with a refusal sent: 503
    // without a database; `nStatus` with `prefix` and the error when `use` fails
    // (LOOKUP_STATUS: 404 for an event or snapshot not there, 503 when the
    // database failed).
    template <typename Use>
    bool inDatabase(Response& response, int nStatus, const std::string& prefix, Use use) {
        std::lock_guard<std::mutex> lock(databaseMutex);
        std::string error;
        if (!database.isOpen() && !database.open(databasePath, error, storageLimits)) {
            sendError(response, 503, "no event database: " + error);
            return false;
        }
        if (use(error)) return true;
        if (nStatus == LOOKUP_STATUS) nStatus = database.lastLoadMissed() ? 404 : 503;
        sendError(response, nStatus, prefix + error);
        return false;
    }

    // The newest `?limit=N` of a list the database keeps, as JSON.
    template <typename Item>
    void listing(const Request& request, Response& response, int nDefault,
                 std::vector<Item> (EventDatabase::*load)(int, std::string&),
                 std::string (*toJson)(const std::vector<Item>&)) {
        int nLimit = 0;
        if (!listLimit(request, response, nDefault, nLimit)) return;
        std::vector<Item> list;
        const auto loaded = [&](std::string& error) {
            list = (database.*load)(nLimit, error);
            return error.empty();
        };
        if (inDatabase(response, 503, "", loaded)) response.set_content(toJson(list), JSON);
    }

    // One of the module's JSON reports, made a document by `pszBefore` and `pszAfter`.
    void report(int nType, const char* pszBefore, const char* pszAfter, Response& response) {
        std::vector<char> text(REPORT_BUFFER);
        const int nResult = module.realtimeGet(nType, text.data(), REPORT_BUFFER);
        if (nResult != REQ_OK)
            return sendNoAnswer(response, nType, " (result " + std::to_string(nResult) + ")");
        text.back() = '\0';
        response.set_content(std::string(pszBefore) + text.data() + pszAfter, JSON);
    }

    // The lifetime energy counters saved last, or none.
    bool lifetime(LifetimeTotals& totals) { return published.lifetime && published.lifetime(totals); }

    void routeReports() {
        server.route("GET", "/api/values", [this](const Request&, Response& response) {
            LifetimeTotals totals;
            const std::string after =
                ",\"lifetime\":" + (lifetime(totals) ? jsonOfLifetime(totals) : "null") + "}";
            report(REQ_JSON_VALUES, "{", after.c_str(), response);
        });
        server.route("GET", "/api/scaled", [this](const Request&, Response& response) {
            report(REQ_SCALED_JSON, "{\"sections\":[", "]}", response);
        });
        server.route("GET", "/api/registers",
                     [this](const Request&, Response& response) { report(REQ_REGLIST, "{", "}", response); });
    }

    // A binary record by its journal's and accumulator's names.
    void record(const Request& request, Response& response) {
        const std::string which = request.matches[1];
        int nType = 0;
        if (!parseRecord(which, nType))
            return sendError(response, 404, "no record \"" + which + "\": records are " + recordList());
        std::vector<float> values(recordRequestFloats(nType));
        const uint32_t ulSize = static_cast<uint32_t>(values.size() * sizeof(float));
        if (module.realtimeGet(nType, values.data(), ulSize) != REQ_OK) return sendNoAnswer(response, nType);
        response.set_content(jsonOfRecordRequest(nType, values.data()), JSON);
    }

    void routeRecords() { server.route("GET", R"(/api/records/([^/]*))", handler(&Routes::record)); }

    // The latest waveform snapshot; kept in the database when `bStore`.
    void snapshot(bool bStore, Response& response) {
        StoredSnapshot taken;
        std::string why;
        if (!snapshots.latest(taken, why)) return sendError(response, 503, why);
        const auto stored = [&](std::string& error) { return database.storeSnapshot(taken, error); };
        if (!bStore || inDatabase(response, 503, "not stored: ", stored))
            response.set_content(jsonOfSnapshot(taken), JSON);
    }

    // A kept snapshot's COMTRADE files.
    void storedSnapshot(const Request& request, Response& response) {
        Download download("snapshot");
        if (!download.parse(request, response)) return;
        if (download.extension != "cfg" && download.extension != "dat")
            return sendError(response, 404, "snapshots are served as .cfg or .dat");
        StoredSnapshot stored;
        const auto loaded = [&](std::string& error) {
            return database.loadSnapshot(download.llId, stored, error);
        };
        if (!inDatabase(response, LOOKUP_STATUS, "", loaded)) return;
        download.sendComtrade(response, comtradeOfSnapshot(stored, STATION));
    }

    void routeSnapshots() {
        // Slow: a capture waits for the module up to a second and a half.
        server.route(
            "GET", "/api/snapshot", [this](const Request&, Response& response) { snapshot(false, response); },
            true);
        server.route(
            "POST", "/api/snapshot", [this](const Request&, Response& response) { snapshot(true, response); },
            true);
        server.route("GET", R"(/api/snapshots/([^/]*))", handler(&Routes::storedSnapshot));
    }

    // A recorded event as JSON with its records, or as COMTRADE or CSV files.
    void event(const Request& request, Response& response) {
        Download download("event");
        if (!download.parse(request, response)) return;
        const std::string& extension = download.extension;
        if (!extension.empty() && extension != "cfg" && extension != "dat" && extension != "csv")
            return sendError(response, 404, "events are served as .cfg, .dat or .csv, not ." + extension);
        StoredEvent stored;
        const auto loaded = [&](std::string& error) {
            return database.loadEvent(download.llId, stored, error);
        };
        if (!inDatabase(response, LOOKUP_STATUS, "", loaded)) return;
        if (extension.empty()) return response.set_content(jsonOfEvent(stored), JSON);
        if (extension == "csv") return download.send(response, csvOfEvent(stored), "text/csv");
        download.sendComtrade(response, comtradeOfEvent(stored, STATION));
    }

    // The recorder's events and the analysis's, of the kinds asked for, newest first.
    void events(const Request& request, Response& response) {
        int nLimit = 0;
        unsigned unKinds = 0;
        if (!listLimit(request, response, DEFAULT_EVENTS, nLimit) || !eventKinds(request, response, unKinds))
            return;
        std::vector<StoredEvent> windows;
        std::vector<StoredPqEvent> analysed;
        const auto loaded = [&](std::string& error) {
            if (unKinds & 1) windows = database.listEvents(nLimit, error);
            return error.empty() &&
                   (unKinds == 1 || loadPqEvents(database, INT64_MIN, INT64_MAX, MAX_LIST, analysed, error));
        };
        if (!inDatabase(response, 503, "", loaded)) return;
        analysed.erase(std::remove_if(analysed.begin(), analysed.end(),
                                      [&](const StoredPqEvent& e) { return !listsKind(unKinds, e.kind); }),
                       analysed.end());
        std::string json = "[";
        auto w = windows.begin();
        auto a = analysed.begin();
        for (int n = 0; n < nLimit && (w != windows.end() || a != analysed.end()); n++) {
            const bool bWindow =
                a == analysed.end() || (w != windows.end() && w->llStartMicros >= a->llStartMicros);
            json += (n ? "," : "") + (bWindow ? jsonOfEventSummary(*w++) : jsonOfPqEvent(*a++));
        }
        response.set_content(json + "]", JSON);
    }

    void routeEvents() {
        server.route("GET", "/api/events", handler(&Routes::events));
        server.route("GET", R"(/api/events/([^/]*))", handler(&Routes::event));
    }

    void pqLive(Response& response) {
        if (!pqSources.live) return sendError(response, 503, "no power-quality analysis runs");
        response.set_content(jsonOfPqLive(pqSources.live(), pqSources.config), JSON);
    }

    // ?period=10min|2h&from=&to=: the stored values ending within (from, to],
    // by default the day (10min) or the week (2h) up to now.
    void aggregates(const Request& request, Response& response) {
        const std::string period = request.has_param("period") ? request.get_param_value("period") : "10min";
        if (period != "10min" && period != "2h")
            return sendError(response, 400, "period \"" + period + "\" is neither 10min nor 2h");
        const bool bTenMinutes = period == "10min";
        int64_t llFrom = 0, llTo = 0;
        if (!timeParam(request, response, "to", nowMicros(), llTo) ||
            !timeParam(request, response, "from", llTo - (bTenMinutes ? DAY_MICROS : 7 * DAY_MICROS), llFrom))
            return;
        if (llFrom >= llTo) return sendError(response, 400, "from must be before to");
        std::vector<pq::Interval> intervals;
        std::vector<pq::FrequencyValue> tenSeconds;  // the frequency of each, from the values within it
        bool bTruncated = false;
        const auto loaded = [&](std::string& error) {
            if (!loadPqIntervals(database, bTenMinutes ? 600 : 7200, llFrom, llTo, MAX_AGGREGATES + 1,
                                 intervals, error))
                return false;
            bTruncated = intervals.size() > static_cast<size_t>(MAX_AGGREGATES);
            if (bTruncated) intervals.resize(MAX_AGGREGATES);
            return intervals.empty() || loadPqFrequency(database, intervals.front().llStartMicros,
                                                        intervals.back().llEndMicros, tenSeconds, error);
        };
        if (!inDatabase(response, 503, "", loaded)) return;
        response.set_content(jsonOfAggregates(period, llFrom, llTo, bTruncated, intervals, tenSeconds), JSON);
    }

    // ?from=&to=: the week from `from` (a week's span), by default the last
    // complete week, Monday 00:00 UTC to Monday 00:00 UTC.
    void en50160(const Request& request, Response& response) {
        int64_t llFrom = 0, llTo = 0;
        if (!timeParam(request, response, "from", pq::lastWeekStart(nowMicros()), llFrom) ||
            !timeParam(request, response, "to", llFrom + pq::WEEK_MICROS, llTo))
            return;
        if (llTo - llFrom != pq::WEEK_MICROS)
            return sendError(response, 400, "the report covers one week: to must be 7 days after from");
        std::vector<pq::Interval> tenMinutes;
        std::vector<pq::FrequencyValue> tenSeconds;
        std::vector<StoredPqEvent> stored;
        const auto loaded = [&](std::string& error) {
            return loadPqIntervals(database, 600, llFrom, llTo, 2 * pq::TEN_MINUTES_PER_WEEK, tenMinutes,
                                   error) &&
                   loadPqFrequency(database, llFrom, llTo, tenSeconds, error) &&
                   loadPqEvents(database, llFrom, llTo, INT32_MAX, stored, error);
        };
        if (!inDatabase(response, 503, "", loaded)) return;
        std::vector<pq::VoltageEvent> events;
        for (const StoredPqEvent& event : stored)
            if (voltageEventOf(event, events.emplace_back()) == false) events.pop_back();
        const pq::En50160Report report =
            pq::en50160Report(pqSources.config, llFrom, tenMinutes, tenSeconds, events);
        response.set_content(jsonOfEn50160Report(report, pqSources.config), JSON);
    }

    void routePowerQuality() {
        server.route("GET", "/api/pq", [this](const Request&, Response& response) { pqLive(response); });
        server.route("GET", "/api/aggregates", handler(&Routes::aggregates));
        // Slow: a week of values read and judged.
        server.route("GET", "/api/report/en50160", handler(&Routes::en50160), true);
    }

    void routeIntervals() {
        server.route("GET", "/api/intervals", [this](const Request& request, Response& response) {
            listing(request, response, DEFAULT_INTERVALS, &EventDatabase::listIntervals, jsonOfIntervals);
        });
    }

    // The meter's health: what the host's loop and the recorder say, and the
    // database as this server's connection finds it.
    MeterStatus currentStatus() {
        MeterStatus status = statusSource ? statusSource() : MeterStatus{};
        {
            std::lock_guard<std::mutex> lock(databaseMutex);
            if (database.isOpen() || database.open(databasePath, status.databaseError, storageLimits))
                status.database = database.storageStatus();
        }
        status.database.path = databasePath;
        // Writable when the recorder takes its writes, not only when the file allows them.
        status.database.bWritable = status.database.bWritable && status.recorder.bRecording;
        return status;
    }

    void metrics(Response& response) {
        MetricsInputs inputs;
        std::array<float, jrnl_MAX> journal{};
        LifetimeTotals totals;
        if (readPublishedJournal(module, journal)) inputs.pJournal = &journal;
        if (lifetime(totals)) inputs.pLifetime = &totals;
        inputs.status = currentStatus();
        inputs.serialNumber = published.serialNumber;
        inputs.version = QM_VERSION;
        response.set_content(metricsText(inputs), METRICS);
    }

    void routeStatus() {
        server.route("GET", "/api/status", [this](const Request&, Response& response) {
            response.set_content(jsonOfStatus(currentStatus()), JSON);
        });
        server.route("GET", "/metrics", [this](const Request&, Response& response) { metrics(response); });
    }

    // The page's files, and the charting library beside them.
    void routeFiles(const std::string& webRoot) {
        if (!webRoot.empty()) server.mount("/", webRoot);
        server.mount("/lib/dygraphs", DYGRAPHS_DIR);
    }

    // Who may do what, before any route: 403, or 401 asking for the token.
    void routeAccess() {
        server.guard([this](const Request& request, Response& response) {
            const AccessRequest asked{request.method, request.header("origin"), request.header("host"),
                                      request.header("authorization")};
            AccessPolicy policy = accessPolicy;
            policy.port = server.port();  // the one taken when 0 was asked
            // The page's own files hold no readings, and a browser loads them
            // before the page can send the token.
            if (request.path.rfind("/api/", 0) != 0 && request.path != "/metrics") policy.bOpenReads = true;
            std::string reason;
            const AccessVerdict verdict = judgeAccess(policy, asked, reason);
            if (verdict == AccessVerdict::Allow) return true;
            if (verdict == AccessVerdict::Unauthorized) response.set_header("WWW-Authenticate", "Bearer");
            sendError(response, verdict == AccessVerdict::Unauthorized ? 401 : 403, reason);
            return false;
        });
    }
};

WebServer::WebServer(MeasSOM& module, std::string databasePath, std::string webRoot,
                     const StorageLimits& limits, MeterStatusSource status)
    : m_pRoutes(std::make_unique<Routes>(module, std::move(databasePath), limits, std::move(status))) {
    m_pRoutes->routeReports();
    m_pRoutes->routeRecords();
    m_pRoutes->routeSnapshots();
    m_pRoutes->routeEvents();
    m_pRoutes->routeIntervals();
    m_pRoutes->routePowerQuality();
    m_pRoutes->routeStatus();
    m_pRoutes->routeFiles(webRoot);
    m_pRoutes->routeAccess();
}

WebServer::~WebServer() {
    stop();
}

void WebServer::setAccessPolicy(const AccessPolicy& policy) {
    m_pRoutes->accessPolicy = policy;
}

void WebServer::setPublishedSources(PublishedSources sources) {
    m_pRoutes->published = std::move(sources);
}

void WebServer::setPqSources(PqSources sources) {
    m_pRoutes->pqSources = std::move(sources);
}

bool WebServer::start(const std::string& address, std::string& error) {
    int nPort = 0;
    if (!parseWebAddress(address, m_host, nPort, error)) return false;
    if (!m_pRoutes->server.start(m_host, nPort, error)) {
        error = "cannot listen on " + address + ": " + error;
        return false;
    }
    m_nPort = m_pRoutes->server.port();
    return true;
}

std::string WebServer::url() const {
    const std::string host = m_host == "0.0.0.0" ? "127.0.0.1" : m_host;
    return "http://" + host + ":" + std::to_string(m_nPort) + "/";
}

void WebServer::stop() {
    m_pRoutes->server.stop();
}
