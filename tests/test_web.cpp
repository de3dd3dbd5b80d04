// The web page and its API against a running qmhost: the swell scenario on the
// simulated board in real time, a real HTTP client, and Debian's Chromium
// loading the page. One host serves the whole suite.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "Browser.h"
#include "ComtradeReader.h"
#include "EventDatabase.h"
#include "ScratchFiles.h"
#include "WebHost.h"
#include "WebJson.h"

namespace {

using nlohmann::json;

// The smallest and the largest of an array of numbers.
std::pair<double, double> rangeOf(const json& values) {
    std::pair<double, double> range{1e300, -1e300};
    for (const json& v : values)
        range = {std::min(range.first, v.get<double>()), std::max(range.second, v.get<double>())};
    return range;
}

class WebPage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pHost = new Host; }
    static void TearDownTestSuite() {
        delete s_pHost;
        s_pHost = nullptr;
    }
    void SetUp() override { ASSERT_EQ(s_pHost->error, ""); }

    // GET (or POST) `path`: the status must be `status` and the body JSON.
    json request(const std::string& path, int status, bool bPost = false) {
        const httplib::Result result = bPost ? m_client.Post(path.c_str()) : m_client.Get(path.c_str());
        if (!result) return ADD_FAILURE() << path << ": no answer", json();
        EXPECT_EQ(result->status, status) << path << ": " << result->body;
        const json body = json::parse(result->body, nullptr, false);
        EXPECT_FALSE(body.is_discarded()) << path << ": " << result->body;
        return body;
    }
    std::string text(const std::string& path) {
        const httplib::Result result = m_client.Get(path.c_str());
        EXPECT_TRUE(result && result->status == 200) << path;
        return result ? result->body : "";
    }

    static Host* s_pHost;
    httplib::Client m_client{"127.0.0.1", s_pHost->port};
};
Host* WebPage::s_pHost = nullptr;

// The demand quantities in the module's order; the energies add "HR".
const Fields DEMAND = split(
    "AWATT BWATT CWATT AVAR BVAR CVAR AVA BVA CVA AFWATT BFWATT CFWATT AFVAR BFVAR "
    "CFVAR AFVA BFVA CFVA TOT_WATT TOT_VAR TOT_VA TOT_FWATT TOT_FVAR TOT_FVA",
    " ");

// The API's JSON, each field against what was given: a record's float i is 1000 + i, so each name
// shows where its value came from; the times cross a leap day; durations are in seconds.
TEST(WebJson, RecordsEventsIntervalsAndSnapshotsPublishEachFieldAsGiven) {
    Fields journal, energy = DEMAND;
    for (const std::string& value : ::journal()) journal.push_back(split(value, ",")[0]);
    for (std::string& name : energy) name += "HR";
    const std::map<int, std::vector<std::pair<const char*, Fields>>> requests = {
        {0, {{"values", Fields(journal.begin(), journal.begin() + 63)}}},
        {2, {{"values", Fields(journal.begin() + 54, journal.begin() + 60)}}},
        {5, {{"energy", energy}, {"total", energy}, {"demandMax", DEMAND}}},
        {10, {{"values", journal}, {"energy", energy}, {"total", energy}}}};
    std::vector<float> floats(200);
    for (size_t i = 0; i < floats.size(); i++) floats[i] = 1000.0f + i;
    for (const auto& [nType, groups] : requests) {
        json expected = {{"request", nType}};
        double dNext = 1000;
        for (const auto& [pszGroup, names] : groups)
            for (const std::string& name : names) expected[pszGroup][name] = dNext++;
        EXPECT_EQ(recordRequestFloats(nType), dNext - 1000) << nType;
        EXPECT_EQ(json::parse(jsonOfRecordRequest(nType, floats.data())), expected);
    }
    EXPECT_EQ(json::parse(jsonError("\"a\\b\"\n\x01"))["error"], "\"a\\b\"\n\x01");

    // clang-format off
    StoredEvent e{42, 1709251199990000, 1709251202995000, 1709251200010000, 0x80000001, "swell", "AC", 264.5,
                  2985000, false, false, false, {}};
    // clang-format on
    for (int r = 0; r < 2; r++) {
        e.records.push_back({e.llStartMicros + r * 3005000, 1u << r, {}});
        for (int j = 0; j < jrnl_MAX; j++) e.records.back().values[j] = 100.0f * r + j;
    }
    const json summary = json::parse(R"({"id": 42, "start": "2024-02-29T23:59:59.990000Z", "startMicros":
        1709251199990000, "end": "2024-03-01T00:00:02.995000Z", "endMicros": 1709251202995000, "trigger":
        "2024-03-01T00:00:00.010000Z", "triggerMicros": 1709251200010000, "triggerStatus": 2147483649,
        "classification": "swell", "phases": "AC", "extreme": 264.5, "duration": 2.985, "records": 2,
        "incomplete": false, "recordsPruned": false, "kind": "window"})");
    json whole = json::parse(jsonOfEvent(e)), series = whole["series"];
    whole.erase("series");
    EXPECT_TRUE(json::parse(jsonOfEventSummary(e)) == summary && whole == summary) << whole;
    EXPECT_EQ(series["timeMicros"].dump() + series["limits"].dump(),
              "[1709251199990000,1709251202995000][1,2]");
    EXPECT_EQ(series["values"].size(), 70u);
    for (int j = 0; j < 70; j++) EXPECT_EQ(series["values"][journal[j]], json({j, 100 + j})) << journal[j];
    StoredEvent listed = e;  // as a list has it, without its records; cut by a stop, its records pruned
    listed.records.clear(), listed.storedRecords = 2, listed.bIncomplete = listed.bRecordsPruned = true;
    json marked = summary;
    marked["incomplete"] = marked["recordsPruned"] = true;
    EXPECT_EQ(json::parse(jsonOfEvents({e, listed})), json({summary, marked}));

    // An interval stamped with the moment it ended; a snapshot not stored, its samples the page's test's.
    const ACCUMULATOR_DATA interval{1704067200, 0, 0, {1}, {2}, {3}, {4}};
    const json ended = json::parse(jsonOfIntervals({interval})).at(0);
    EXPECT_TRUE(ended["end"] == "2024-01-01T00:00:00.000000Z" && ended["endMicros"] == 1704067200000000 &&
                ended["demandMax"]["AWATT"] == 1 && ended["demandAvg"]["AWATT"] == 2 &&
                ended["energy"]["AWATTHR"] == 3 && ended["total"]["AWATTHR"] == 4 && ended.size() == 6);
    const json shot = json::parse(jsonOfSnapshot(StoredSnapshot{0, 1709210096789012, 59.98, {}}));
    EXPECT_TRUE(!shot.contains("id") && shot["time"] == "2024-02-29T12:34:56.789012Z" &&
                shot["timeMicros"] == 1709210096789012 && shot["samplesPerCycle"] == 128 &&
                shot["channels"][2]["unit"] == "V" && shot["channels"][3]["unit"] == "A");

    // The status report: each count in its place, a lost window with its times and why.
    MeterStatus status{{99.5, false, false, "the chip does not answer", 3600},
                       {},
                       {"/d", 4096, 8192, 2, 3, 4, true},
                       "x",
                       MqttCounts{false, 10, 5000000000, 30, "refused"},
                       PqCounts{11, 12, 13, 14, 15, 16, 17, 18, "busy"}};
    RecorderCounts& r = status.recorder;
    r.unWindows = 1, r.ulRecords = 2, r.unIntervals = 3, r.unPendingWindows = 4, r.unPendingIntervals = 5;
    r.unRetriedWrites = 6, r.unDroppedWindows = 7, r.unDroppedIntervals = 8, r.unLostWindows = 9;
    r.lost = {{1709251199990000, 1709251200000000, "overwritten in the ring"}}, r.lastError = "locked";
    EXPECT_EQ(json::parse(jsonOfStatus(status)), json::parse(R"({"measurement": {"measuring": false, "fault":
        "the chip does not answer", "recordsPerSecond": 99.5, "chipAnswering": false, "uptimeSeconds": 3600},
        "recorder": {"recording": false, "windows": {"stored": 1, "pending": 4, "dropped": 7, "lost": 9},
        "intervals": {"stored": 3, "pending": 5, "dropped": 8}, "records": 2, "retriedWrites": 6, "lastError":
        "locked", "lostWindows": [{"start": "2024-02-29T23:59:59.990000Z", "startMicros": 1709251199990000, "end":
        "2024-03-01T00:00:00.000000Z", "endMicros": 1709251200000000, "reason": "overwritten in the ring"}]},
        "database": {"path": "/d", "writable": true, "sizeBytes": 4096, "maxBytes": 8192, "prunedEvents": 2,
        "prunedSnapshots": 3, "prunedPqRows": 4, "error": "x"}, "mqtt": {"connected": false, "queued": 10,
        "delivered": 5000000000, "dropped": 30, "lastError": "refused"}, "pq": {"recordsAnalysed": 11,
        "recordsLost": 12, "recordsDropped": 13, "breaks": 14, "rows": {"written": 15, "pending": 16, "dropped": 17},
        "retriedWrites": 18, "lastError": "busy"}})"));
}

// Phase B stays at 230 V and 5 A through the swell on A.
TEST_F(WebPage, ApiServesTheModulesAnswersAndRefusesBadRequests) {
    const json values = request("/api/values", 200), power = values["registers"]["power"];
    ASSERT_EQ(power.size(), 70u);
    EXPECT_EQ(power[4]["name"], "RMS Voltage B");
    EXPECT_NEAR(std::stod(power[4]["value"].get<std::string>()), 230.0, 0.01);
    EXPECT_EQ(request("/api/scaled", 200)["sections"][1]["section"], "power");
    EXPECT_EQ(request("/api/registers", 200)["registers"][4]["abbrev"], "jrnl_VRMS_B");

    const json vandi = request("/api/records/0", 200)["values"];
    EXPECT_NEAR(vandi["VRMS_B"].get<double>(), 230.0, 0.01);
    EXPECT_NEAR(vandi["IRMS_B"].get<double>(), 5.0, 0.001);
    const json angles = request("/api/records/2", 200)["values"];
    EXPECT_NEAR(angles["VANGLE_B"].get<double>(), -120.0, 0.1);
    EXPECT_NEAR(angles["IANGLE_B"].get<double>(), 36.87, 0.1);
    EXPECT_EQ(request("/api/records/5", 200)["demandMax"].size(), 24u);
    EXPECT_NEAR(request("/api/records/10", 200)["values"]["WATT_B"].get<double>(), 920.0, 0.1);
    // The lifetime counters beside the module's report, and in the metrics.
    EXPECT_TRUE(values["lifetime"]["counters"].contains("WH_IMPORT_TOT"));
    const httplib::Result metrics = m_client.Get("/metrics");
    ASSERT_TRUE(metrics &&
                metrics->get_header_value("Content-Type") == "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_NE(metrics->body.find("\nqm9000_energy_import_joules_total{phase=\"A\"} "), std::string::npos);

    // A snapshot kept, and its COMTRADE record matching what the page was shown.
    const json snapshot = request("/api/snapshot", 200, true);
    ASSERT_EQ(snapshot["channels"].size(), 6u);
    EXPECT_NEAR(rangeOf(snapshot["channels"][1]["samples"]).second, 230.0 * std::sqrt(2.0), 3.0);
    const std::string id = std::to_string(snapshot["id"].get<int>());
    const Comtrade stored = readComtrade(
        {text("/api/snapshots/" + id + ".cfg"), text("/api/snapshots/" + id + ".dat"), {}, {}, {}});
    std::vector<std::vector<float>> samples;
    std::vector<double> micros;
    for (const json& channel : snapshot["channels"])
        samples.push_back(channel["samples"].get<std::vector<float>>());
    for (int s = 0; s < 128; s++) micros.push_back(s * 1e6 / (128 * snapshot["frequency"].get<double>()));
    expectSamples(stored, samples, micros);

    for (const std::string refusal : {"404 /api/nothing",
                                      "404 /api/records/",
                                      "400 /api/events/abc",
                                      "400 /api/events/0",
                                      "400 /api/events/-4",
                                      "400 /api/events/1e3",
                                      "400 /api/events/99999999999999999999",
                                      "404 /api/events/424242",
                                      "404 /api/events/1.exe",
                                      "400 /api/events?limit=0",
                                      "400 /api/events?limit=1001",
                                      "400 /api/intervals?limit=x",
                                      "404 /api/snapshots/1.csv",
                                      "404 /api/snapshots/77.cfg",
                                      "404 /no-such-page.html",
                                      "404 /lib/dygraphs/../../../etc/passwd",
                                      "400 /api/aggregates?period=1h",
                                      "400 /api/aggregates?from=2024-02-30",
                                      "400 /api/aggregates?from=today",
                                      "400 /api/aggregates?from=2024-03-04T00:00:00Z&to=2024-03-03"})
        EXPECT_TRUE(request(refusal.substr(4), std::stoi(refusal)).contains("error")) << refusal;
    EXPECT_EQ(request("/api/records/3", 404)["error"], "no record \"3\": records are 0, 2, 5 and 10");
    EXPECT_EQ(request("/api/aggregates?period=1h", 400)["error"], "period \"1h\" is neither 10min nor 2h");
    // What HTTP asks of methods, lengths and sizes: the status, a header the
    // answer carries, and a JSON body naming the reason (none on 204 and HEAD).
    const std::string longTarget = "/api/values?x=" + std::string(3000, 'a');
    const std::string bigHeader = "X-Big: " + std::string(9000, 'a') + "\r\n";
    const std::string allowSnapshot = "Allow: GET, HEAD, POST, OPTIONS",
                      allowFile = "Allow: GET, HEAD, OPTIONS";
    const std::string self = "127.0.0.1:" + std::to_string(s_pHost->port);
    for (const auto& [ask, extra, status, header] :
         std::vector<std::tuple<std::string, std::string, int, std::string>>{
             {"POST /api/snapshot", "", 411, ""},
             {"POST /api/snapshot", "Content-Length: 1\r\nContent-Length: 2\r\n", 400, ""},
             {"POST /api/snapshot", "Content-Length: 5000\r\n", 413, ""},
             {"GET " + longTarget, "", 414, ""},
             {"GET /api/values", bigHeader, 431, ""},
             {"DELETE /api/values", "", 405, "Allow: GET, HEAD, OPTIONS"},
             {"PUT /api/snapshot", "Content-Length: 0\r\n", 405, allowSnapshot},
             {"POST /index.html", "Content-Length: 0\r\n", 405, allowFile},
             {"OPTIONS /api/snapshot", "", 204, allowSnapshot},
             {"OPTIONS /index.html", "", 204, allowFile},
             {"HEAD /api/values", "", 200, "Content-Type: application/json"},
             // Another page's script may not change the meter, nor a name rebound to it read it.
             {"POST /api/snapshot", "Origin: http://evil.example\r\nContent-Length: 0\r\n", 403, ""},
             {"POST /api/snapshot", "Origin: null\r\nContent-Length: 0\r\n", 403, ""},
             {"GET /api/values", "Host: evil.example:" + std::to_string(s_pHost->port) + "\r\n", 403, ""}}) {
        const std::string host = extra.find("Host:") == std::string::npos ? "Host: " + self + "\r\n" : "";
        const std::string answer =
            rawRequest(s_pHost->port, ask + " HTTP/1.1\r\n" + host + extra + "Connection: close\r\n\r\n");
        const size_t end = answer.find("\r\n\r\n");
        const std::string head = answer.substr(0, end),
                          body = end == std::string::npos ? "" : answer.substr(end + 4);
        EXPECT_EQ(head.substr(0, 12), "HTTP/1.1 " + std::to_string(status))
            << ask.substr(0, 40) << ": " << head;
        EXPECT_NE(head.find(header), std::string::npos) << ask.substr(0, 40) << ": " << head;
        EXPECT_EQ(status >= 400 && json::parse(body, nullptr, false).contains("error"), !body.empty())
            << ask.substr(0, 40) << ": " << body;
    }
    request("/api/values", 200);  // still answering
}

TEST_F(WebPage, ChromiumShowsTheMeterASwellChosenFromTheKeyboardAndWhatFails) {
    Browser browser;
    std::string error;
    ASSERT_TRUE(browser.start(s_pHost->dir.path("chromium"), 1280, 1700, error)) << error;
    ASSERT_TRUE(browser.open(s_pHost->url(), error)) << error;
    std::vector<int64_t> known;  // events before the page was there
    for (const json& event : request("/api/events", 200)) known.push_back(event["id"]);

    // The live table, the phasors with their legend and the six traces.
    const std::string statusLine = "document.querySelector('#status').textContent";
    ASSERT_GE(
        browser.waitFor(statusLine +
                            ".startsWith('connected') && /VB\\s+2(29\\.[89]|30\\.[01]) V ∠\\s+-1"
                            "(20\\.[01]|19\\.9)°/.test(document.querySelector('#phasor-legend').textContent)",
                        10),
        0);
    const json shown = browser.evaluate(
        "Object.fromEntries([...document.querySelectorAll('#live td[data-key]')].map(td => [td.dataset.key, "
        "td.textContent]))",
        error);
    EXPECT_NEAR(std::stod(shown.value("VRMS_B", "0")), 230.0, 0.23) << error;
    EXPECT_NEAR(std::stod(shown.value("IRMS_C", "0")), 5.0, 0.005);
    EXPECT_NEAR(std::stod(shown.value("FREQ_A", "0")), 50.0, 0.05);
    const std::string lifetime = "document.querySelector('#lifetime td[data-key=WH_IMPORT_TOT]').textContent";
    EXPECT_GE(browser.waitFor("/^\\d+\\.\\d{3}$/.test(" + lifetime + ")", 15), 0);
    // Each phasor in its phase's colour where its angle puts it: the voltages
    // (0, -120, 120 degrees) near the rim, the currents (36.87 degrees behind
    // them, shorter) near the centre.
    const json phasors = browser.evaluate(R"((() => {
        const c = document.querySelector('#phasors'), g = c.getContext('2d'), h = c.width / 2;
        const probe = document.createElement('canvas').getContext('2d');
        const colour = name => { probe.fillStyle = getComputedStyle(document.documentElement)
            .getPropertyValue(name).trim(); probe.fillRect(0, 0, 1, 1); return probe.getImageData(0, 0, 1, 1).data; };
        return [['--ph-a', 0, 0.75], ['--ph-b', -120, 0.75], ['--ph-c', 120, 0.75], ['--ph-a', -36.87, 0.3],
                ['--ph-b', -156.87, 0.3], ['--ph-c', 83.13, 0.3]].map(([name, degrees, reach]) => {
            const want = colour(name), a = degrees * Math.PI / 180;
            const d = g.getImageData(Math.round(h + reach * h * Math.cos(a)) - 3,
                                     Math.round(h - reach * h * Math.sin(a)) - 3, 7, 7).data;
            for (let i = 0; i < d.length; i += 4)
                if (Math.abs(d[i] - want[0]) + Math.abs(d[i + 1] - want[1]) + Math.abs(d[i + 2] - want[2]) < 60)
                    return true;
            return false;
        });
    })())",
                                          error);
    EXPECT_EQ(phasors, json({true, true, true, true, true, true})) << error;
    // The column `label` of the table of a chart's values.
    const auto column = [&](const std::string& table, const std::string& label) {
        return browser.evaluate(R"(((t, label) => [...t.tBodies[0].rows].map(tr => Number(tr.cells[
            [...t.tHead.rows[0].cells].findIndex(th => th.textContent === label)].textContent)))()" +
                                    ("document.querySelector('" + table + "'), '" + label + "')"),
                                error);
    };
    ASSERT_GE(browser.waitFor("document.querySelector('#snapshot-values tbody').rows.length === 128", 10), 0);
    EXPECT_EQ(browser.evaluate(
                  "[...document.querySelectorAll('#snapshot-values th')].map(th => th.textContent)", error),
              json({"ms", "VA", "VB", "VC", "IA", "IB", "IC"}));
    EXPECT_NEAR(rangeOf(column("#snapshot-values", "VB")).second, 230.0 * std::sqrt(2.0), 3.0);
    // The status strip says what /api/status says: measuring, recording, nothing lost.
    ASSERT_GE(
        browser.waitFor("document.querySelector('#health-recorder').textContent.startsWith('recording') && "
                        "document.querySelector('#health-measurement').textContent.startsWith('measuring')",
                        10),
        0);
    const json strip = browser.evaluate(
        "[...document.querySelectorAll('#health span:not([hidden])')].map(s => s.className + '|' + "
        "s.textContent)",
        error);
    // Breaks in the analysis are the start's timing on a busy machine, not the page's.
    const std::vector<std::string> wanted = {
        R"(\|measuring · ([2-9]\d|\d{3,}) records/s · chip answering · up .*)",
        R"(\|recording · stored \d+ windows, \d+ intervals · pending \d+ · retried 0 · dropped 0 · lost 0)",
        "\\|database " + s_pHost->database() + " · \\d+ kB of .* · writable",
        R"(\|power quality · analysed [1-9]\d* records · breaks \d+ · lost 0 · rows \d+ written, \d+ pending, 0 dropped)"};
    ASSERT_EQ(strip.size(), wanted.size()) << error;
    for (size_t i = 0; i < wanted.size(); i++)
        EXPECT_TRUE(std::regex_match(strip[i].get<std::string>(), std::regex(wanted[i]))) << strip;
    EXPECT_TRUE(browser.screenshot(QM_ARTIFACTS_DIR "/web-live.png", error)) << error;

    // A swell recorded while the page is open is on the page within two
    // seconds of the API listing it; the window that sees it end joins it.
    const std::string newSwell =
        "[...document.querySelectorAll('#events tr[data-kind=window]')].find(tr => !" + json(known).dump() +
        ".includes(Number(tr.dataset.id)) && tr.querySelector('.classification').textContent === 'swell')";
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    double dListed = -1, dShown = -1;
    while (dShown < 0 && elapsed() < 45) {
        for (const json& event : request("/api/events?limit=5", 200))
            if (dListed < 0 && event["classification"] == "swell" &&
                std::find(known.begin(), known.end(), event["id"].get<int64_t>()) == known.end())
                dListed = elapsed();
        if (browser.evaluate("Boolean(" + newSwell + ")", error) == true) dShown = elapsed();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_GE(dShown, 0) << "no swell listed";
    EXPECT_LE(dShown - dListed, 2.0);
    const int64_t id = browser.evaluate("Number(" + newSwell + ".dataset.id)", error);
    ASSERT_GE(browser.waitFor("Number(" + newSwell + ".querySelector('.duration').textContent) > 2.5", 10),
              0);
    const json row = browser.evaluate(
        "(tr => ({phases: tr.querySelector('.phases').textContent, extreme: "
        "tr.querySelector('.extreme').textContent, duration: "
        "tr.querySelector('.duration').textContent}))(" +
            newSwell + ")",
        error);
    const json event = request("/api/events/" + std::to_string(id), 200);
    EXPECT_EQ(row["phases"], "A");
    EXPECT_NEAR(std::stod(row["extreme"].get<std::string>()), 264.5, 0.5);
    EXPECT_NEAR(std::stod(row["duration"].get<std::string>()), event["duration"].get<double>(), 0.001);
    EXPECT_NEAR(event["duration"].get<double>(), 3.0, 0.05);  // the scenario's swell lasts 3 s

    // The analysis's swell: listed with its kind and its window, on the ITIC curve above it (115 % for
    // 3 s), counted in this week's EN 50160 table in the swells' 110-120 %, 1-5 s.
    const std::string pqSwell =
        "document.querySelector('#events tr[data-kind=swell][data-window=\"" + std::to_string(id) + "\"]')";
    ASSERT_GE(browser.waitFor(pqSwell + "?.querySelector('.kind').textContent === 'swell'", 10), 0);
    const std::string iticRows = "[...document.querySelectorAll('#itic-values tbody tr')]";
    // Each event of its table is a point of the plot.
    ASSERT_GE(browser.waitFor(iticRows + ".length > 0 && " + iticRows +
                                  ".length === Number(document.querySelector('#itic').dataset.points)",
                              10),
              0);
    const json itic = browser.evaluate(
        iticRows +
            ".map(tr => [...tr.cells].slice(1).map(c => c.textContent)).find(r => Math.abs(r[2] - 3) < 0.05)",
        error);
    ASSERT_TRUE(itic.is_array()) << error;
    EXPECT_EQ(json({itic[0], itic[1], itic[3], itic[4]}), json({"swell", "A", "115.0", "above"}));
    browser.evaluate(
        "(s => { s.value = 'this'; s.dispatchEvent(new Event('change')); })(document."
        "querySelector('#en50160-week'))",
        error);
    const std::string counts =
        "[...document.querySelectorAll('#en50160-events tbody tr')].map(tr => "
        "[...tr.cells].map(c => c.textContent).join(' '))";
    ASSERT_GE(browser.waitFor("/^swell 110-120% 0 0 0 [1-9]/.test(" + counts + "[6])", 10), 0);
    const json table = browser.evaluate(counts, error);
    ASSERT_EQ(table.size(), 7u) << table;
    for (size_t r = 0; r < 6; r++)
        EXPECT_TRUE(table[r].get<std::string>().find(" 0 0 0 0 0 0") != std::string::npos) << table;
    EXPECT_EQ(browser.evaluate("document.querySelectorAll('#en50160 tbody tr').length", error), 12);
    browser.evaluate("document.querySelector('#pq-panel').scrollIntoView()", error);
    EXPECT_TRUE(browser.screenshot(QM_ARTIFACTS_DIR "/web-pq.png", error)) << error;

    // Chosen from the keyboard (Tab to the list, down to its row, Enter), it
    // plots its one-cycle RMS voltages: the swell and the normal level.
    const std::string chosen = "document.querySelector('#events tr[data-id=\"" + std::to_string(id) + "\"]')";
    const std::string inList = "document.activeElement.closest('#events') !== null";
    for (int i = 0; i < 100 && browser.evaluate(chosen + " === document.activeElement", error) != true; i++)
        browser.press(browser.evaluate(inList, error) == true ? "ArrowDown" : "Tab", error);
    ASSERT_TRUE(browser.press("Enter", error)) << error;
    const std::string shows = chosen +
                              ".getAttribute('aria-selected') === 'true' && document.querySelector(" +
                              "'#event-rms canvas') && document.querySelector('#event-values tbody').rows" +
                              ".length === " + std::to_string(event["records"].get<int>());
    ASSERT_GE(browser.waitFor(shows, 10), 0);
    const json plotted = column("#event-values", "VRMS1_A");
    ASSERT_TRUE(plotted.is_array()) << error;
    EXPECT_NEAR(rangeOf(plotted).second, 264.5, 0.5);
    EXPECT_NEAR(rangeOf(plotted).first, 230.0, 0.5) << plotted;
    EXPECT_TRUE(browser.screenshot(QM_ARTIFACTS_DIR "/web-event.png", error)) << error;

    // Its COMTRADE download, read independently, matches the database.
    const auto download = [&](const char* pszClass) {
        const json body = browser.evaluate(std::string("fetch(document.querySelector('#event-links a.") +
                                               pszClass + "').href).then(r => r.text())",
                                           error);
        return body.is_string() ? body.get<std::string>() : "";
    };
    const Comtrade comtrade = readComtrade({download("download-cfg"), download("download-dat"), {}, {}, {}});
    EventDatabase database;
    StoredEvent stored;
    ASSERT_TRUE(database.open(s_pHost->database(), error) && database.loadEvent(id, stored, error)) << error;
    expectRecords(comtrade, stored.records);

    // The status line names what does not answer, until it answers again.
    ASSERT_TRUE(browser.blockUrls({"*/api/*"}, error)) << error;
    const std::string silent = "/^no answer since \\d\\d:\\d\\d:\\d\\d · .*live values[^;]*: no answer/";
    EXPECT_GE(browser.waitFor(silent + ".test(" + statusLine + ")", 5), 0);
    ASSERT_TRUE(browser.blockUrls({}, error)) << error;
    EXPECT_GE(browser.waitFor(statusLine + ".startsWith('connected')", 10), 0);
    // A database another program holds: the strip names the lock, marked bad,
    // until the recorder writes again.
    sqlite3* pHolder = nullptr;
    ASSERT_EQ(sqlite3_open(s_pHost->database().c_str(), &pHolder), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(pHolder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string locked =
        "[...document.querySelectorAll('#health .bad')].some(s => s.textContent.includes("
        "'database is locked')) && /locked/.test(document.querySelector('#health-summary')"
        ".textContent)";
    EXPECT_GE(browser.waitFor(locked, 45), 0);
    sqlite3_close_v2(pHolder);  // its transaction rolled back
    EXPECT_GE(browser.waitFor("!document.querySelector('#health .bad')", 10), 0)
        << browser.evaluate("document.querySelector('#health').textContent", error);
}

}  // namespace
