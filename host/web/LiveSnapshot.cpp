#include "LiveSnapshot.h"

#include <thread>

#include "JournalTables.h"
#include "Requests.h"

namespace {
constexpr std::chrono::milliseconds POLL{10};
}  // namespace

bool takeSnapshot(MeasSOM& module, StoredSnapshot& snapshot, std::chrono::milliseconds wait) {
    float afSamples[SNAPSHOT_CHANNELS * SNAPSHOT_SAMPLES];
    if (module.realtimeGet(REQ_SCOPE_ARM, nullptr, 0) != REQ_OK) return false;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (module.realtimeGet(REQ_SCOPE, afSamples, sizeof(afSamples)) != REQ_OK) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(POLL);
    }
    float afValues[VANDI_FLOATS] = {};
    module.realtimeGet(REQ_VANDI, afValues, sizeof(afValues));
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
