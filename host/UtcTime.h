// Wall-clock microseconds since the epoch as UTC calendar fields. Computed
// on 64-bit integers, not through time_t, which is 32 bits on the board.
#pragma once

#include <cstdint>

struct UtcTime {
    int64_t year;
    int month, day, hour, minute, second, microsecond;
};

UtcTime utcOfMicros(int64_t llMicros);
