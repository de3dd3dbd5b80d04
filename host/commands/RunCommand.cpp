// `qmhost run`: the live meter. Owns the shared block, hands the module its
// description table, drives it in real time and shows what it measures, on
// the simulated board (with a scripted line) or the real one.
#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "AppFiles.h"
#include "En50160Report.h"
#include "HostBlock.h"
#include "HostCommandLine.h"
#include "HostCommands.h"
#include "HostLibraries.h"
#include "HostWallClock.h"
#include "LifetimeEnergy.h"
#include "LineSettings.h"
#include "LiveView.h"
#include "MeasuringWatch.h"
#include "MeterId.h"
#include "ModbusServer.h"
#include "ModuleSession.h"
#include "ModuleTable.h"
#include "MqttPublisher.h"
#include "MqttUrl.h"
#include "PluginLoader.h"
#include "PqFeeder.h"
#include "PublishedQuantities.h"
#include "Recorder.h"
#include "RegisterImageCache.h"
#include "Requests.h"
#include "Scenarios.h"
#include "ServiceNotifier.h"
#include "SimulatedEeprom.h"
#include "UtcTime.h"
#include "WebAccess.h"
#include "WebServer.h"
#include "WeekProgram.h"

namespace {

constexpr uint64_t REPORT_MICROS = 1000000;
// --fast: the virtual clock's step between process calls, less than a 60 Hz
// half-cycle less the calls' own bus time, so no half-cycle goes unseen.
constexpr uint64_t FAST_STEP_MICROS = 4000;

volatile std::sig_atomic_t g_bStop = 0;

void onSignal(int) {
    g_bStop = 1;
}

struct RunOptions {
    std::string scenario = "steady";
    double dSeconds = 0;      // 0: until Ctrl-C
    bool bLog = false;        // one line a second instead of the live view
    std::string eepromImage;  // empty: <appDir>/eeprom.bin if there is one, else memory only
    std::string blankPage = "module";
    std::string database;  // empty: the block's s_pszActiveDB, else <appDir>/qm9000.db
    double dInterruptionPercent = VoltageThresholds{}.dInterruptionPercent;
    int64_t llDatabaseMegabytes = StorageLimits::DEFAULT_MAX_BYTES >> 20;
    int nMaxSnapshots = StorageLimits::DEFAULT_MAX_SNAPSHOTS;
    std::string webAddress;     // empty: no web page
    std::string webToken;       // empty: <appDir>/web-token
    bool bWebOpen = false;      // beyond the loopback, reading needs no token
    double dGraceSeconds = 30;  // not measuring this long: exit, so a service manager restarts the meter
    double dLogSeconds = 1;     // --log's line every this many seconds
    std::string mqttUrl;        // empty: no MQTT
    std::string mqttCaFile;
    std::string mqttId;         // empty: the serial number, else the host's name
    std::string mqttDiscovery;  // "on", "off"; empty: on with JSON, off with Influx
    std::string mqttFormat = "json";
    bool bFast = false;  // the simulated line on virtual time, as fast as it goes
    pq::Config pq;       // the thresholds; the declared voltage and frequency come from the configuration
    std::string modbusAddress;  // empty: no Modbus server
    int nModbusUnit = 1;
};

// --fast: the process's wall clock runs with the simulated board's virtual
// clock, from a moment chosen at the start.
struct VirtualWall {
    SimulatedLine* pLine = nullptr;
    uint64_t ullLineOrigin = 0;
    int64_t llWallOrigin = 0;
};
VirtualWall g_virtualWall;

int64_t virtualWallMicros() {
    return g_virtualWall.llWallOrigin +
           static_cast<int64_t>(g_virtualWall.pLine->nowMicros() - g_virtualWall.ullLineOrigin);
}

uint64_t steadyMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// The simulated line's clock, for the threads that time retries: on virtual
// time their waits are the line's, as the loop's are.
std::function<int64_t()> lineClock(SimulatedLine* pLine) {
    return [pLine] { return static_cast<int64_t>(pLine->nowMicros()); };
}

void copyText(char* pszDest, size_t size, const std::string& text) {
    snprintf(pszDest, size, "%s", text.c_str());
}

// One command line typed at the console, if any is waiting. Without a console
// (input closed or at its end) there are no commands.
std::string pendingCommand() {
    static bool bInputOpen = true;
    if (!bInputOpen) return "";
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 0) <= 0) return "";
    char szLine[64] = {};
    if (!(input.revents & POLLIN) || !fgets(szLine, sizeof(szLine), stdin)) {
        bInputOpen = false;
        return "";
    }
    return std::string(szLine, strcspn(szLine, "\r\n"));
}

void printReport(MeasSOM& module, int nType, const char* pszTitle) {
    static char szText[32768];
    if (module.realtimeGet(nType, szText, sizeof(szText)) == REQ_OK)
        printf("---- %s ----\n%s\n", pszTitle, szText);
    else
        printf("---- %s: not available ----\n", pszTitle);
}

// The simulated board before the module starts: its EEPROM (image file, a
// page on a blank one) and the full scale the configuration states.
void prepareSimulatedBoard(SimulatedLine& line, const RunOptions& options, MDT& mdt,
                           const std::string& configFile, std::string& eepromSource) {
    line.reset();
    line.limitSpiLog(1000);  // a long run keeps only the latest frames
    // On the virtual clock, so the EEPROM's write cycles take no real time.
    eepromSource = attachSimulatedEeprom(line, options.eepromImage);
    BlankEepromPage blankPage = BlankEepromPage::SimulatedModule;
    parseBlankEepromPage(options.blankPage, blankPage);
    installOnBlankEeprom(mdt, blankPage);
    LineSettings settings;
    if (readLineSettings(configFile.c_str(), settings) && settings.correctedFullScaleVolts() > 0)
        line.setFullScale(settings.correctedFullScaleVolts(),
                          settings.fFullScaleAmps > 0 ? settings.fFullScaleAmps : line.fullScaleAmps());
}

// Everything the live meter runs with, in the order it is set up (and the
// reverse of the order it goes).
struct Meter {
    std::string configFile, moduleLine, boardLine, webLine, modbusLine;
    std::string serialNumber;  // the module table's, "" when it has none
    HostBlockPtr block = makeHostBlock();
    std::unique_ptr<CfgProbe> probes;
    std::unique_ptr<Recorder> recorder;
    std::unique_ptr<LifetimeEnergy> lifetime;  // none when its database cannot be written
    ModuleSession session;
    MeasurementHealth health;             // the loop's view of the measurement, for the page
    std::unique_ptr<PqFeeder> pq;         // none: no power-quality analysis
    std::unique_ptr<MqttPublisher> mqtt;  // before the web server, which shows its counts
    std::unique_ptr<WebServer> web;
    AccessPolicy webAccess;
    std::unique_ptr<RegisterImageCache> modbusImages;
    std::unique_ptr<ModbusServer> modbus;
};

// The meter's health as the loop, the recorder and the MQTT publisher know
// it; the database's size is the web server's to read.
MeterStatus meterStatus(const Meter& meter) {
    MeterStatus status{meter.health.get(), meter.recorder->counts(), {}, {}, {}, {}};
    status.database.path = status.recorder.databasePath;
    status.database.bWritable = status.recorder.bRecording;
    if (meter.mqtt) status.mqtt = meter.mqtt->counts();
    if (meter.pq) status.pq = meter.pq->counts();
    return status;
}

// The block as the meter's host fills it: the probe catalogue, the
// configuration, calibration and database paths.
void fillBlock(Meter& meter, const RunOptions& options, const std::string& appDir) {
    meter.probes = loadCfgProbe();
    meter.block->s_pCfgProbe = meter.probes.get();
    copyText(meter.block->s_pszActiveConfig, sizeof(meter.block->s_pszActiveConfig), meter.configFile);
    copyText(meter.block->s_pszActiveCal, sizeof(meter.block->s_pszActiveCal), appDir + "/Cal9000.json");
    if (!options.database.empty())
        copyText(meter.block->s_pszActiveDB, sizeof(meter.block->s_pszActiveDB), options.database);
}

StorageLimits storageLimits(const RunOptions& options) {
    return {options.llDatabaseMegabytes << 20, options.nMaxSnapshots};
}

// The recorder on the block's database, judging by the thresholds of the
// configuration the module loaded (its defaults, as the module's, when the
// file cannot be read). A database that cannot be opened leaves the meter
// measuring without recording, and says so.
void startRecorder(Meter& meter, const RunOptions& options, SimulatedLine* pFastLine) {
    LineSettings settings;
    readLineSettings(meter.block->s_pszActiveConfig, settings);
    meter.recorder =
        std::make_unique<Recorder>(*meter.block, voltageThresholds(settings, options.dInterruptionPercent),
                                   pFastLine ? lineClock(pFastLine) : Recorder::steadyClock());
    std::string error;
    if (meter.recorder->open(Recorder::databasePath(*meter.block), error, storageLimits(options)))
        meter.recorder->start();
    else
        fprintf(stderr, "qmhost: nothing is recorded: %s\n", error.c_str());
}

// The power-quality analysis on the line the configuration declares (its
// nominal voltage and frequency, the phases its wiring measures), storing in
// the recorder's database; without one it still serves /api/pq.
void startPowerQuality(Meter& meter, const RunOptions& options, SimulatedLine* pFastLine) {
    LineSettings settings;
    readLineSettings(meter.block->s_pszActiveConfig, settings);
    pq::Config config = options.pq;
    config.dDeclaredVolts = settings.fNominalVolts;
    config.nNominalHz = static_cast<int>(std::lround(settings.fNominalHz));
    config.unMeasuredPhases = settings.measuredPhases();
    meter.pq = std::make_unique<PqFeeder>(*meter.block, config,
                                          pFastLine ? lineClock(pFastLine) : PqRowWriter::Clock{});
    std::string error;
    if (!meter.pq->open(Recorder::databasePath(*meter.block), storageLimits(options), error))
        fprintf(stderr, "qmhost: power quality is not stored: %s\n", error.c_str());
    meter.pq->start();
}

// The lifetime energy counters, restored from the recorder's database and
// saved there; without one the meter measures and records without them.
void startLifetimeEnergy(Meter& meter, const RunOptions& options) {
    auto lifetime = std::make_unique<LifetimeEnergy>();
    std::string error;
    if (!lifetime->open(Recorder::databasePath(*meter.block), storageLimits(options), error)) {
        fprintf(stderr, "qmhost: no lifetime energy: %s\n", error.c_str());
        return;
    }
    lifetime->start();
    meter.lifetime = std::move(lifetime);
}

// Beyond the loopback the page needs its token: read, or made and shown
// once. False, saying why, when there is none: the page is not served then.
bool prepareWebAccess(AccessPolicy& policy, const RunOptions& options, const std::string& host) {
    policy.bBeyondLoopback = beyondLoopback(host);
    policy.bOpenReads = options.bWebOpen;
    if (!policy.bBeyondLoopback) return true;
    const std::string path = options.webToken.empty() ? appDirectory() + "/web-token" : options.webToken;
    bool bCreated = false;
    std::string error;
    if (!loadOrCreateWebToken(path, policy.token, bCreated, error)) {
        fprintf(stderr, "qmhost: no web page: beyond this board it needs its token: %s\n", error.c_str());
        return false;
    }
    if (bCreated)
        printf(
            "qmhost: web token written to %s (the page asks for it once; other clients send "
            "\"Authorization: Bearer <token>\"): %s\n",
            path.c_str(), policy.token.c_str());
    return true;
}

void warnBeyondLoopback(const AccessPolicy& policy, const std::string& host) {
    std::string urls;
    for (const std::string& url : listeningAddresses(host, policy.port))
        urls += (urls.empty() ? "" : " ") + url;
    fprintf(stderr, "qmhost: warning: the web page listens beyond this board (%s): %s\n", urls.c_str(),
            policy.bOpenReads ? "it is open to read, changes need the token" : "reading it needs the token");
}

// The web page when asked for; a page that cannot be served leaves the meter
// running without it, and says so.
void startWeb(Meter& meter, const RunOptions& options) {
    if (options.webAddress.empty()) return;
    std::string host, error;
    int port = 0;
    parseWebAddress(options.webAddress, host, port, error);  // checked on the command line
    if (!prepareWebAccess(meter.webAccess, options, host)) return;
    const std::string webRoot = hostDataDirectory("web");
    const auto status = [&meter] { return meterStatus(meter); };
    meter.web = std::make_unique<WebServer>(meter.session.module(), Recorder::databasePath(*meter.block),
                                            webRoot, storageLimits(options), status);
    meter.web->setAccessPolicy(meter.webAccess);
    PublishedSources sources;
    if (meter.lifetime)
        sources.lifetime = [&meter](LifetimeTotals& totals) { return meter.lifetime->published(totals); };
    sources.serialNumber = meter.serialNumber;
    meter.web->setPublishedSources(std::move(sources));
    if (meter.pq) meter.web->setPqSources({[&meter] { return meter.pq->live(); }, meter.pq->config()});
    if (meter.web->start(options.webAddress, error)) {
        meter.webLine = "web page: " + meter.web->url();
        meter.webAccess.port = meter.web->port();
        if (meter.webAccess.bBeyondLoopback) warnBeyondLoopback(meter.webAccess, host);
    } else {
        fprintf(stderr, "qmhost: no web page: %s\n", error.c_str());
    }
    if (webRoot.empty()) fprintf(stderr, "qmhost: the web page's files are not installed\n");
    if (!meter.webLine.empty()) printf("qmhost: %s\n", meter.webLine.c_str());
}

// The MQTT publisher when asked for; one that cannot start leaves the meter
// running without it, and says so.
void startMqtt(Meter& meter, const RunOptions& options) {
    if (options.mqttUrl.empty()) return;
    MqttOptions mqtt;
    std::string error;
    parseMqttUrl(options.mqttUrl, mqtt.connection.url, error);  // checked on the command line
    mqtt.connection.caFile = options.mqttCaFile;
    if (!mqtt.connection.url.bTls && !options.mqttCaFile.empty())
        fprintf(stderr, "qmhost: --mqtt-ca is for an mqtts:// broker; %s is not encrypted\n",
                options.mqttUrl.c_str());
    mqtt.device = {chooseMeterId(options.mqttId, meter.serialNumber), meter.serialNumber, "QM9000",
                   QM_VERSION};
    mqtt.format = options.mqttFormat == "influx" ? MqttFormat::Influx : MqttFormat::Json;
    // Home Assistant reads the JSON payloads only.
    mqtt.bDiscovery =
        options.mqttDiscovery.empty() ? mqtt.format == MqttFormat::Json : options.mqttDiscovery == "on";
    if (mqtt.bDiscovery && mqtt.format != MqttFormat::Json) {
        fprintf(stderr, "qmhost: no Home Assistant discovery: it reads --mqtt-format json, not influx\n");
        mqtt.bDiscovery = false;
    }
    mqtt.databasePath = Recorder::databasePath(*meter.block);
    MqttSources sources;
    MeasSOM& module = meter.session.module();
    sources.readJournal = [&module](std::array<float, jrnl_MAX>& journal) {
        return readPublishedJournal(module, journal);
    };
    // No totals saved yet: no `energy` message.
    sources.lifetime = [&meter] {
        LifetimeTotals totals;
        return meter.lifetime && meter.lifetime->published(totals) ? totals : LifetimeTotals{};
    };
    sources.status = [&meter] { return meterStatus(meter); };
    meter.mqtt = std::make_unique<MqttPublisher>(mqtt, sources);
    if (!meter.mqtt->start(error)) {
        fprintf(stderr, "qmhost: no MQTT: %s\n", error.c_str());
        meter.mqtt.reset();
        return;
    }
    const std::string where = options.mqttUrl.substr(0, options.mqttUrl.find("://") + 3) +
                              mqtt.connection.url.host + ":" + std::to_string(mqtt.connection.url.port) +
                              ", topics " + meter.mqtt->topics().topic("#");
    printf("qmhost: MQTT: %s\n", where.c_str());
}

// The Modbus server when asked for; one that cannot listen leaves the meter
// running without it, and says so.
void startModbus(Meter& meter, const RunOptions& options) {
    if (options.modbusAddress.empty()) return;
    std::string host, error;
    int port = 0;
    parseWebAddress(options.modbusAddress, host, port, error);  // checked on the command line
    MeterSources sources;
    sources.pModule = &meter.session.module();
    if (meter.lifetime)
        sources.lifetime = [&meter](LifetimeTotals& totals) { return meter.lifetime->published(totals); };
    sources.health = [&meter] {
        const MeasurementStatus measurement = meter.health.get();
        const RecorderCounts recorder = meter.recorder->counts();
        return MeterHealth{measurement.bMeasuring, measurement.bChipAnswering, recorder.bRecording,
                           recorder.dropped(), measurement.ulLimitStatusBits};
    };
    const auto uUnit = static_cast<uint8_t>(options.nModbusUnit);
    meter.modbusImages =
        std::make_unique<RegisterImageCache>(sources, MeterIdentity{meter.serialNumber, QM_VERSION, uUnit});
    meter.modbus = std::make_unique<ModbusServer>(*meter.modbusImages, uUnit);
    if (!meter.modbus->start(host, port, error)) {
        fprintf(stderr, "qmhost: no Modbus: cannot listen on %s: %s\n", options.modbusAddress.c_str(),
                error.c_str());
        meter.modbus.reset();
        return;
    }
    const std::string where = host + ":" + std::to_string(meter.modbus->port());
    meter.modbusLine = "Modbus: " + where + ", unit " + std::to_string(options.nModbusUnit);
    printf("qmhost: %s\n", meter.modbusLine.c_str());
    if (beyondLoopback(host))
        fprintf(stderr,
                "qmhost: warning: Modbus listens beyond this board (%s): anyone on the network reads the "
                "meter, Modbus has no password\n",
                where.c_str());
}

// "connected, 3 queued, 120 delivered, 0 dropped" and the latest failure.
std::string mqttSummary(const MqttPublisher& mqtt) {
    const MqttCounts counts = mqtt.counts();
    return std::string("MQTT: ") + (counts.bConnected ? "connected" : "not connected") + ", " +
           std::to_string(counts.ullQueued) + " queued, " + std::to_string(counts.ullDelivered) +
           " delivered, " + std::to_string(counts.ullDropped) + " dropped" +
           (counts.lastError.empty() ? "" : "; " + counts.lastError);
}

// The periodic line: the live view each second, or with --log a line of
// progress every --log-interval.
class ProgressReport {
public:
    void print(Meter& meter, const RunOptions& options, double dSeconds, uint64_t ullRecords) {
        MeasSOM& module = meter.session.module();
        if (!options.bLog) {
            fputs(renderLiveView(module, *meter.block, meter.recorder->counts(), dSeconds, meter.boardLine)
                      .c_str(),
                  stdout);
            printf("  %s\n", meter.moduleLine.c_str());
            if (!meter.webLine.empty()) printf("  %s\n", meter.webLine.c_str());
            if (meter.mqtt) printf("  %s\n", mqttSummary(*meter.mqtt).c_str());
            if (!meter.modbusLine.empty()) printf("  %s\n", meter.modbusLine.c_str());
            return;
        }
        const PublishedRecord published = readPublished(*meter.block);
        printf("t=%6.1f s  records: %4.0f/s  ring: next %4u  V A %.2f  windows %u\n", dSeconds,
               static_cast<double>(ullRecords - m_ullLastRecords) / (dSeconds - m_dLastSeconds),
               published.unNextIn, published.record.m_fJournal[jrnl_VRMS_A],
               meter.recorder->counts().unWindows);
        m_ullLastRecords = ullRecords;
        m_dLastSeconds = dSeconds;
    }

private:
    uint64_t m_ullLastRecords = 0;
    double m_dLastSeconds = 0;
};

// The devices the real board lacks, as a clause for the line that says the
// meter is not measuring; empty on the simulated board or when all are there.
std::string missingDevicesClause() {
    if (!boardFunctions().missingDevices) return "";
    char szList[512] = {};
    if (boardFunctions().missingDevices(szList, sizeof(szList)) <= 0) return "";
    return std::string("; missing: ") + szList;
}

// Says what the watch found when it changes: on standard error, which the
// service's journal keeps, and to the service manager.
void tellMeasuring(const MeasuringState& state, const RunOptions& options, ServiceNotifier& service) {
    if (state.fault == MeasuringFault::None) {
        fprintf(stderr, "qmhost: measuring again\n");
        service.status("measuring");
        return;
    }
    const std::string what = std::string(describeFault(state.fault)) + missingDevicesClause();
    fprintf(stderr, "qmhost: not measuring: %s; exiting in %.0f s unless it recovers\n", what.c_str(),
            options.dGraceSeconds);
    service.status("not measuring: " + what);
}

// The measurement's health for the page, once a second: records made over
// the last second, the chip's answer and what the watch found.
class HealthReport {
public:
    // Until the first second is over the page says the meter is starting,
    // with what the chip said at the start.
    HealthReport(Meter& meter, uint64_t ullStartMicros)
        : m_ullStart(ullStartMicros), m_ullLast(ullStartMicros) {
        MeasurementStatus status;
        status.bChipAnswering = (meter.block->s_unSignalValidFlags & SIGNAL_CHIP_NOT_ANSWERING) == 0;
        meter.health.set(status);
    }
    void update(Meter& meter, uint64_t ullNow, const MeasuringState& state, uint64_t ullRecords) {
        if (ullNow - m_ullLast < REPORT_MICROS) return;
        MeasurementStatus status;
        status.dRecordsPerSecond =
            static_cast<double>(ullRecords - m_ullRecords) * 1e6 / static_cast<double>(ullNow - m_ullLast);
        status.bMeasuring = state.fault == MeasuringFault::None;
        status.fault = status.bMeasuring ? "" : describeFault(state.fault);
        status.bChipAnswering = (meter.block->s_unSignalValidFlags & SIGNAL_CHIP_NOT_ANSWERING) == 0;
        status.dUptimeSeconds = static_cast<double>(ullNow - m_ullStart) / 1e6;
        status.ulLimitStatusBits = meter.block->s_ulLimitStatusBits;
        meter.health.set(status);
        m_ullLast = ullNow;
        m_ullRecords = ullRecords;
    }

private:
    uint64_t m_ullStart, m_ullLast, m_ullRecords = 0;
};

// The host's loop: process, the recorder's note, the watch on the
// measurement, a report each second (or --log-interval) and the console's
// keys, until a signal, "q" or --seconds. False when it gave up because the
// meter did not measure for the grace period.
bool runUntilStopped(Meter& meter, const RunOptions& options, SimulatedLine* pFastLine) {
    MeasSOM& module = meter.session.module();
    ProgressReport report;
    ServiceNotifier service;
    // On virtual time every time of the loop is the simulated board's.
    const auto now = [pFastLine] { return pFastLine ? pFastLine->nowMicros() : steadyMicros(); };
    const uint64_t ullStart = now();
    const uint64_t ullReportMicros =
        options.bLog ? static_cast<uint64_t>(options.dLogSeconds * 1e6) : REPORT_MICROS;
    uint64_t ullNextReport = ullStart + ullReportMicros;
    MeasuringWatch watch({5000000, static_cast<uint64_t>(options.dGraceSeconds * 1e6)}, ullStart,
                         meter.block->s_unAcqBufferNextIn);
    HealthReport health(meter, ullStart);
    while (!g_bStop) {
        module.process();
        meter.recorder->afterProcess();
        if (pFastLine) {  // virtual time waits for the ring's readers, as real time would
            meter.recorder->pace();
            if (meter.pq) meter.pq->pace();
        }
        const uint64_t ullNow = now();
        if (meter.lifetime) meter.lifetime->afterProcess(module, *meter.block, static_cast<int64_t>(ullNow));
        const MeasuringState state =
            watch.look(ullNow, meter.block->s_unAcqBufferNextIn, meter.block->s_unSignalValidFlags);
        if (state.bFaultChanged) tellMeasuring(state, options, service);
        health.update(meter, ullNow, state, watch.records());
        if (state.bReady) service.ready("measuring");
        if (state.bRecording) service.watchdog(ullNow);
        if (state.bGiveUp) {
            fprintf(
                stderr,
                "qmhost: not measuring for %.0f s (%s): stopping, for the service manager to restart it\n",
                options.dGraceSeconds, describeFault(state.fault));
            return false;
        }
        if (ullNow >= ullNextReport) {
            report.print(meter, options, static_cast<double>(ullNow - ullStart) / 1e6, watch.records());
            ullNextReport += ullReportMicros;
        }
        const std::string command = pendingCommand();
        if (command == "q") break;
        if (command == "j") printReport(module, REQ_JSON_VALUES, "JSON values (request 11)");
        if (command == "s") printReport(module, REQ_SCALED_JSON, "scaled JSON values (request 6)");
        if (command == "r") printReport(module, REQ_REGLIST, "register list (request 8)");
        if (options.dSeconds > 0 && static_cast<double>(ullNow - ullStart) >= options.dSeconds * 1e6) break;
        if (pFastLine)
            pFastLine->advance(FAST_STEP_MICROS);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    service.stopping();
    return true;
}

// No request reaches the module once it stops; the recorder writes what the
// module left it.
int stopMeter(Meter& meter, bool bMeasured) {
    if (meter.web) meter.web->stop();
    if (meter.modbus) meter.modbus->stop();
    if (meter.mqtt) {
        meter.mqtt->stop();
        printf("qmhost: %s\n", mqttSummary(*meter.mqtt).c_str());
    }
    meter.session.end();
    meter.recorder->stop();
    if (meter.pq) {
        meter.pq->stop();  // what is in progress stored as incomplete
        const PqCounts pq = meter.pq->counts();
        printf(
            "qmhost: power quality: %llu records analysed, %llu lost, %llu breaks; %llu rows stored, %llu "
            "dropped\n",
            static_cast<unsigned long long>(pq.ullRecordsAnalysed),
            static_cast<unsigned long long>(pq.ullRecordsLost), static_cast<unsigned long long>(pq.ullBreaks),
            static_cast<unsigned long long>(pq.ullRowsWritten),
            static_cast<unsigned long long>(pq.ullRowsDropped));
    }
    LifetimeTotals lifetime;
    if (meter.lifetime) meter.lifetime->stop();  // what the loop counted last, saved
    if (meter.lifetime && meter.lifetime->published(lifetime))
        printf("qmhost: lifetime energy saved: %.3f Wh imported, %.3f Wh exported\n",
               lifetime.values[life_WH_IMPORT_TOT], lifetime.values[life_WH_EXPORT_TOT]);
    const RecorderCounts counts = meter.recorder->counts();
    printf("qmhost: stopped; %u recording windows, %lu records and %u intervals stored, %u dropped\n",
           counts.unWindows, counts.ulRecords, counts.unIntervals, counts.dropped());
    return bMeasured ? TOOL_OK : TOOL_FAILED;
}

int runMeter(const HostOptions& host, const RunOptions& options) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    const std::string appDir = appDirectory();
    MDT mdt(*boardFunctions().i2cDeviceOps());  // read from the module's EEPROM for the module
    Meter meter;
    meter.configFile = appDir + "/QM9000.json";
    std::string eepromSource;
    try {
        if (host.pLine) prepareSimulatedBoard(*host.pLine, options, mdt, meter.configFile, eepromSource);
    } catch (const std::exception& e) {
        return toolFailed("the simulated board", e.what());
    }
    meter.moduleLine = setUpModuleTable(mdt, eepromSource);
    meter.serialNumber = readSerialNumber(mdt);
    SimulatedLine* pFastLine = options.bFast ? host.pLine : nullptr;
    const uint64_t ullScenarioStart = host.pLine ? host.pLine->nowMicros() : 0;
    if (pFastLine) {
        // The week is last week's, a minute early, so its report is there at its end.
        const int64_t llRealNow = hostWallMicros();
        g_virtualWall = {pFastLine, ullScenarioStart,
                         options.scenario == "week"
                             ? pq::lastWeekStart(llRealNow) - WEEK_LEAD_SECONDS * pq::SECOND_MICROS
                             : llRealNow};
        setHostWallClock(virtualWallMicros);
        printf("qmhost: on virtual time from %s\n", isoOfMicros(g_virtualWall.llWallOrigin).c_str());
    } else if (host.pLine) {
        host.pLine->runInRealTime();
    }

    std::string failure;
    if (!meter.session.create(host.pluginPath(), failure)) return toolFailed(failure);
    fillBlock(meter, options, appDir);
    // The meter runs from its application directory, where "Init9000.json" is.
    if (chdir(appDir.c_str()) != 0)
        fprintf(stderr, "qmhost: %s: cannot enter it: %s\n", appDir.c_str(), strerror(errno));
    if (!meter.session.start(meter.configFile, &mdt, *meter.block, true, failure)) return toolFailed(failure);
    meter.boardLine = host.pLine ? "simulated board, scenario " + options.scenario : "real board";
    printf("qmhost: module %d running, %s; Ctrl-C stops\n", meter.session.module().nSOM_ID,
           meter.boardLine.c_str());
    if (host.pLine)
        host.pLine->scheduleScenario(
            options.scenario, pFastLine ? ullScenarioStart : host.pLine->nowMicros(),
            options.scenario == "week" ? (WEEK_SECONDS + 2 * WEEK_LEAD_SECONDS) * 1000000 : 0);

    startRecorder(meter, options, pFastLine);
    startPowerQuality(meter, options, pFastLine);
    startLifetimeEnergy(meter, options);
    startMqtt(meter, options);
    startModbus(meter, options);  // its line before the web page's: whoever waits for that one finds both
    startWeb(meter, options);
    const bool bMeasured = runUntilStopped(meter, options, pFastLine);
    return stopMeter(meter, bMeasured);
}

}  // namespace

ToolAction addRunCommand(CLI::App& command, HostOptions& host) {
    // --web and --modbus: where a server listens.
    const CLI::Validator listeningAddress = acceptedBy(
        [](const std::string& text) {
            std::string address, error;
            int port = 0;
            return parseWebAddress(text, address, port, error);
        },
        "[ADDRESS:]PORT with a port from 0 to 65535");
    auto options = std::make_shared<RunOptions>();
    command.footer(
        "Runs the measurement module until Ctrl-C (or for --seconds) and shows a live view,\n"
        "refreshed once a second; --log prints one line a second (or --log-interval) instead.\n"
        "Keys + Enter while it runs: j, s = the module's JSON values, r = its register list,\n"
        "q = quit. When the meter is not measuring (no half-cycle records for 5 s, SPI\n"
        "failing, the chip not answering) it says which on standard error and, still so after\n"
        "--grace seconds, exits with status 1; under systemd it reports ready once it\n"
        "measures and feeds the service's watchdog while records are made.\n"
        "On the simulated board the line follows a scenario, and the module's EEPROM is the\n"
        "image file <appdir>/eeprom.bin when there is one (--eeprom names another); a blank\n"
        "one gets the simulated module's page, the module's default page or nothing\n"
        "(--blank-eeprom). QM_APP_DIR overrides the application directory.");
    command.add_option("--seconds", options->dSeconds, "Stop after this many seconds (default: at Ctrl-C)")
        ->type_name("N")
        ->check(nonNegativeNumber());
    command.add_flag("--log", options->bLog, "One line a second instead of the live view");
    command.add_option("--log-interval", options->dLogSeconds, "Seconds between --log's lines (1)")
        ->type_name("SECONDS")
        ->check(CLI::PositiveNumber);
    command
        .add_option(
            "--grace", options->dGraceSeconds,
            "Exit (status 1) when not measuring for this many seconds (30), so a service manager restarts it")
        ->type_name("SECONDS")
        ->check(nonNegativeNumber());
    command.add_option("--db", options->database, "The event database (default: <appdir>/qm9000.db)")
        ->type_name("PATH");
    command
        .add_option("--interruption", options->dInterruptionPercent,
                    "Interruption below, % of nominal (5); dips and swells follow the configuration")
        ->type_name("PERCENT")
        ->check(nonNegativeNumber());
    const struct {
        const char* pszName;
        double* pdValue;
        double dLow, dHigh;
        const char* pszHelp;
    } pqThresholds[] = {
        {"--pq-dip-percent", &options->pq.dDipPercent, 50, 95,
         "Power quality: a dip below, % of nominal (90)"},
        {"--pq-swell-percent", &options->pq.dSwellPercent, 105, 200,
         "Power quality: a swell above, % of nominal (110)"},
        {"--pq-interruption-percent", &options->pq.dInterruptionPercent, 1, 50,
         "Power quality: an interruption with every phase below, % of nominal (5)"},
        {"--pq-rvc-percent", &options->pq.dRvcPercent, 1, 6,
         "Power quality: a rapid voltage change leaves a band of this, % of nominal (3)"},
    };
    for (const auto& threshold : pqThresholds)
        command.add_option(threshold.pszName, *threshold.pdValue, threshold.pszHelp)
            ->type_name("PERCENT")
            ->check(CLI::Range(threshold.dLow, threshold.dHigh));
    command
        .add_option("--db-max-mb", options->llDatabaseMegabytes,
                    "Keep the event database within this many MiB (1024): beyond, the oldest events' records "
                    "and then the oldest snapshots are deleted")
        ->type_name("MIB")
        ->check(CLI::Range(int64_t{1}, int64_t{1} << 30));
    command
        .add_option("--max-snapshots", options->nMaxSnapshots, "Waveform snapshots kept from the page (500)")
        ->type_name("N")
        ->check(CLI::Range(1, 1 << 30));
    command
        .add_option("--web", options->webAddress,
                    "Serve the web page on [ADDRESS:]PORT (127.0.0.1 when only a port is given)")
        ->type_name("[ADDRESS:]PORT")
        ->check(listeningAddress);
    command
        .add_option("--web-token", options->webToken,
                    "The web page's token beyond the loopback, made there at the first start (default: "
                    "<appdir>/web-token, mode 0600); clients send \"Authorization: Bearer <token>\"")
        ->type_name("FILE");
    command.add_flag("--web-open", options->bWebOpen,
                     "Beyond the loopback, reading the page needs no token (changing it still does)");
    command
        .add_option("--mqtt", options->mqttUrl,
                    "Publish to the MQTT broker at this URL (QoS 1; topics qm9000/<meter id>/...)")
        ->type_name("mqtt[s]://[USER:PASSWORD@]HOST[:PORT]")
        ->check(CLI::Validator(
            [](std::string& text) {
                MqttUrl url;
                std::string error;
                return parseMqttUrl(text, url, error) ? std::string() : error;
            },
            ""));
    command
        .add_option("--mqtt-ca", options->mqttCaFile, "mqtts: the CA certificates (default: the system's)")
        ->type_name("FILE")
        ->check(CLI::ExistingFile);
    command
        .add_option(
            "--mqtt-id", options->mqttId,
            "The meter's id in its topics (default: the module's serial number, else the host's name)")
        ->type_name("ID");
    command
        .add_option("--mqtt-discovery", options->mqttDiscovery,
                    "Home Assistant's discovery messages (on with json); off removes them from the broker")
        ->check(CLI::IsMember({"on", "off"}));
    command
        .add_option("--mqtt-format", options->mqttFormat,
                    "The payloads: json (default) or influx (line protocol)")
        ->check(CLI::IsMember({"json", "influx"}));
    command
        .add_option("--modbus", options->modbusAddress,
                    "Serve Modbus TCP on [ADDRESS:]PORT (127.0.0.1 when only a port is given; read-only, "
                    "the registers: qmhost modbus-map)")
        ->type_name("[ADDRESS:]PORT")
        ->check(listeningAddress);
    command
        .add_option("--modbus-unit", options->nModbusUnit,
                    "The Modbus unit id answered (1); 0 and 255 are answered too, as gateways send them")
        ->type_name("ID")
        ->check(CLI::Range(0, 255));
    addPluginOption(command, host);
    command
        .add_option("--scenario", options->scenario,
                    std::string("What happens on the simulated line: ") + scenarioNames())
        ->type_name("NAME")
        ->check(acceptedBy(isScenario, "a scenario"))
        ->group(SIMULATED_BOARD_ONLY);
    command
        .add_flag("--fast", options->bFast,
                  "Run the simulated line on virtual time, as fast as the computer goes; --seconds then "
                  "counts simulated seconds")
        ->group(SIMULATED_BOARD_ONLY);
    command
        .add_option("--eeprom", options->eepromImage, "The EEPROM image file (default: <appdir>/eeprom.bin)")
        ->type_name("PATH")
        ->group(SIMULATED_BOARD_ONLY);
    command.add_option("--blank-eeprom", options->blankPage, "What a blank EEPROM gets (default: module)")
        ->check(CLI::IsMember({"module", "default", "none"}))
        ->group(SIMULATED_BOARD_ONLY);
    return [&host, options] { return runMeter(host, *options); };
}
