#include "HostWallClock.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<WallClockSource> g_source{nullptr};
}  // namespace

void setHostWallClock(WallClockSource source) {
    g_source = source;
}

WallClockSource hostWallClock() {
    return g_source.load();
}

int64_t hostWallMicros() {
    if (const WallClockSource source = hostWallClock()) return source();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}
