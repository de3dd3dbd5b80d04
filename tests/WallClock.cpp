#include "WallClock.h"

#include <sys/time.h>

#include <ctime>

#include "Sim.h"

extern "C" {

int gettimeofday(struct timeval* __restrict tv, void* __restrict) noexcept {
    if (sim::clockMode() == sim::ClockMode::RealTime) {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        tv->tv_sec = ts.tv_sec;
        tv->tv_usec = ts.tv_nsec / 1000;
        return 0;
    }
    int64_t llSeconds = 0, llMicros = 0;
    sim::wallClock(llSeconds, llMicros);
    tv->tv_sec = static_cast<time_t>(llSeconds);
    tv->tv_usec = static_cast<suseconds_t>(llMicros);
    return 0;
}

time_t time(time_t* pt) noexcept {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    if (pt) *pt = tv.tv_sec;
    return tv.tv_sec;
}
}
