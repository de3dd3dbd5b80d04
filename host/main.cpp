// The reference host: loads QM9000.so as the meter's host application does,
// owns the shared block, drives the module against the simulated board in real
// time and shows what it produces.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "HostBlock.h"
#include "PluginLoader.h"
#include "Sim.h"

namespace {

volatile std::sig_atomic_t g_bStop = 0;

void onSignal(int) {
    g_bStop = 1;
}

struct Options {
    std::string plugin = QM_PLUGIN_PATH;
    std::string appDir = "/home/kesh/marivel/App";
    double dSeconds = 0;  // 0: until Ctrl-C
    double dLineHertz = 50.0;
};

void usage() {
    puts(
        "usage: qmhost [--seconds N] [--plugin PATH] [--hz F]\r\n"
        "  Runs the measurement module against the simulated board until Ctrl-C\r\n"
        "  (or for N seconds). QM_APP_DIR overrides the application directory.");
}

bool parse(int argc, char** argv, Options& options) {
    if (const char* pszAppDir = getenv("QM_APP_DIR")) options.appDir = pszAppDir;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (arg == "--seconds" && bHasValue)
            options.dSeconds = atof(argv[++i]);
        else if (arg == "--plugin" && bHasValue)
            options.plugin = argv[++i];
        else if (arg == "--hz" && bHasValue)
            options.dLineHertz = atof(argv[++i]);
        else
            return false;
    }
    return true;
}

void copyText(char* pszDest, size_t size, const std::string& text) {
    snprintf(pszDest, size, "%s", text.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    sim::reset();
    sim::setLineFrequency(options.dLineHertz);
    sim::setSpiLogLimit(1000);  // a long run keeps only the latest frames
    sim::setClockMode(sim::ClockMode::RealTime);

    PluginLoader loader;
    if (!loader.open(options.plugin)) {
        fprintf(stderr, "qmhost: cannot load %s: %s\n", options.plugin.c_str(), loader.error().c_str());
        return 1;
    }
    HostBlockPtr block = makeHostBlock();
    const std::string configFile = options.appDir + "/QM9000.json";
    copyText(block->s_pszActiveConfig, sizeof(block->s_pszActiveConfig), configFile);
    copyText(block->s_pszActiveCal, sizeof(block->s_pszActiveCal), options.appDir + "/Cal9000.json");

    MeasSOM* pModule = loader.create();
    pModule->initialize(configFile.c_str(), nullptr, block.get());
    pModule->updateConfig(configFile.c_str());
    pModule->monitorStart();
    printf("qmhost: module %d running, line %.2f Hz; Ctrl-C stops\r\n", pModule->nSOM_ID, options.dLineHertz);

    const uint64_t ullStart = sim::nowMicros();
    uint64_t ullNextReport = ullStart + 1000000;
    unsigned long ulRecords = 0;
    uint16_t unLastNextIn = block->s_unAcqBufferNextIn;
    while (!g_bStop) {
        pModule->process();
        const uint64_t ullNow = sim::nowMicros();
        if (ullNow >= ullNextReport) {
            const PublishedRecord published = readPublished(*block);
            const uint16_t unProduced = static_cast<uint16_t>(published.unNextIn - unLastNextIn);
            unLastNextIn = published.unNextIn;
            ulRecords += unProduced;
            printf("t=%6.1f s  records: %4u/s (%lu total)  ring: next %4u, newest %4u at %u.%06u\r\n",
                   (ullNow - ullStart) / 1e6, unProduced, ulRecords, published.unNextIn, published.unIndex,
                   published.record.m_tvSeconds, published.record.m_tvMicroSeconds);
            ullNextReport += 1000000;
        }
        if (options.dSeconds > 0 && ullNow - ullStart >= options.dSeconds * 1e6) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    pModule->monitorStop();
    // Stop the board's interrupt thread before the module and its ISR go away.
    sim::setClockMode(sim::ClockMode::Virtual);
    loader.destroy(pModule);
    printf("qmhost: stopped after %lu records\r\n", ulRecords);
    return 0;
}
