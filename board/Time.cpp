// Board functions of QMCommon/BoardIO.h (one source per device).
// Time from the monotonic clock: unsigned 32-bit counts that wrap as the
// module expects, and delays that never return early.
#include <cerrno>
#include <cstdint>

#include "BoardIO.h"
#include "System.h"

namespace {

uint64_t nowNanos() {
    timespec now{};
    board::sys().clockGettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

// Sleeps to an absolute deadline, so a signal that cuts a sleep short only
// resumes it.
void sleepNanos(uint64_t ullNanos) {
    const uint64_t ullDeadline = nowNanos() + ullNanos;
    const timespec deadline{static_cast<time_t>(ullDeadline / 1000000000ull),
                            static_cast<long>(ullDeadline % 1000000000ull)};
    while (board::sys().clockNanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace

unsigned int millis(void) {
    return static_cast<unsigned int>(nowNanos() / 1000000);
}

unsigned int micros(void) {
    return static_cast<unsigned int>(nowNanos() / 1000);
}

void delay(unsigned int howLong) {
    sleepNanos(uint64_t{howLong} * 1000000);
}

void delayMicroseconds(unsigned int howLong) {
    sleepNanos(uint64_t{howLong} * 1000);
}
