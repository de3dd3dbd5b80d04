// HTTP/1.1 for the page's API on libmicrohttpd: a few polling threads with
// epoll hold any number of slow connections, so a client that trickles or
// idles costs a socket, not a thread. Routes are regular expressions on the
// path; every refusal is JSON, {"error":"<why>"}.
//
// The limits: a whole request (header and body) must arrive within a deadline
// of its connection's start or the previous answer; a connection idle for the
// idle timeout is closed; connections are capped per client address and in
// total; the request line, the header and the body are bounded (414, 431,
// 413). Malformed HTTP the library refuses itself (before any of this sees the
// request) gets the library's short HTML answer.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct HttpLimits {
    unsigned nThreads = 4;  // the polling threads
    unsigned nConnections = 256;
    unsigned nConnectionsPerAddress = 16;
    unsigned nIdleSeconds = 2;  // keep-alive, and the longest pause within a request
    std::chrono::seconds requestDeadline{10};
    int nBacklog = 128;
    size_t nMaxBody = 4096;  // the API takes no uploads
    size_t nMaxTarget = 2048;
    size_t nMaxHeader = 8192;
    size_t nSlowQueue = 8;  // slow requests waiting for their worker; more get 503
};

struct HttpRequest {
    std::string method, path;
    std::vector<std::string> matches;  // the route's groups; [0] is the whole path
    std::map<std::string, std::string> params;
    std::map<std::string, std::string> headers;  // names in lower case; the first of repeated ones

    bool has_param(const std::string& name) const { return params.count(name) > 0; }
    std::string get_param_value(const std::string& name) const;
    std::string header(const std::string& lowerCaseName) const;
};

struct HttpResponse {
    int status = 200;
    std::string body, contentType;
    std::vector<std::pair<std::string, std::string>> headers;

    void set_content(std::string text, const std::string& type) {
        body = std::move(text), contentType = type;
    }
    void set_header(const std::string& name, const std::string& value) { headers.emplace_back(name, value); }
};

// "qmhost: <what>: <why>" on standard error, control characters shown as '?'
// (a client's path may carry them), so the terminal takes no orders from it.
void warn(std::string what, const std::string& why);

class HttpServer {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // Sees each request before routing; false when it has answered (refused) it.
    using Guard = std::function<bool(const HttpRequest&, HttpResponse&)>;

    explicit HttpServer(const HttpLimits& limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // `method` on the paths `pattern` matches whole; HEAD is served by GET's
    // handler. A `bSlow` handler (it may wait a second or more) runs on a
    // worker thread of its own, one request at a time, off the polling threads.
    void route(const std::string& method, const std::string& pattern, Handler handler, bool bSlow = false);
    // GET and HEAD of the files under `directory` as `prefix`/...; ".." refused.
    void mount(const std::string& prefix, const std::string& directory);
    void guard(Guard guard);

    // Listens on `host`:`port` (0: any free port). False with `error` set.
    bool start(const std::string& host, int port, std::string& error);
    int port() const;
    // Stops listening, answers the waiting slow requests 503, closes the connections.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
