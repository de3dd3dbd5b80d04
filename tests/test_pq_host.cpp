// Power quality in qmhost: the week scenario on virtual time (--fast), its
// report from /api/report/en50160 against the scenario's own program, then
// a host in real time on the same database: the live unbalance under
// voltage-unbalance and the aggregates' refusals.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <nlohmann/json.hpp>
#include <thread>

#include "ScratchFiles.h"
#include "UtcTime.h"
#include "WeekProgram.h"

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

// The JSON of a GET, with the status it must have.
json get(httplib::Client& client, const std::string& path, int nStatus = 200) {
    const httplib::Result result = client.Get(path.c_str());
    if (!result) return ADD_FAILURE() << path << ": no answer", json();
    EXPECT_EQ(result->status, nStatus) << path << ": " << result->body;
    return json::parse(result->body, nullptr, false);
}

// The report's row for a residual (dips) or highest voltage (swells), % of the
// declared, and its column for a duration: each bound its row's or column's own.
int rowOf(double dPercent, const std::vector<double>& lowerBounds) {
    int nRow = 0;
    while (nRow < static_cast<int>(lowerBounds.size()) && dPercent < lowerBounds[nRow]) nRow++;
    return nRow;
}

TEST(PqHost, AWeekOnVirtualTimeIsReportedAsItsProgramSaysAndTheLiveUnbalanceAsItsPhasors) {
    ScratchDirectory dir;
    for (const char* pszName : {"QM9000.json", "Cal9000.json", "Init9000.json", "CfgProbe.json"})
        dir.write(pszName, readFile(std::string(QM_CONFIG_DIR "/") + pszName));
    const auto started = std::chrono::steady_clock::now();
    const pid_t fast = startHost(dir, {"--fast", "--scenario", "week", "--log-interval", "86400", "--seconds",
                                       std::to_string(WEEK_LEAD_SECONDS + WEEK_SECONDS + WEEK_TAIL_SECONDS)});
    int status = 0;
    waitpid(fast, &status, 0);
    const std::string log = readFile(dir.path("host.log"));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    std::cout << "a week on virtual time: "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() << " s\n";
    const std::string said = "qmhost: on virtual time from ";
    int64_t llMonday = 0;
    ASSERT_NE(log.find(said), std::string::npos) << log;
    ASSERT_TRUE(microsOfTimeText(log.substr(log.find(said) + said.size(), 27), llMonday)) << log;
    llMonday += WEEK_LEAD_SECONDS * 1000000;
    EXPECT_NE(log.find(" 0 lost, 0 breaks;"), std::string::npos) << log;

    const pid_t live =
        startHost(dir, {"--scenario", "voltage-unbalance", "--web", "127.0.0.1:0", "--seconds", "120"});
    int port = 0;
    const std::string listening = "qmhost: web page: http://127.0.0.1:";
    for (int i = 0; i < 600 && port == 0; i++, std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        const std::string text = readFile(dir.path("host.log"));
        if (text.find(listening) != std::string::npos)
            port = std::atoi(text.c_str() + text.find(listening) + listening.size());
    }
    ASSERT_NE(port, 0) << readFile(dir.path("host.log"));
    httplib::Client client("127.0.0.1", port);

    // The week's program, judged as the report must judge it.
    int nFlagged = 0, nThdHigh = 0, nUnbalanced = 0, nFrequencyOut = 0;
    json dips = json::array(), swells = json::array();
    for (int r = 0; r < 5; r++) dips.push_back(json::array({0, 0, 0, 0, 0, 0}));
    for (int r = 0; r < 2; r++) swells.push_back(json::array({0, 0, 0, 0, 0, 0}));
    for (const WeekEvent& event : weekProgram()) {
        const int nTenMinutes = static_cast<int>(event.dSeconds / 600);
        const int nColumn = rowOf(-event.dSeconds, {-0.2, -0.5, -1, -5, -60});
        if (event.change == WeekChange::dip)
            dips[rowOf(100 * event.dValue, {80, 70, 40, 5})][nColumn] =
                dips[rowOf(100 * event.dValue, {80, 70, 40, 5})][nColumn].get<int>() + 1;
        if (event.change == WeekChange::swell)
            swells[event.dValue >= 1.2 ? 0 : 1][nColumn] =
                swells[event.dValue >= 1.2 ? 0 : 1][nColumn].get<int>() + 1;
        nFlagged += event.change == WeekChange::dip || event.change == WeekChange::swell;
        nThdHigh += event.change == WeekChange::harmonics && event.dValue > 8 ? nTenMinutes : 0;
        nFrequencyOut += event.change == WeekChange::frequency && std::abs(event.dValue - 50) > 0.5
                             ? static_cast<int>(event.dSeconds / 10)
                             : 0;
        if (event.change == WeekChange::unbalance) {
            const std::complex<double> a = std::polar(1.0, 2 * M_PI / 3),
                                       b = std::polar(event.dValue, -(120 + event.dDegrees) * M_PI / 180),
                                       c = std::polar(1.0, 120 * M_PI / 180);
            nUnbalanced += std::abs(1.0 + a * a * b + a * c) / std::abs(1.0 + a * b + a * a * c) > 0.02
                               ? nTenMinutes
                               : 0;
        }
    }
    const json report = get(client, "/api/report/en50160?from=" + std::to_string(llMonday));
    const double dJudged = 1008 - nFlagged;
    EXPECT_EQ(report["tenMinutes"], json({{"present", 1008}, {"expected", 1008}, {"flagged", nFlagged}}))
        << report.dump();
    EXPECT_EQ(report["tenSeconds"]["present"], 60480);
    EXPECT_NEAR(report["thd95"]["A"]["percentWithin"].get<double>(), 100 * (dJudged - nThdHigh) / dJudged,
                1e-9);
    EXPECT_EQ(report["thd95"]["B"]["percentWithin"], 100);
    EXPECT_NEAR(report["unbalance95"]["percentWithin"].get<double>(), 100 * (dJudged - nUnbalanced) / dJudged,
                1e-9);
    EXPECT_NEAR(report["frequency995"]["percentWithin"].get<double>(),
                100 * (60480 - nFrequencyOut) / 60480.0, 100.5 / 60480);
    EXPECT_EQ(report["voltage95"]["C"]["percentWithin"], 100);
    EXPECT_EQ(report["dips"]["counts"], dips);
    EXPECT_EQ(report["swells"]["counts"], swells);
    EXPECT_EQ(report["verdict"], "pass");
    // The unbalanced afternoon's start and end are rapid changes; every dip and swell has its recording
    // window.
    int nRvc = 0;
    for (const json& event : get(client, "/api/events?kind=all&limit=1000"))
        if (event["startMicros"] >= llMonday && event["startMicros"] < llMonday + WEEK_SECONDS * 1000000) {
            nRvc += event["kind"] == "rvc";
            if (event["kind"] == "dip" || event["kind"] == "swell") {
                EXPECT_TRUE(event["eventId"].is_number()) << event;
            }
        }
    EXPECT_EQ(nRvc, 2);

    // Phase B at 95 % and 2 degrees late: its negative sequence, from the phasors.
    const std::complex<double> a = std::polar(1.0, 2 * M_PI / 3), b = std::polar(0.95, -122 * M_PI / 180),
                               c = std::polar(1.0, 120 * M_PI / 180);
    const double dU2 = 100 * std::abs(1.0 + a * a * b + a * c) / std::abs(1.0 + a * b + a * a * c);
    // The first blocks may hold records made before the module read its angles.
    json pq;
    for (int i = 0; i < 100 && std::abs((pq = get(client, "/api/pq")).value("u2", 0.0) - dU2) > 0.05; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NEAR(pq.value("u2", 0.0), dU2, 0.05) << pq.dump();
    EXPECT_GT(get(client, "/api/status")["pq"].value("recordsAnalysed", 0), 0);

    // The aggregates: a week of 10-minute values in one answer; what is refused, and why.
    const std::string week =
        "from=" + std::to_string(llMonday) + "&to=" + std::to_string(llMonday + WEEK_SECONDS * 1000000);
    const json tenMinutes = get(client, "/api/aggregates?period=10min&" + week);
    EXPECT_EQ(tenMinutes["count"], 1008);
    EXPECT_EQ(tenMinutes["truncated"], false);
    EXPECT_EQ(get(client, "/api/aggregates?period=2h&" + week)["count"], 84);
    const struct {
        const char* pszQuery;
        const char* pszSaid;
    } refused[] = {
        {"period=1h", "period \"1h\" is neither 10min nor 2h"},
        {"from=yesterday", "from \"yesterday\" is not a time"},
        {"from=2024-02-30", "is not a time"},
        {"from=2024-03-04T00:00:00Z&to=2024-03-03", "from must be before to"},
    };
    for (const auto& query : refused)
        EXPECT_NE(get(client, std::string("/api/aggregates?") + query.pszQuery, 400)
                      .value("error", "")
                      .find(query.pszSaid),
                  std::string::npos)
            << query.pszQuery;
    kill(live, SIGTERM);
    waitpid(live, &status, 0);
}

}  // namespace
