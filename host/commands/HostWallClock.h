// The wall clock of the qmhost process, the module's included: the system's,
// unless a run on virtual time (--fast) sets its own. qmhost defines time()
// and gettimeofday() on it (WallClockOverride.cpp, in the executable only),
// so the module's time stamps and intervals follow the simulated line.
#pragma once

#include <cstdint>

// Microseconds since the epoch; null restores the system's clock.
using WallClockSource = int64_t (*)();
void setHostWallClock(WallClockSource source);
WallClockSource hostWallClock();
// The wall clock as the process sees it.
int64_t hostWallMicros();
