// qmhost's time() and gettimeofday(), which the plug-in resolves to before the
// C library's: the host's wall clock (HostWallClock.h). Linked into the
// executable only, never into a library a test links.
#include <sys/time.h>

#include <ctime>

#include "HostWallClock.h"

extern "C" {

int gettimeofday(struct timeval* __restrict tv, void* __restrict) noexcept {
    const int64_t llMicros = hostWallMicros();
    tv->tv_sec = static_cast<time_t>(llMicros / 1000000);
    tv->tv_usec = static_cast<suseconds_t>(llMicros % 1000000);
    return 0;
}

time_t time(time_t* pt) noexcept {
    const time_t tt = static_cast<time_t>(hostWallMicros() / 1000000);
    if (pt) *pt = tt;
    return tt;
}
}
