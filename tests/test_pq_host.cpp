// Power quality through qmhost: twenty minutes of the sag scenario on virtual
// time (--fast), then a host in real time on the same database: the stored
// dips and 10-minute values through the API, each dip linked to the
// recorder's window of it; the live unbalance under voltage-unbalance. The
// whole week through qmhost: `make week`.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "ScratchFiles.h"
#include "UtcTime.h"

namespace {

using nlohmann::json;

// `qmhost run ARGS` in `dir`, its output in host.log; the pid.
pid_t startHost(const ScratchDirectory& dir, std::vector<std::string> args) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QM_APP_DIR", dir.path().c_str(), 1);
        freopen(dir.path("host.log").c_str(), "w", stdout);
        dup2(fileno(stdout), STDERR_FILENO);
        freopen("/dev/null", "r", stdin);
        args.insert(args.begin(), {"qmhost", "run", "--log", "--db", dir.path("qm9000.db")});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(QM_HOST_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

// The JSON of a GET, which must succeed.
json get(httplib::Client& client, const std::string& path) {
    const httplib::Result result = client.Get(path.c_str());
    if (!result) return ADD_FAILURE() << path << ": no answer", json();
    EXPECT_EQ(result->status, 200) << path << ": " << result->body;
    return json::parse(result->body, nullptr, false);
}

TEST(PqHost, SagsOnVirtualTimeAreStoredAndLinkedToTheirWindowsAndTheLiveUnbalanceIsItsPhasors) {
    ScratchDirectory dir;
    for (const char* pszName : {"QM9000.json", "Cal9000.json", "Init9000.json", "CfgProbe.json"})
        dir.write(pszName, readFile(std::string(QM_CONFIG_DIR "/") + pszName));
    constexpr int64_t SECONDS = 1230, SECOND = 1000000;
    const pid_t fast = startHost(dir, {"--fast", "--scenario", "sag", "--seconds", std::to_string(SECONDS)});
    int status = 0;
    waitpid(fast, &status, 0);
    const std::string log = readFile(dir.path("host.log"));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    const std::string said = "qmhost: on virtual time from ";
    int64_t llStart = 0;
    ASSERT_NE(log.find(said), std::string::npos) << log;
    ASSERT_TRUE(microsOfTimeText(log.substr(log.find(said) + said.size(), 27), llStart)) << log;
    EXPECT_NE(log.find(" 0 lost, 0 breaks;"), std::string::npos) << log;

    const pid_t live =
        startHost(dir, {"--scenario", "voltage-unbalance", "--web", "127.0.0.1:0", "--seconds", "120"});
    const std::shared_ptr<void> stopLive(nullptr,
                                         [live](void*) { kill(live, SIGTERM), waitpid(live, nullptr, 0); });
    int port = 0;
    const std::string listening = "qmhost: web page: http://127.0.0.1:";
    for (int i = 0; i < 600 && port == 0; i++, std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        const std::string text = readFile(dir.path("host.log"));
        if (text.find(listening) != std::string::npos)
            port = std::atoi(text.c_str() + text.find(listening) + listening.size());
    }
    ASSERT_NE(port, 0) << readFile(dir.path("host.log"));
    httplib::Client client("127.0.0.1", port);

    // The scenario: B at 60 % for 3 s every 20 s from 5 s in; each a dip with the recorder's window over it.
    std::map<int64_t, json> windows;
    for (const json& window : get(client, "/api/events?limit=1000")) windows[window["id"]] = window;
    const json dips = get(client, "/api/events?kind=dip&limit=1000");
    EXPECT_EQ(dips.size(), size_t((SECONDS - 5 - 3) / 20 + 1));
    for (const json& dip : dips) {
        SCOPED_TRACE(dip.dump());
        const int64_t llAfter = dip["startMicros"].get<int64_t>() - llStart - 5 * SECOND;
        EXPECT_NEAR(llAfter % (20 * SECOND), 0, 20000);
        EXPECT_EQ(std::make_tuple(dip["kind"], dip["phases"]), std::make_tuple("dip", "B"));
        EXPECT_NEAR(dip["extreme"].get<double>(), 0.6 * 230, 1.5);
        EXPECT_NEAR(dip["duration"].get<double>(), 3, 0.03);
        ASSERT_TRUE(dip["eventId"].is_number() && windows.count(dip["eventId"]));
        const json& window = windows[dip["eventId"]];
        EXPECT_LE(window["startMicros"], dip["startMicros"]);
        EXPECT_GE(window["endMicros"], dip["startMicros"]);
    }
    // The 10-minute values from the first tick on, each flagged by its dips.
    const int64_t M = 600 * SECOND, llFirstTick = (llStart / M + 1) * M;
    const json tens = get(client, "/api/aggregates?period=10min&from=" + std::to_string(llStart) +
                                      "&to=" + std::to_string(llStart + SECONDS * SECOND));
    ASSERT_EQ(tens["count"], (llStart + SECONDS * SECOND - llFirstTick) / M) << tens.dump();
    for (const json& ten : tens["intervals"]) {
        EXPECT_EQ(ten["startMicros"].get<int64_t>() % M, 0);
        EXPECT_TRUE(ten["complete"] && ten["flagged"]);
        EXPECT_NEAR(ten["values"]["uB"]["min"].get<double>(), 0.6 * 230, 1.5);
        EXPECT_NEAR(ten["values"]["uA"]["mean"].get<double>(), 230, 1);
        EXPECT_NEAR(ten["hz"].value("mean", 0.0), 50, 0.01);  // of its 10-second values
    }

    // Phase B at 95 % and 2 degrees late: its negative sequence, from the phasors.
    const std::complex<double> a = std::polar(1.0, 2 * M_PI / 3), b = std::polar(0.95, -122 * M_PI / 180),
                               c = std::polar(1.0, 120 * M_PI / 180);
    const double dU2 = 100 * std::abs(1.0 + a * a * b + a * c) / std::abs(1.0 + a * b + a * a * c);
    // The first blocks may hold records made before the module read its angles.
    json pq;
    const auto u2 = [&] { return pq["u2"].is_number() ? pq["u2"].get<double>() : 0; };  // null before a block
    for (int i = 0; i < 100 && std::abs(u2() - dU2) > 0.05; i++, pq = get(client, "/api/pq"))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NEAR(u2(), dU2, 0.05) << pq.dump();
    EXPECT_GT(get(client, "/api/status")["pq"].value("recordsAnalysed", 0), 0);
}

}  // namespace
