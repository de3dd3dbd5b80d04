#include "HttpServer.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "ListeningSocket.h"
#include "WebJson.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* JSON = "application/json";

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A file's type by its extension, for the page's own files.
std::string contentTypeOf(const std::string& path) {
    static const std::map<std::string, std::string> TYPES = {{"html", "text/html; charset=utf-8"},
                                                             {"js", "text/javascript; charset=utf-8"},
                                                             {"css", "text/css; charset=utf-8"},
                                                             {"json", JSON},
                                                             {"svg", "image/svg+xml"},
                                                             {"png", "image/png"},
                                                             {"ico", "image/x-icon"},
                                                             {"txt", "text/plain; charset=utf-8"}};
    const size_t dot = path.rfind('.');
    const auto found = dot == std::string::npos ? TYPES.end() : TYPES.find(path.substr(dot + 1));
    return found == TYPES.end() ? "application/octet-stream" : found->second;
}

// One request on its way through: made when its request line arrives.
struct Exchange {
    explicit Exchange(std::string uri) : target(std::move(uri)) {}
    std::string target;  // as sent, with the query
    HttpRequest request;
    HttpResponse response;
    bool bStarted = false, bAnswered = false, bClose = false;
    const struct Route* pRoute = nullptr;
};

struct Route {
    std::string method;
    std::regex pattern;
    HttpServer::Handler handler;
    bool bSlow;
};

// Closes connections whose request has not arrived whole within the deadline:
// the library's own timeout is for idleness and a byte at a time resets it.
// A connection's clock starts when it opens and again after each answer.
class RequestDeadlines {
public:
    explicit RequestDeadlines(std::chrono::seconds deadline) : m_deadline(deadline) {}
    ~RequestDeadlines() { stop(); }

    void start() {
        m_bStop = false;
        m_thread = std::thread([this] { watch(); });
    }
    void stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStop = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable()) m_thread.join();
    }
    void opened(MHD_Connection* pConnection, int fd) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections[pConnection] = {fd, Clock::now() + m_deadline, true};
    }
    void received(MHD_Connection* pConnection) { set(pConnection, false); }
    void answered(MHD_Connection* pConnection) { set(pConnection, true); }
    // Called before the library closes the socket, so no other connection
    // can have taken its number while it is still known here.
    void closed(MHD_Connection* pConnection) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.erase(pConnection);
    }

private:
    struct Watched {
        int fd;
        Clock::time_point deadline;
        bool bReceiving;
    };

    void set(MHD_Connection* pConnection, bool bReceiving) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_connections.find(pConnection);
        if (found != m_connections.end())
            found->second = {found->second.fd, Clock::now() + m_deadline, bReceiving};
    }
    void watch() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_bStop; }))
            for (auto& [pConnection, watched] : m_connections)
                if (watched.bReceiving && Clock::now() >= watched.deadline) {
                    // The library sees the end of the stream and closes it.
                    shutdown(watched.fd, SHUT_RDWR);
                    watched.bReceiving = false;
                }
    }

    const std::chrono::seconds m_deadline;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bStop = false;
    std::unordered_map<MHD_Connection*, Watched> m_connections;
    std::thread m_thread;
};

}  // namespace

void warn(std::string what, const std::string& why) {
    what += ": " + why;
    for (char& c : what)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    fprintf(stderr, "qmhost: %s\n", what.c_str());
}

std::string HttpRequest::get_param_value(const std::string& name) const {
    const auto found = params.find(name);
    return found == params.end() ? "" : found->second;
}

std::string HttpRequest::header(const std::string& lowerCaseName) const {
    const auto found = headers.find(lowerCaseName);
    return found == headers.end() ? "" : found->second;
}

struct HttpServer::Impl {
    explicit Impl(const HttpLimits& given) : limits(given), deadlines(given.requestDeadline) {}

    const HttpLimits limits;
    std::vector<Route> routes;
    std::vector<std::pair<std::string, std::string>> mounts;
    Guard guard;
    MHD_Daemon* pDaemon = nullptr;
    int listenFd = -1;
    int nPort = 0;
    RequestDeadlines deadlines;

    // The slow requests' worker: it answers and resumes their connections.
    std::mutex slowMutex;
    std::condition_variable slowWake;
    std::deque<std::pair<MHD_Connection*, Exchange*>> slowQueue;
    bool bSlowStop = false;
    std::thread slowWorker;

    static void refuse(HttpResponse& response, int nStatus, const std::string& why) {
        response.status = nStatus;
        response.set_content(jsonError(why), JSON);
    }

    // The methods the routes matching `path` take, "GET, HEAD, ..., OPTIONS";
    // empty when none does.
    std::string allowed(const std::string& path) const {
        std::vector<std::string> methods;
        for (const Route& route : routes)
            if (std::regex_match(path, route.pattern)) {
                methods.push_back(route.method);
                if (route.method == "GET") methods.push_back("HEAD");
            }
        if (methods.empty()) return "";
        std::sort(methods.begin(), methods.end());
        methods.erase(std::unique(methods.begin(), methods.end()), methods.end());
        std::string list;
        for (const std::string& method : methods) list += method + ", ";
        return list + "OPTIONS";
    }

    // A file under a mount point; false when there is none (or the path climbs out).
    bool readMounted(const std::string& path, HttpResponse& response) const {
        if (("/" + path + "/").find("/../") != std::string::npos) return false;
        for (const auto& [prefix, directory] : mounts) {
            if (path.compare(0, prefix.size(), prefix) != 0) continue;
            std::string rest = path.substr(prefix.size());
            if (!rest.empty() && rest[0] != '/' && prefix != "/") continue;
            if (rest.empty() || rest.back() == '/') rest += "index.html";
            const std::string file = directory + "/" + rest;
            std::ifstream in(file, std::ios::binary);
            std::ostringstream content;
            if (!in || !(content << in.rdbuf())) continue;  // a directory reads as nothing too
            response.set_content(content.str(), contentTypeOf(file));
            return true;
        }
        return false;
    }

    // What the request's line and header say, and the refusals they earn
    // before any route sees them. False with the answer set.
    bool admit(MHD_Connection* pConnection, const char* pszPath, const char* pszMethod, Exchange& x) {
        HttpRequest& request = x.request;
        request.method = pszMethod;
        request.path = pszPath;
        struct Header {
            Exchange& x;
            size_t size = 0;
            std::vector<std::string> lengths;
        } header{x, 0, {}};
        MHD_get_connection_values(
            pConnection, MHD_HEADER_KIND,
            [](void* pCls, MHD_ValueKind, const char* pszKey, const char* pszValue) {
                Header& h = *static_cast<Header*>(pCls);
                const std::string name = lowerCase(pszKey), value = pszValue ? pszValue : "";
                h.size += name.size() + value.size() + 4;
                h.x.request.headers.emplace(name, value);
                if (name == "content-length") h.lengths.push_back(value);
                return MHD_YES;
            },
            &header);
        MHD_get_connection_values(
            pConnection, MHD_GET_ARGUMENT_KIND,
            [](void* pCls, MHD_ValueKind, const char* pszKey, const char* pszValue) {
                static_cast<HttpRequest*>(pCls)->params.emplace(pszKey, pszValue ? pszValue : "");
                return MHD_YES;
            },
            &request);
        HttpResponse& response = x.response;
        x.bClose = true;  // a refusal here leaves the rest of the stream unread
        if (x.target.size() > limits.nMaxTarget)
            return refuse(
                       response, 414,
                       "the request target is longer than " + std::to_string(limits.nMaxTarget) + " bytes"),
                   false;
        if (header.size > limits.nMaxHeader)
            return refuse(response, 431,
                          "the header is larger than " + std::to_string(limits.nMaxHeader) + " bytes"),
                   false;
        for (const std::string& length : header.lengths)
            if (length != header.lengths[0])
                return refuse(response, 400, "conflicting Content-Length headers"), false;
        if (guard && !guard(request, response)) return false;
        x.bClose = false;
        return true;
    }

    // The route, or the answer when there is none to run: 404, 405, OPTIONS,
    // a file, or a body refused (411, 413). False with the answer set.
    bool choose(Exchange& x) {
        HttpRequest& request = x.request;
        HttpResponse& response = x.response;
        const std::string method = request.method == "HEAD" ? "GET" : request.method;
        const std::string allow = allowed(request.path);
        for (const Route& route : routes) {
            std::smatch match;
            if (route.method != method || !std::regex_match(request.path, match, route.pattern)) continue;
            for (const auto& group : match) request.matches.push_back(group.str());
            x.pRoute = &route;
        }
        const bool bFile =
            allow.empty() && (method == "GET" || method == "OPTIONS") && readMounted(request.path, response);
        if (request.method == "OPTIONS" && (bFile || !allow.empty())) {
            response = {};
            response.status = 204;
            response.set_header("Allow", allow.empty() ? "GET, HEAD, OPTIONS" : allow);
            return false;
        }
        if (bFile) return false;
        if (x.pRoute == nullptr && !allow.empty()) {
            response.set_header("Allow", allow);
            return refuse(response, 405,
                          request.method + " is not allowed on " + request.path + "; it takes " + allow),
                   false;
        }
        if (x.pRoute == nullptr) {
            HttpResponse probe;
            if (readMounted(request.path, probe)) {
                response.set_header("Allow", "GET, HEAD, OPTIONS");
                return refuse(response, 405, request.method + " is not allowed on a file"), false;
            }
            return refuse(response, 404, "no such path " + request.path), false;
        }
        const std::string length = request.header("content-length");
        x.bClose = true;
        if (!request.header("transfer-encoding").empty() || (method != "GET" && length.empty()))
            return refuse(response, 411, request.method + " needs a Content-Length"), false;
        if (!length.empty() && (length.find_first_not_of("0123456789") != std::string::npos ||
                                length.size() > 9 || std::stoul(length) > limits.nMaxBody))
            return refuse(response, 413,
                          "the body is larger than " + std::to_string(limits.nMaxBody) + " bytes"),
                   false;
        x.bClose = false;
        return true;
    }

    void run(Exchange& x) {
        try {
            x.pRoute->handler(x.request, x.response);
        } catch (const std::exception& e) {
            warn("web request " + x.request.method + " " + x.request.path, e.what());
            refuse(x.response = {}, 500, "the request failed inside the host");
        } catch (...) {
            warn("web request " + x.request.method + " " + x.request.path, "an unknown exception");
            refuse(x.response = {}, 500, "the request failed inside the host");
        }
    }

    static MHD_Result send(MHD_Connection* pConnection, Exchange& x) {
        HttpResponse& r = x.response;
        if (r.status >= 400 && r.body.empty()) refuse(r, r.status, "refused");
        MHD_Response* pResponse = MHD_create_response_from_buffer(
            r.body.size(), const_cast<char*>(r.body.data()), MHD_RESPMEM_MUST_COPY);
        if (pResponse == nullptr) return MHD_NO;
        for (const auto& [name, value] : r.headers)
            MHD_add_response_header(pResponse, name.c_str(), value.c_str());
        if (!r.contentType.empty()) MHD_add_response_header(pResponse, "Content-Type", r.contentType.c_str());
        if (x.bClose) MHD_add_response_header(pResponse, "Connection", "close");
        const MHD_Result result = MHD_queue_response(pConnection, static_cast<unsigned>(r.status), pResponse);
        MHD_destroy_response(pResponse);
        return result;
    }

    // A slow request to the worker, its connection suspended until answered;
    // false when the queue is full.
    bool handOff(MHD_Connection* pConnection, Exchange& x) {
        std::lock_guard<std::mutex> lock(slowMutex);
        if (bSlowStop || slowQueue.size() >= limits.nSlowQueue) return false;
        MHD_suspend_connection(pConnection);
        slowQueue.emplace_back(pConnection, &x);
        slowWake.notify_one();
        return true;
    }

    void workSlowly() {
        std::unique_lock<std::mutex> lock(slowMutex);
        for (;;) {
            slowWake.wait(lock, [this] { return bSlowStop || !slowQueue.empty(); });
            if (slowQueue.empty()) return;
            const auto [pConnection, pExchange] = slowQueue.front();
            slowQueue.pop_front();
            const bool bStopping = bSlowStop;
            lock.unlock();
            if (bStopping)
                refuse(pExchange->response, 503, "the web server is stopping");
            else
                run(*pExchange);
            pExchange->bAnswered = true;
            MHD_resume_connection(pConnection);
            lock.lock();
        }
    }

    MHD_Result onRequest(MHD_Connection* pConnection, const char* pszPath, const char* pszMethod,
                         size_t* pUploadSize, void** ppContext) {
        Exchange* pExchange = static_cast<Exchange*>(*ppContext);
        if (pExchange == nullptr) return MHD_NO;
        Exchange& x = *pExchange;
        if (!x.bStarted) {
            x.bStarted = true;
            if (!admit(pConnection, pszPath, pszMethod, x) || !choose(x)) return send(pConnection, x);
            return MHD_YES;
        }
        if (*pUploadSize != 0) {  // within the length admitted; the API reads no body
            *pUploadSize = 0;
            return MHD_YES;
        }
        if (x.bAnswered) return send(pConnection, x);
        deadlines.received(pConnection);
        if (!x.pRoute->bSlow) return run(x), send(pConnection, x);
        if (handOff(pConnection, x)) return MHD_YES;
        refuse(x.response, 503, "busy with other slow requests; try again");
        return send(pConnection, x);
    }
};

HttpServer::HttpServer(const HttpLimits& limits) : m_pImpl(std::make_unique<Impl>(limits)) {}

HttpServer::~HttpServer() {
    stop();
}

void HttpServer::route(const std::string& method, const std::string& pattern, Handler handler, bool bSlow) {
    m_pImpl->routes.push_back({method, std::regex(pattern), std::move(handler), bSlow});
}

void HttpServer::mount(const std::string& prefix, const std::string& directory) {
    m_pImpl->mounts.emplace_back(prefix, directory);
    // The longest prefix first: "/lib/dygraphs" before "/".
    std::sort(m_pImpl->mounts.begin(), m_pImpl->mounts.end(),
              [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

void HttpServer::guard(Guard guard) {
    m_pImpl->guard = std::move(guard);
}

int HttpServer::port() const {
    return m_pImpl->nPort;
}

bool HttpServer::start(const std::string& host, int port, std::string& error) {
    Impl& impl = *m_pImpl;
    ListeningSocket listening;
    if (!openListeningSocket(host, port, impl.limits.nBacklog, listening, error)) return false;
    const int fd = listening.fd;
    const bool bIpv6 = listening.bIpv6;
    impl.nPort = listening.nPort;
    const auto onRequest = [](void* pCls, MHD_Connection* pConnection, const char* pszUrl,
                              const char* pszMethod, const char*, const char*, size_t* pUploadSize,
                              void** ppContext) {
        return static_cast<Impl*>(pCls)->onRequest(pConnection, pszUrl, pszMethod, pUploadSize, ppContext);
    };
    const auto onUri = [](void*, const char* pszUri, MHD_Connection*) -> void* {
        return new Exchange(pszUri);
    };
    const auto onCompleted = [](void* pCls, MHD_Connection* pConnection, void** ppContext,
                                MHD_RequestTerminationCode) {
        delete static_cast<Exchange*>(*ppContext);
        *ppContext = nullptr;
        static_cast<Impl*>(pCls)->deadlines.answered(pConnection);
    };
    const auto onConnection = [](void* pCls, MHD_Connection* pConnection, void**,
                                 MHD_ConnectionNotificationCode code) {
        RequestDeadlines& deadlines = static_cast<Impl*>(pCls)->deadlines;
        if (code == MHD_CONNECTION_NOTIFY_CLOSED) return deadlines.closed(pConnection);
        const MHD_ConnectionInfo* pInfo =
            MHD_get_connection_info(pConnection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (pInfo != nullptr) deadlines.opened(pConnection, pInfo->connect_fd);
    };
    impl.deadlines.start();
    impl.bSlowStop = false;
    impl.slowWorker = std::thread([&impl] { impl.workSlowly(); });
    const HttpLimits& limits = impl.limits;
    impl.pDaemon = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | (bIpv6 ? MHD_USE_IPv6 : 0), 0, nullptr,
        nullptr, +onRequest, &impl, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_THREAD_POOL_SIZE,
        limits.nThreads, MHD_OPTION_CONNECTION_LIMIT, limits.nConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        limits.nConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, limits.nIdleSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(4 * (limits.nMaxHeader + limits.nMaxTarget)),
        MHD_OPTION_URI_LOG_CALLBACK, +onUri, &impl, MHD_OPTION_NOTIFY_COMPLETED, +onCompleted, &impl,
        MHD_OPTION_NOTIFY_CONNECTION, +onConnection, &impl, MHD_OPTION_END);
    if (impl.pDaemon != nullptr) return impl.listenFd = fd, true;
    error = "the HTTP server did not start";
    close(fd);
    stop();
    return false;
}

void HttpServer::stop() {
    Impl& impl = *m_pImpl;
    {
        std::lock_guard<std::mutex> lock(impl.slowMutex);
        impl.bSlowStop = true;
    }
    impl.slowWake.notify_one();
    if (impl.slowWorker.joinable()) impl.slowWorker.join();
    if (impl.pDaemon != nullptr) {
        MHD_quiesce_daemon(impl.pDaemon);
        MHD_stop_daemon(impl.pDaemon);
        impl.pDaemon = nullptr;
    }
    impl.deadlines.stop();
    if (impl.listenFd >= 0) close(impl.listenFd);
    impl.listenFd = -1;
}
