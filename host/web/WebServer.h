// The meter's web page and its JSON API, served by threads of its own (see
// HttpServer.h for its limits) while the host's loop runs the module. Everything it answers comes from
// the module's realtime requests (safe from any thread) and from its own
// connection to the event database, so no request ever holds up `process`.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "MeasSOM.h"
#include "MeterStatus.h"
#include "MetricsText.h"
#include "PqFeeder.h"
#include "StorageLimits.h"
#include "WebAccess.h"

// "[ADDRESS:]PORT": the address to listen on, 127.0.0.1 when only a port is
// given; port 0 takes any free one. False with `error` set for anything else.
bool parseWebAddress(const std::string& text, std::string& host, int& port, std::string& error);

// The power-quality analysis as the API shows it: its live values (none: no
// analysis runs, /api/pq answers 503) and what it judges against (the
// week's report, from the stored values).
struct PqSources {
    std::function<PqLive()> live;
    pq::Config config;
};

class WebServer {
public:
    // `webRoot`: the page's files; `databasePath`: the recorder's database,
    // kept within `limits` also by the snapshots the page stores; `status`:
    // the measurement's and the recorder's health, for /api/status.
    WebServer(MeasSOM& module, std::string databasePath, std::string webRoot, const StorageLimits& limits,
              MeterStatusSource status);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Who may read and who may change what; before start. Everything is
    // allowed without one.
    void setAccessPolicy(const AccessPolicy& policy);
    // The lifetime energy (/api/values, /metrics), the MQTT queue and the
    // serial number (/metrics); before start. Without them they are left out.
    void setPublishedSources(PublishedSources sources);
    void setPqSources(PqSources sources);
    // Listens on "[ADDRESS:]PORT" and serves from threads of its own.
    bool start(const std::string& address, std::string& error);
    // The port it listens on (the one taken when 0 was asked), 0 before start.
    int port() const { return m_nPort; }
    std::string url() const;
    // Stops serving; waits for the requests in progress.
    void stop();

private:
    struct Routes;
    std::unique_ptr<Routes> m_pRoutes;
    std::string m_host;
    int m_nPort = 0;
};
