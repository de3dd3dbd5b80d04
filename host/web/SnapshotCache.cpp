#include "SnapshotCache.h"

#include "LiveSnapshot.h"

SnapshotCache::SnapshotCache(MeasSOM& module, std::chrono::milliseconds) : m_module(module) {}

bool SnapshotCache::latest(StoredSnapshot& snapshot, std::string& why) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (takeSnapshot(m_module, snapshot, std::chrono::milliseconds(1500))) return true;
    why = "no waveform snapshot from the module; try again";
    return false;
}
