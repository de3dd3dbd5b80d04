// The module's CPU cost per half-cycle and per realtime request, and the SPI
// traffic one record needs, measured against an instant board.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "HostBlock.h"
#include "NullBoard.h"
#include "QM9000.h"

namespace {

// A module bound to a block and measuring; its start-up messages go to /dev/null.
struct RunningModule {
    RunningModule() : nSavedStdout(silenceStdout()), block(makeHostBlock()) {
        module.initialize("/nonexistent/QM9000.json", nullptr, block.get());
        module.updateConfig("/nonexistent/QM9000.json");
        module.m_unWiring = 3;
        fflush(stdout);
        dup2(nSavedStdout, STDOUT_FILENO);  // the report's own output again
        close(nSavedStdout);
    }
    static int silenceStdout() {
        fflush(stdout);
        const int nSaved = dup(STDOUT_FILENO), nNull = open("/dev/null", O_WRONLY);
        dup2(nNull, STDOUT_FILENO);
        close(nNull);
        return nSaved;
    }
    // One accepted interrupt 20 ms after the last, then the process call it opens.
    void halfCycle() {
        nullboard::g_ulMicros += 20000;
        isrIRQ1();
        module.process();
    }
    int nSavedStdout;  // first: the module prints from its constructor on
    HostBlockPtr block;
    QM9000 module;
};

void BM_ProcessHalfCycle(benchmark::State& state) {
    RunningModule running;
    running.halfCycle();  // the ring now holds frequencies, so angles are read too
    const nullboard::Traffic before = nullboard::g_traffic;
    for (auto _ : state) running.halfCycle();
    const auto perRecord = [&](uint64_t ullCount) { return double(ullCount) / double(state.iterations()); };
    state.counters["spi_bytes_per_record"] = perRecord(nullboard::g_traffic.ullBytes - before.ullBytes);
    state.counters["spi_frames_per_record"] = perRecord(nullboard::g_traffic.ullFrames - before.ullFrames);
}
BENCHMARK(BM_ProcessHalfCycle);

void BM_ProcessIdle(benchmark::State& state) {
    RunningModule running;
    for (auto _ : state) {
        nullboard::g_ulMicros += 1000;
        running.module.process();
    }
}
BENCHMARK(BM_ProcessIdle);

void BM_RealtimeRequest(benchmark::State& state) {
    RunningModule running;
    running.halfCycle();
    running.halfCycle();
    const int nType = static_cast<int>(state.range(0));
    std::vector<uint8_t> buffer(16384);
    for (auto _ : state) {
        if (nType == 1) running.module.m_bWaveformUpdated = true;  // a captured set is waiting
        benchmark::DoNotOptimize(
            running.module.realtimeGet(nType, buffer.data(), static_cast<uint32_t>(buffer.size())));
    }
}
BENCHMARK(BM_RealtimeRequest)->Arg(0)->Arg(1)->Arg(2)->Arg(5)->Arg(6)->Arg(10)->Arg(11)->Arg(13);

}  // namespace

BENCHMARK_MAIN();
