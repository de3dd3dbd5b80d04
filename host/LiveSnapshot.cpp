#include "LiveSnapshot.h"

#include <thread>

#include "JournalTables.h"

namespace {
constexpr int REQUEST_REARM = 7, REQUEST_SCOPE = 1, REQUEST_VANDI = 0, RESULT_OK = 0;
constexpr std::chrono::milliseconds POLL{10};
}  // namespace

bool takeSnapshot(MeasSOM& module, StoredSnapshot& snapshot, std::chrono::milliseconds wait) {
    float afSamples[SNAPSHOT_CHANNELS * SNAPSHOT_SAMPLES];
    if (module.realtimeGet(REQUEST_REARM, nullptr, 0) != RESULT_OK) return false;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (module.realtimeGet(REQUEST_SCOPE, afSamples, sizeof(afSamples)) != RESULT_OK) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(POLL);
    }
    float afValues[jrnl_NUM_REGS] = {};
    module.realtimeGet(REQUEST_VANDI, afValues, sizeof(afValues));
    snapshot.llId = 0;
    snapshot.llTimeMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    snapshot.dFrequency = afValues[jrnl_FREQ_A];
    for (int c = 0; c < SNAPSHOT_CHANNELS; c++)
        for (int i = 0; i < SNAPSHOT_SAMPLES; i++)
            snapshot.samples[c][i] = afSamples[c * SNAPSHOT_SAMPLES + i];
    return true;
}
