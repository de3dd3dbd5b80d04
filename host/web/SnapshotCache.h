// Placeholder until the shared capture is merged: the waveform snapshot the
// page is served. This stub captures anew for every call, one at a time.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "MeasSOM.h"
#include "StoredEvent.h"

class SnapshotCache {
public:
    SnapshotCache(MeasSOM& module, std::chrono::milliseconds period);
    bool latest(StoredSnapshot& snapshot, std::string& why);

private:
    MeasSOM& m_module;
    std::mutex m_mutex;
};
