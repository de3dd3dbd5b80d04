// `qmhost run`: the live meter. Owns the shared block, hands the module its
// description table, drives it in real time and shows what it measures, on
// the simulated board (with a scripted line) or the real one.
#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "AppFiles.h"
#include "BoardScale.h"
#include "HostBlock.h"
#include "HostLibraries.h"
#include "LiveView.h"
#include "ModuleTable.h"
#include "OptionChecks.h"
#include "PluginLoader.h"
#include "Recorder.h"
#include "Scenarios.h"
#include "Sim.h"
#include "SimulatedEeprom.h"
#include "Tools.h"
#include "WebServer.h"

namespace {

constexpr uint64_t REPORT_MICROS = 1000000;

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
    VoltageThresholds thresholds;
    std::string webAddress;  // empty: no web page
};

uint64_t steadyMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
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
    if (module.realtimeGet(nType, szText, sizeof(szText)) == 0)
        printf("---- %s ----\n%s\n", pszTitle, szText);
    else
        printf("---- %s: not available ----\n", pszTitle);
}

// The simulated board before the module starts: its EEPROM (image file, a
// page on a blank one) and the full scale the configuration states.
void prepareSimulatedBoard(const RunOptions& options, MDT& mdt, const std::string& configFile,
                           std::string& eepromSource) {
    sim::reset();
    sim::setSpiLogLimit(1000);  // a long run keeps only the latest frames
    // On the virtual clock, so the EEPROM's write cycles take no real time.
    eepromSource = attachSimulatedEeprom(options.eepromImage);
    BlankEepromPage blankPage = BlankEepromPage::SimulatedModule;
    parseBlankEepromPage(options.blankPage, blankPage);
    installOnBlankEeprom(mdt, blankPage);
    BoardScale scale{sim::fullScaleVolts(), sim::fullScaleAmps()};
    if (readBoardScale(configFile, scale) && scale.dVolts > 0 && scale.dAmps > 0)
        sim::setFullScale(scale.dVolts, scale.dAmps);
}

int runMeter(const HostOptions& host, const RunOptions& options) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    const bool bSimulated = host.board == Board::Simulated;
    const std::string appDir = appDirectory();
    const std::string configFile = appDir + "/QM9000.json";

    // The module's description table, read from its EEPROM for the module.
    MDT mdt(*boardFunctions().i2cDeviceOps());
    std::string eepromSource;
    try {
        if (bSimulated) prepareSimulatedBoard(options, mdt, configFile, eepromSource);
    } catch (const std::exception& e) {
        fprintf(stderr, "qmhost: the simulated board refuses it: %s\n", e.what());
        return 1;
    }
    const std::string moduleLine = setUpModuleTable(mdt, eepromSource);
    if (bSimulated) sim::setClockMode(sim::ClockMode::RealTime);

    PluginLoader loader;
    const std::string plugin = host.pluginPath();
    if (!loader.open(plugin)) {
        fprintf(stderr, "qmhost: cannot load %s: %s\n", plugin.c_str(), loader.error().c_str());
        boardFunctions().stopInterrupts();
        return 1;
    }
    HostBlockPtr block = makeHostBlock();
    const std::unique_ptr<CfgProbe> probes = loadCfgProbe();
    block->s_pCfgProbe = probes.get();
    copyText(block->s_pszActiveConfig, sizeof(block->s_pszActiveConfig), configFile);
    copyText(block->s_pszActiveCal, sizeof(block->s_pszActiveCal), appDir + "/Cal9000.json");
    // The meter runs from its application directory, where "Init9000.json" is.
    if (chdir(appDir.c_str()) != 0) printf("qmhost: cannot enter %s\n", appDir.c_str());

    MeasSOM* pModule = loader.create();
    pModule->initialize(configFile.c_str(), &mdt, block.get());
    pModule->updateConfig(configFile.c_str());
    pModule->monitorStart();
    const std::string boardLine = bSimulated ? "simulated board, scenario " + options.scenario : "real board";
    printf("qmhost: module %d running, %s; Ctrl-C stops\n", pModule->nSOM_ID, boardLine.c_str());

    if (bSimulated) scheduleScenario(options.scenario, sim::nowMicros(), 0);
    if (!options.database.empty())
        copyText(block->s_pszActiveDB, sizeof(block->s_pszActiveDB), options.database);
    VoltageThresholds thresholds = options.thresholds;
    BoardScale configured;
    if (readBoardScale(configFile, configured) && configured.dNominalVolts > 0)
        thresholds.dNominalVolts = configured.dNominalVolts;
    Recorder recorder(*block, thresholds);
    std::string error;
    if (recorder.open(Recorder::databasePath(*block), error))
        recorder.start();
    else
        printf("qmhost: nothing is recorded: %s\n", error.c_str());
    WebServer web(*pModule, Recorder::databasePath(*block), hostDataDirectory("web"));
    std::string webLine;
    if (!options.webAddress.empty()) {
        if (web.start(options.webAddress, error))
            webLine = "web page: " + web.url();
        else
            printf("qmhost: no web page: %s\n", error.c_str());
        if (hostDataDirectory("web").empty()) printf("qmhost: the web page's files are not installed\n");
        if (!webLine.empty()) printf("qmhost: %s\n", webLine.c_str());
    }
    const uint64_t ullStart = steadyMicros();
    uint64_t ullNextReport = ullStart + REPORT_MICROS;
    uint16_t unLastNextIn = block->s_unAcqBufferNextIn;
    while (!g_bStop) {
        pModule->process();
        recorder.afterProcess();
        const uint64_t ullNow = steadyMicros();
        if (ullNow >= ullNextReport) {
            const double dSeconds = static_cast<double>(ullNow - ullStart) / 1e6;
            if (!options.bLog) {
                fputs(renderLiveView(*pModule, *block, recorder.counts(), dSeconds, boardLine).c_str(),
                      stdout);
                printf("  %s\n", moduleLine.c_str());
                if (!webLine.empty()) printf("  %s\n", webLine.c_str());
            } else {
                const PublishedRecord published = readPublished(*block);
                printf("t=%6.1f s  records: %4u/s  ring: next %4u  V A %.2f  windows %u\n", dSeconds,
                       static_cast<unsigned>((published.unNextIn + ACQ_BUFFER_RECORDS - unLastNextIn) %
                                             ACQ_BUFFER_RECORDS),
                       published.unNextIn, published.record.m_fJournal[jrnl_VRMS_A],
                       recorder.counts().unWindows);
                unLastNextIn = published.unNextIn;
            }
            ullNextReport += REPORT_MICROS;
        }
        const std::string command = pendingCommand();
        if (command == "q") break;
        if (command == "j") printReport(*pModule, 11, "JSON values (request 11)");
        if (command == "s") printReport(*pModule, 6, "scaled JSON values (request 6)");
        if (command == "r") printReport(*pModule, 8, "register list (request 8)");
        if (options.dSeconds > 0 && static_cast<double>(ullNow - ullStart) >= options.dSeconds * 1e6) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    web.stop();  // no request may reach the module once it stops
    pModule->monitorStop();
    boardFunctions().stopInterrupts();  // before the module and its ISR go away
    loader.destroy(pModule);
    recorder.stop();
    const RecorderCounts counts = recorder.counts();
    printf("qmhost: stopped; %u recording windows, %lu records and %u intervals stored, %u dropped\n",
           counts.unWindows, counts.ulRecords, counts.unIntervals, counts.unDropped);
    return 0;
}

}  // namespace

ToolAction addRunCommand(CLI::App& command, HostOptions& host) {
    auto options = std::make_shared<RunOptions>();
    command.footer(
        "Runs the measurement module until Ctrl-C (or for --seconds) and shows a live view,\n"
        "refreshed once a second; --log prints one line a second instead. Keys + Enter while\n"
        "it runs: j, s = the module's JSON values, r = its register list, q = quit.\n"
        "On the simulated board the line follows a scenario, and the module's EEPROM is the\n"
        "image file <appdir>/eeprom.bin when there is one (--eeprom names another); a blank\n"
        "one gets the simulated module's page, the module's default page or nothing\n"
        "(--blank-eeprom). QM_APP_DIR overrides the application directory.");
    command.add_option("--seconds", options->dSeconds, "Stop after this many seconds (default: at Ctrl-C)")
        ->type_name("N")
        ->check(nonNegativeNumber());
    command.add_flag("--log", options->bLog, "One line a second instead of the live view");
    command.add_option("--db", options->database, "The event database (default: <appdir>/qm9000.db)")
        ->type_name("PATH");
    const struct {
        const char* pszName;
        double* pdPercent;
        const char* pszHelp;
    } thresholds[] = {
        {"--interruption", &options->thresholds.dInterruptionPercent, "Interruption below, % of nominal (5)"},
        {"--dip", &options->thresholds.dDipPercent, "Dip below, % of nominal (90)"},
        {"--swell", &options->thresholds.dSwellPercent, "Swell above, % of nominal (110)"},
    };
    for (const auto& threshold : thresholds)
        command.add_option(threshold.pszName, *threshold.pdPercent, threshold.pszHelp)
            ->type_name("PERCENT")
            ->check(nonNegativeNumber());
    command
        .add_option("--web", options->webAddress,
                    "Serve the web page on [ADDRESS:]PORT (127.0.0.1 when only a port is given)")
        ->type_name("[ADDRESS:]PORT")
        ->check(acceptedBy(
            [](const std::string& text) {
                std::string host, error;
                int port = 0;
                return parseWebAddress(text, host, port, error);
            },
            "[ADDRESS:]PORT with a port from 0 to 65535"));
    addPluginOption(command, host);
    command
        .add_option("--scenario", options->scenario,
                    std::string("What happens on the simulated line: ") + scenarioNames())
        ->type_name("NAME")
        ->check(acceptedBy(isScenario, "a scenario"))
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
