// The reference host: loads QM9000.so as the meter's host application does,
// owns the shared block, drives the module against the simulated board in real
// time and shows what it measures.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "AppFiles.h"
#include "BoardScale.h"
#include "HostBlock.h"
#include "LiveView.h"
#include "ModuleTable.h"
#include "PluginLoader.h"
#include "RecordingWriter.h"
#include "Scenarios.h"
#include "Sim.h"
#include "Tools.h"

namespace {

volatile std::sig_atomic_t g_bStop = 0;

void onSignal(int) {
    g_bStop = 1;
}

struct Options {
    std::string plugin = QM_PLUGIN_PATH;
    std::string appDir = appDirectory();
    std::string scenario = "steady";
    double dSeconds = 0;  // 0: until Ctrl-C
    bool bLiveView = true;
    std::string eepromImage;  // empty: <appDir>/eeprom.bin if there is one, else memory only
    BlankEepromPage blankPage = BlankEepromPage::SimulatedModule;
};

void usage() {
    printf(
        "usage: qmhost [--seconds N] [--scenario NAME] [--log] [--plugin PATH] [--eeprom PATH]\r\n"
        "              [--blank-eeprom module|default|none]\r\n"
        "       qmhost calibrate ...   the calibration bench (qmhost calibrate --help)\r\n"
        "       qmhost mdt ...         the module description table (qmhost mdt --help)\r\n"
        "  Runs the measurement module against the simulated board until Ctrl-C\r\n"
        "  (or for N seconds) and shows a live view, refreshed once a second.\r\n"
        "  Scenarios: %s. --log prints one line a second instead of the view.\r\n"
        "  The module's EEPROM is the image file <appdir>/eeprom.bin when there is one\r\n"
        "  (--eeprom names another); a blank one gets the simulated module's page,\r\n"
        "  the module's default page or nothing (--blank-eeprom).\r\n"
        "  QM_APP_DIR overrides the application directory.\r\n",
        scenarioNames());
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (arg == "--seconds" && bHasValue)
            options.dSeconds = atof(argv[++i]);
        else if (arg == "--plugin" && bHasValue)
            options.plugin = argv[++i];
        else if (arg == "--scenario" && bHasValue && isScenario(argv[i + 1]))
            options.scenario = argv[++i];
        else if (arg == "--log")
            options.bLiveView = false;
        else if (arg == "--eeprom" && bHasValue)
            options.eepromImage = argv[++i];
        else if (arg == "--blank-eeprom" && bHasValue && parseBlankEepromPage(argv[i + 1], options.blankPage))
            i++;
        else
            return false;
    }
    return true;
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
        printf("---- %s ----\r\n%s\r\n", pszTitle, szText);
    else
        printf("---- %s: not available ----\r\n", pszTitle);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "calibrate") == 0) return calibrateTool(argc - 1, argv + 1);
    if (argc > 1 && strcmp(argv[1], "mdt") == 0) return mdtTool(argc - 1, argv + 1);

    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    sim::reset();
    sim::setSpiLogLimit(1000);  // a long run keeps only the latest frames
    // The module's description table, read from its EEPROM (on the virtual
    // clock, so the EEPROM's write cycles take no real time) for the module.
    MDT mdt(sim::i2cDeviceOps());
    const std::string moduleLine = setUpModuleTable(mdt, options.eepromImage, options.blankPage);
    sim::setClockMode(sim::ClockMode::RealTime);

    PluginLoader loader;
    if (!loader.open(options.plugin)) {
        fprintf(stderr, "qmhost: cannot load %s: %s\n", options.plugin.c_str(), loader.error().c_str());
        return 1;
    }
    HostBlockPtr block = makeHostBlock();
    const std::unique_ptr<CfgProbe> probes = loadCfgProbe();
    block->s_pCfgProbe = probes.get();
    const std::string configFile = options.appDir + "/QM9000.json";
    copyText(block->s_pszActiveConfig, sizeof(block->s_pszActiveConfig), configFile);
    copyText(block->s_pszActiveCal, sizeof(block->s_pszActiveCal), options.appDir + "/Cal9000.json");

    BoardScale scale{sim::fullScaleVolts(), sim::fullScaleAmps()};
    if (readBoardScale(configFile, scale) && scale.dVolts > 0 && scale.dAmps > 0)
        sim::setFullScale(scale.dVolts, scale.dAmps);
    // The meter runs from its application directory, where "Init9000.json" is.
    if (chdir(options.appDir.c_str()) != 0) printf("qmhost: cannot enter %s\r\n", options.appDir.c_str());

    MeasSOM* pModule = loader.create();
    pModule->initialize(configFile.c_str(), &mdt, block.get());
    pModule->updateConfig(configFile.c_str());
    pModule->monitorStart();
    printf("qmhost: module %d running, scenario %s; Ctrl-C stops\r\n", pModule->nSOM_ID,
           options.scenario.c_str());

    const uint64_t ullStart = sim::nowMicros();
    scheduleScenario(options.scenario, ullStart, 0);
    RecordingWriter writer(*block);
    uint64_t ullNextReport = ullStart + 1000000;
    uint16_t unLastNextIn = block->s_unAcqBufferNextIn;
    while (!g_bStop) {
        pModule->process();
        writer.drain();
        const uint64_t ullNow = sim::nowMicros();
        if (ullNow >= ullNextReport) {
            const double dSeconds = (ullNow - ullStart) / 1e6;
            if (options.bLiveView) {
                fputs(renderLiveView(*pModule, *block, writer, dSeconds, options.scenario).c_str(), stdout);
                printf("  %s\r\n", moduleLine.c_str());
            } else {
                const PublishedRecord published = readPublished(*block);
                printf("t=%6.1f s  records: %4u/s  ring: next %4u  V A %.2f  windows %u\r\n", dSeconds,
                       static_cast<uint16_t>(published.unNextIn - unLastNextIn), published.unNextIn,
                       published.record.m_fJournal[jrnl_VRMS_A], writer.windows());
                unLastNextIn = published.unNextIn;
            }
            ullNextReport += 1000000;
        }
        const std::string command = pendingCommand();
        if (command == "q") break;
        if (command == "j") printReport(*pModule, 11, "JSON values (request 11)");
        if (command == "s") printReport(*pModule, 6, "scaled JSON values (request 6)");
        if (command == "r") printReport(*pModule, 8, "register list (request 8)");
        if (options.dSeconds > 0 && ullNow - ullStart >= options.dSeconds * 1e6) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    pModule->monitorStop();
    // Stop the board's interrupt thread before the module and its ISR go away.
    sim::setClockMode(sim::ClockMode::Virtual);
    loader.destroy(pModule);
    printf("qmhost: stopped; %u recording windows, %lu records written\r\n", writer.windows(),
           writer.records());
    return 0;
}
