#include "WebServer.h"

#include <httplib.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ComtradeExport.h"
#include "CsvExport.h"
#include "EventDatabase.h"
#include "LiveSnapshot.h"
#include "WebJson.h"

namespace {

constexpr const char* JSON = "application/json";
constexpr const char* STATION = "QM9000";
// Debian's charting library (libjs-dygraphs), which the page draws with.
constexpr const char* DYGRAPHS_DIR = "/usr/share/javascript/dygraphs";
constexpr int SERVER_THREADS = 8;
constexpr time_t KEEP_ALIVE_SECONDS = 2;   // an idle browser connection frees its thread soon
constexpr size_t MAX_REQUEST_BODY = 4096;  // the API takes no uploads
constexpr int DEFAULT_EVENTS = 100, DEFAULT_INTERVALS = 96, MAX_LIST = 1000;
constexpr std::chrono::milliseconds SNAPSHOT_WAIT{1500};
// Big enough for the values report (11), the scaled report (6) and the register list (8).
constexpr uint32_t REPORT_BUFFER = 65536;
constexpr int RESULT_OK = 0;

void sendError(httplib::Response& response, int nStatus, const std::string& message) {
    response.status = nStatus;
    response.set_content(jsonError(message), JSON);
}

// A positive decimal id of at most 18 digits (an int64 holds it).
bool parseId(const std::string& text, int64_t& llId) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    llId = std::stoll(text);
    return llId > 0;
}

// ?limit=N, 1 to MAX_LIST; `nDefault` without one. False with a 400 sent.
bool listLimit(const httplib::Request& request, httplib::Response& response, int nDefault, int& nLimit) {
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

// "12", "12.cfg", "12.dat", "12.csv": the id and the extension ("" for none).
bool splitDownload(const std::string& text, int64_t& llId, std::string& extension) {
    const size_t dot = text.find('.');
    extension = dot == std::string::npos ? "" : text.substr(dot + 1);
    return parseId(text.substr(0, dot), llId);
}

void sendDownload(httplib::Response& response, const std::string& fileName, const std::string& text,
                  const char* pszType) {
    response.set_header("Content-Disposition", "attachment; filename=\"" + fileName + "\"");
    response.set_content(text, pszType);
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

struct WebServer::Routes {
    Routes(MeasSOM& module, std::string path) : module(module), databasePath(std::move(path)) {}

    MeasSOM& module;
    const std::string databasePath;
    httplib::Server server;
    std::thread thread;
    std::mutex databaseMutex;  // the server's threads share one connection
    EventDatabase database;
    std::mutex snapshotMutex;  // one capture at a time: each re-arms the chip's buffer

    // The database, opened on first use (the recorder creates it).
    bool withDatabase(httplib::Response& response) {
        std::string error;
        if (database.isOpen() || database.open(databasePath, error)) return true;
        sendError(response, 503, "no event database: " + error);
        return false;
    }

    void report(int nType, const char* pszBefore, const char* pszAfter, httplib::Response& response) {
        std::vector<char> text(REPORT_BUFFER);
        const int nResult = module.realtimeGet(nType, text.data(), REPORT_BUFFER);
        if (nResult != RESULT_OK) {
            sendError(response, 503,
                      "the module did not answer request " + std::to_string(nType) + " (result " +
                          std::to_string(nResult) + ")");
            return;
        }
        text.back() = '\0';
        response.set_content(std::string(pszBefore) + text.data() + pszAfter, JSON);
    }

    void record(const httplib::Request& request, httplib::Response& response) {
        const std::string which = request.matches[1];
        const int nType =
            which == "0" || which == "2" || which == "5" || which == "10" ? std::stoi(which) : -1;
        if (nType < 0)
            return sendError(response, 404, "no record \"" + which + "\": records are 0, 2, 5 and 10");
        std::vector<float> values(recordRequestFloats(nType));
        const int nResult =
            module.realtimeGet(nType, values.data(), static_cast<uint32_t>(values.size() * sizeof(float)));
        if (nResult != RESULT_OK)
            return sendError(response, 503, "the module did not answer request " + which);
        response.set_content(jsonOfRecordRequest(nType, values.data()), JSON);
    }

    void snapshot(bool bStore, httplib::Response& response) {
        StoredSnapshot taken;
        {
            std::lock_guard<std::mutex> lock(snapshotMutex);
            if (!takeSnapshot(module, taken, SNAPSHOT_WAIT))
                return sendError(response, 503, "no waveform snapshot from the module; try again");
        }
        if (bStore) {
            std::lock_guard<std::mutex> lock(databaseMutex);
            std::string error;
            if (!withDatabase(response)) return;
            if (!database.storeSnapshot(taken, error))
                return sendError(response, 503, "not stored: " + error);
        }
        response.set_content(jsonOfSnapshot(taken), JSON);
    }

    // The newest `?limit=N` of a list the database keeps, as JSON.
    template <typename Load, typename ToJson>
    void listing(const httplib::Request& request, httplib::Response& response, int nDefault, Load load,
                 ToJson toJson) {
        int nLimit = 0;
        if (!listLimit(request, response, nDefault, nLimit)) return;
        std::lock_guard<std::mutex> lock(databaseMutex);
        std::string error;
        if (!withDatabase(response)) return;
        const auto list = load(nLimit, error);
        if (!error.empty()) return sendError(response, 503, error);
        response.set_content(toJson(list), JSON);
    }

    void event(const httplib::Request& request, httplib::Response& response) {
        int64_t llId = 0;
        std::string extension;
        if (!splitDownload(request.matches[1], llId, extension))
            return sendError(response, 400, "malformed event id \"" + std::string(request.matches[1]) + "\"");
        if (!extension.empty() && extension != "cfg" && extension != "dat" && extension != "csv")
            return sendError(response, 404, "events are served as .cfg, .dat or .csv, not ." + extension);
        StoredEvent stored;
        {
            std::lock_guard<std::mutex> lock(databaseMutex);
            std::string error;
            if (!withDatabase(response)) return;
            if (!database.loadEvent(llId, stored, error)) return sendError(response, 404, error);
        }
        const std::string name = "event-" + std::to_string(llId) + "." + extension;
        if (extension.empty()) return response.set_content(jsonOfEvent(stored), JSON);
        if (extension == "csv") return sendDownload(response, name, csvOfEvent(stored), "text/csv");
        const ComtradeFiles files = comtradeOfEvent(stored, STATION);
        if (files.empty())
            return sendError(response, 404, "event " + std::to_string(llId) + " has no records");
        sendDownload(response, name, extension == "cfg" ? files.cfg : files.dat, "text/plain");
    }

    void storedSnapshot(const httplib::Request& request, httplib::Response& response) {
        int64_t llId = 0;
        std::string extension;
        if (!splitDownload(request.matches[1], llId, extension))
            return sendError(response, 400,
                             "malformed snapshot id \"" + std::string(request.matches[1]) + "\"");
        if (extension != "cfg" && extension != "dat")
            return sendError(response, 404, "snapshots are served as .cfg or .dat");
        StoredSnapshot stored;
        {
            std::lock_guard<std::mutex> lock(databaseMutex);
            std::string error;
            if (!withDatabase(response)) return;
            if (!database.loadSnapshot(llId, stored, error)) return sendError(response, 404, error);
        }
        const ComtradeFiles files = comtradeOfSnapshot(stored, STATION);
        if (files.empty())
            return sendError(response, 404, "snapshot " + std::to_string(llId) + " has no line frequency");
        sendDownload(response, "snapshot-" + std::to_string(llId) + "." + extension,
                     extension == "cfg" ? files.cfg : files.dat, "text/plain");
    }

    void route(const std::string& webRoot) {
        using Request = const httplib::Request&;
        using Response = httplib::Response&;
        server.Get("/api/values", [this](Request, Response res) { report(11, "{", "}", res); });
        server.Get("/api/scaled", [this](Request, Response res) { report(6, "{\"sections\":[", "]}", res); });
        server.Get("/api/registers", [this](Request, Response res) { report(8, "{", "}", res); });
        server.Get(R"(/api/records/([^/]*))", [this](Request req, Response res) { record(req, res); });
        server.Get("/api/snapshot", [this](Request, Response res) { snapshot(false, res); });
        server.Post("/api/snapshot", [this](Request, Response res) { snapshot(true, res); });
        server.Get(R"(/api/snapshots/([^/]*))",
                   [this](Request req, Response res) { storedSnapshot(req, res); });
        server.Get("/api/events", [this](Request req, Response res) {
            listing(
                req, res, DEFAULT_EVENTS, [this](int n, std::string& e) { return database.listEvents(n, e); },
                jsonOfEvents);
        });
        server.Get(R"(/api/events/([^/]*))", [this](Request req, Response res) { event(req, res); });
        server.Get("/api/intervals", [this](Request req, Response res) {
            listing(
                req, res, DEFAULT_INTERVALS,
                [this](int n, std::string& e) { return database.listIntervals(n, e); }, jsonOfIntervals);
        });
        if (!webRoot.empty()) server.set_mount_point("/", webRoot);
        server.set_mount_point("/lib/dygraphs", DYGRAPHS_DIR);
        // Every refusal is JSON, also those httplib makes itself (unknown
        // path, wrong method, too large).
        server.set_error_handler([](Request req, Response res) {
            if (!res.body.empty()) return;
            const std::string what =
                res.status == 404 ? "no such path " + req.path : "refused: " + req.method + " " + req.path;
            res.set_content(jsonError(what), JSON);
        });
        // Debian's httplib 0.11 stops listening after a request with a body
        // but no Content-Length; such requests are refused before it reads one.
        server.set_pre_routing_handler([](Request req, Response res) {
            if (req.method == "GET" || req.method == "HEAD" || req.has_header("Content-Length"))
                return httplib::Server::HandlerResponse::Unhandled;
            sendError(res, 411, req.method + " needs a Content-Length");
            return httplib::Server::HandlerResponse::Handled;
        });
        server.set_exception_handler([](Request, Response res, std::exception_ptr) {
            sendError(res, 500, "the request failed inside the host");
        });
        server.new_task_queue = [] { return new httplib::ThreadPool(SERVER_THREADS); };
        server.set_keep_alive_timeout(KEEP_ALIVE_SECONDS);
        server.set_payload_max_length(MAX_REQUEST_BODY);
    }
};

WebServer::WebServer(MeasSOM& module, std::string databasePath, std::string webRoot)
    : m_pRoutes(std::make_unique<Routes>(module, std::move(databasePath))) {
    m_pRoutes->route(webRoot);
}

WebServer::~WebServer() {
    stop();
}

bool WebServer::start(const std::string& address, std::string& error) {
    int nPort = 0;
    if (!parseWebAddress(address, m_host, nPort, error)) return false;
    errno = 0;
    httplib::Server& server = m_pRoutes->server;
    const bool bBound =
        nPort == 0 ? (nPort = server.bind_to_any_port(m_host)) > 0 : server.bind_to_port(m_host, nPort);
    if (!bBound) {
        error = "cannot listen on " + address + ": " + (errno ? strerror(errno) : "address not available");
        return false;
    }
    m_nPort = nPort;
    m_pRoutes->thread = std::thread([&server] { server.listen_after_bind(); });
    // Until it runs, a stop would not reach it.
    for (int i = 0; i < 2000 && !server.is_running(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

std::string WebServer::url() const {
    const std::string host = m_host == "0.0.0.0" ? "127.0.0.1" : m_host;
    return "http://" + host + ":" + std::to_string(m_nPort) + "/";
}

void WebServer::stop() {
    if (!m_pRoutes->thread.joinable()) return;
    m_pRoutes->server.stop();
    m_pRoutes->thread.join();
}
