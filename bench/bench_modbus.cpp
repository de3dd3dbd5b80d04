// The Modbus server's cost: a register image made (what the server spends
// each 100 ms at most), and model 213 read by 1 and 8 clients at once, with
// how often the module is asked meanwhile (at most twice per image, however
// many clients). QM_MODBUS_PORT=N reads a running `qmhost run --log --modbus
// 127.0.0.1:N` instead, whose records a second show what the load costs the
// measurement.
#include <benchmark/benchmark.h>
#include <modbus/modbus.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "ModbusServer.h"
#include "RegisterImageCache.h"

namespace {

struct CountingModule : MeasSOM {
    std::atomic<unsigned> unReads{0};
    int realtimeGet(int, void* pvResult, uint32_t ulMaxResult) override {
        unReads++;
        memset(pvResult, 0x43, ulMaxResult);
        return REQ_OK;
    }
};

struct Served {
    CountingModule module;
    RegisterImageCache images{MeterSources{&module, {}, {}}, MeterIdentity{"1", "1.0.0", 1}};
    ModbusServer server{images, 1};
    int port = 0;
    Served() {
        std::string error;
        const char* pszPort = getenv("QM_MODBUS_PORT");
        port = pszPort ? atoi(pszPort) : server.start("127.0.0.1", 0, error) ? server.port() : 0;
    }
};

Served& served() {
    static Served s;
    return s;
}

void BM_RegisterImage(benchmark::State& state) {
    CountingModule module;
    for (auto _ : state)
        benchmark::DoNotOptimize(RegisterImage(readMeter({&module, {}, {}}), {"1", "1.0.0", 1}));
}
BENCHMARK(BM_RegisterImage);

void BM_ReadMeterModel(benchmark::State& state) {
    modbus_t* pClient = modbus_new_tcp("127.0.0.1", served().port);
    if (modbus_connect(pClient) != 0) state.SkipWithError("no Modbus server");
    const unsigned unReadsBefore = served().module.unReads;
    const auto started = std::chrono::steady_clock::now();
    uint16_t unWords[124];
    for (auto _ : state)
        if (modbus_read_registers(pClient, 40072, 124, unWords) != 124) state.SkipWithError("a read failed");
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0)
        state.counters["module_reads_per_s"] =
            (served().module.unReads - unReadsBefore) /
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    modbus_close(pClient);
    modbus_free(pClient);
}
BENCHMARK(BM_ReadMeterModel)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
