// The module's CPU cost per half-cycle and realtime request, and the SPI traffic per
// record, against a board answering at once with a fixed, plausible measurement.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "BoardIO.h"
#include "HostBlock.h"
#include "QM9000.h"

namespace {
uint32_t g_ulMicros = 1000000;  // the board's clock: advanced by hand
uint64_t g_ullBytes = 0, g_ullFrames = 0;

void putWord(unsigned char* p, uint32_t ulValue) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(ulValue >> (24 - 8 * i));
}

int silenceStdout() {  // returns the descriptor to restore
    fflush(stdout);
    const int nSaved = dup(STDOUT_FILENO), nNull = open("/dev/null", O_WRONLY);
    dup2(nNull, STDOUT_FILENO);
    close(nNull);
    return nSaved;
}

struct RunningModule {  // bound to a block and measuring; start-up messages go to /dev/null
    RunningModule() : nSavedStdout(silenceStdout()), block(makeHostBlock()) {
        module.initialize("/nonexistent/QM9000.json", nullptr, block.get());
        module.updateConfig("/nonexistent/QM9000.json");
        module.m_unWiring = 3;
        fflush(stdout);
        dup2(nSavedStdout, STDOUT_FILENO);
        close(nSavedStdout);
    }
    void halfCycle() {  // one accepted interrupt 20 ms after the last, then its process call
        g_ulMicros += 20000;
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
    const uint64_t ullBytes = g_ullBytes, ullFrames = g_ullFrames;
    for (auto _ : state) running.halfCycle();
    state.counters["spi_bytes_per_record"] = double(g_ullBytes - ullBytes) / double(state.iterations());
    state.counters["spi_frames_per_record"] = double(g_ullFrames - ullFrames) / double(state.iterations());
}
BENCHMARK(BM_ProcessHalfCycle);

void BM_ProcessIdle(benchmark::State& state) {
    RunningModule running;
    for (auto _ : state) {
        g_ulMicros += 1000;
        running.module.process();
    }
}
BENCHMARK(BM_ProcessIdle);

void BM_RealtimeRequest(benchmark::State& state) {
    RunningModule running;
    for (int i = 0; i < 2; i++) running.halfCycle();
    for (int i = 0; i < jrnl_MAX; i++)  // plain names, as a description table gives them
        snprintf(running.module.m_pszJrnlName[i], sizeof(running.module.m_pszJrnlName[i]),
                 "Journal value %d (phase A)", i);
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

extern "C" {
int wiringPiSPISetup(int, int) {
    return 3;
}
int wiringPiSPIDataRW(int, unsigned char* data, int len) {
    g_ullBytes += static_cast<uint64_t>(len);
    g_ullFrames++;
    if ((data[1] & 0x08) == 0) return len;  // a write
    if (len == 246) {
        for (int k = 0; k < 61; k++)  // mid-scale: every word converts to a finite, non-zero value
            putWord(data + 2 + 4 * k, 0x01000000u + static_cast<uint32_t>(k));
    } else if (len == 8) {
        const unsigned unAddress = (static_cast<unsigned>(data[0]) << 4) | (data[1] >> 4);
        // Nothing pending in the status words, a 50 Hz period elsewhere.
        putWord(data + 2, unAddress == 0x402 || unAddress == 0x403 ? 0 : 10485759);
    } else {
        memset(data + 2, 0, static_cast<size_t>(len - 2));
        if (len == 6) data[2] = 0x10;
    }
    return len;
}
int wiringPiISR(int, int, void (*)(void)) {
    return 0;
}
void pinMode(int, int) {}
void digitalWrite(int, int) {}
unsigned int millis(void) {
    return g_ulMicros / 1000;
}
unsigned int micros(void) {
    return g_ulMicros;
}
void delay(unsigned int ms) {
    g_ulMicros += ms * 1000;
}
void delayMicroseconds(unsigned int us) {
    g_ulMicros += us;
}
int I2Cbegin(void) {
    return -1;
}
void I2Cend(void) {}
}

BENCHMARK_MAIN();
