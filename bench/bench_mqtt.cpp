// The MQTT publisher's CPU cost per second of measurement: a state message
// formatted (JSON, Influx), and a message through the outbox (queued, then
// removed on its acknowledgement) in a database on the local disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include "MqttOutbox.h"
#include "MqttPayloads.h"

namespace {

void BM_StateMessage(benchmark::State& state) {
    const MqttPayloads payloads(state.range(0) ? MqttFormat::Influx : MqttFormat::Json, "meter-1");
    StateReading reading{1700000000000000, {}};
    for (int i = 0; i < jrnl_MAX; i++) reading.journal[i] = 230.0f + 0.37f * static_cast<float>(i);
    for (auto _ : state) benchmark::DoNotOptimize(payloads.state(reading));
}
BENCHMARK(BM_StateMessage)->Arg(0)->Arg(1);

void BM_OutboxQueuedAndAcknowledged(benchmark::State& state) {
    char szPath[] = "/tmp/bench_mqtt_XXXXXX";
    close(mkstemp(szPath));
    MqttOutbox outbox;
    std::string error;
    if (!outbox.open(szPath, MqttOutbox::DEFAULT_MAX_MESSAGES, error)) state.SkipWithError(error.c_str());
    const OutboxMessage energy{0, 1, {"qm9000/meter-1/energy", std::string(600, 'x'), true}};
    std::vector<OutboxMessage> next;
    size_t dropped = 0;
    for (auto _ : state) {
        outbox.queue({energy}, outbox.cursor(), dropped, error);
        outbox.next(0, 1, next, error);
        outbox.remove(next.at(0).llId, error);
    }
    for (const char* pszSuffix : {"", "-wal", "-shm"}) unlink((szPath + std::string(pszSuffix)).c_str());
}
BENCHMARK(BM_OutboxQueuedAndAcknowledged);

}  // namespace
