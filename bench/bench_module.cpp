// The module's CPU cost per half-cycle and per realtime request, and the SPI
// traffic one record needs, measured against an instant board.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "HostBlock.h"
#include "NullBoard.h"
#include "QM9000.h"

namespace {

// Silences the module's start-up messages, then gives stdout back to the report.
class QuietStdout {
public:
    QuietStdout() : m_nSaved(dup(STDOUT_FILENO)) {
        fflush(stdout);
        const int nNull = open("/dev/null", O_WRONLY);
        dup2(nNull, STDOUT_FILENO);
        close(nNull);
    }
    ~QuietStdout() { restore(); }
    void restore() {
        if (m_nSaved < 0) return;
        fflush(stdout);
        dup2(m_nSaved, STDOUT_FILENO);
        close(m_nSaved);
        m_nSaved = -1;
    }

private:
    int m_nSaved;
};

// A module bound to a block and measuring.
struct RunningModule {
    RunningModule() : block(makeHostBlock()) {
        module.initialize("/nonexistent/QM9000.json", nullptr, block.get());
        module.updateConfig("/nonexistent/QM9000.json");
        module.m_unWiring = 3;
        quiet.restore();
    }
    // One accepted interrupt 20 ms after the last, then the process call it opens.
    void halfCycle() {
        nullboard::advanceMicros(20000);
        isrIRQ1();
        module.process();
    }
    QuietStdout quiet;  // first: the module prints from its constructor on
    HostBlockPtr block;
    QM9000 module;
};

void BM_ProcessHalfCycle(benchmark::State& state) {
    RunningModule running;
    running.halfCycle();  // the ring now holds frequencies, so angles are read too
    const uint64_t ullBytesBefore = nullboard::spiBytes();
    const uint64_t ullFramesBefore = nullboard::spiFrames();
    for (auto _ : state) running.halfCycle();
    state.counters["spi_bytes_per_record"] =
        static_cast<double>(nullboard::spiBytes() - ullBytesBefore) / static_cast<double>(state.iterations());
    state.counters["spi_frames_per_record"] = static_cast<double>(nullboard::spiFrames() - ullFramesBefore) /
                                              static_cast<double>(state.iterations());
}
BENCHMARK(BM_ProcessHalfCycle);

void BM_ProcessIdle(benchmark::State& state) {
    RunningModule running;
    for (auto _ : state) {
        nullboard::advanceMicros(1000);
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
        if (nType == 1) {
            running.module.m_bWaveformUpdated = true;  // a captured set is waiting
        }
        benchmark::DoNotOptimize(
            running.module.realtimeGet(nType, buffer.data(), static_cast<uint32_t>(buffer.size())));
    }
}
BENCHMARK(BM_RealtimeRequest)->Arg(0)->Arg(1)->Arg(2)->Arg(5)->Arg(6)->Arg(10)->Arg(11)->Arg(13);

}  // namespace

BENCHMARK_MAIN();
