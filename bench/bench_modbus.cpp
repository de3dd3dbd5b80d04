// The Modbus server: an image made (its work each 100 ms at most), model 213
// read by 1 and 8 clients, and how often the module is asked meanwhile.
// QM_MODBUS_PORT=N reads a running `qmhost run --log --modbus 127.0.0.1:N`.
#include <benchmark/benchmark.h>
#include <modbus/modbus.h>

#include <atomic>
#include <chrono>
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
} g_module;
RegisterImageCache g_images{{&g_module, {}, {}}, {"1", "1.0.0", 1}};

int serverPort() {
    static ModbusServer server(g_images, 1);
    static std::string error;
    static const int port = getenv("QM_MODBUS_PORT")              ? atoi(getenv("QM_MODBUS_PORT"))
                            : server.start("127.0.0.1", 0, error) ? server.port()
                                                                  : 0;
    return port;
}

void BM_RegisterImage(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(RegisterImage(readMeter({&g_module, {}, {}}), {"1", "1", 1}));
}
BENCHMARK(BM_RegisterImage);

void BM_ReadMeterModel(benchmark::State& state) {
    modbus_t* pClient = modbus_new_tcp("127.0.0.1", serverPort());
    if (modbus_connect(pClient) != 0) state.SkipWithError("no Modbus server");
    const unsigned unReadsBefore = g_module.unReads;
    const auto started = std::chrono::steady_clock::now();
    uint16_t unWords[124];
    for (auto _ : state)
        if (modbus_read_registers(pClient, 40072, 124, unWords) != 124) state.SkipWithError("a read failed");
    state.SetItemsProcessed(state.iterations());
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    if (state.thread_index() == 0)
        state.counters["module_reads_per_s"] = (g_module.unReads - unReadsBefore) / seconds.count();
    modbus_close(pClient);
    modbus_free(pClient);
}
BENCHMARK(BM_ReadMeterModel)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
