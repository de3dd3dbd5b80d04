// Wall-clock microseconds since the epoch as UTC calendar fields. Computed
// on 64-bit integers, not through time_t, which is 32 bits on the board.
#pragma once

#include <cstdint>
#include <string>

struct UtcTime {
    int64_t year;
    int month, day, hour, minute, second, microsecond;
};

UtcTime utcOfMicros(int64_t llMicros);

// ISO 8601 in UTC with microseconds: "2024-02-29T23:59:59.995000Z".
std::string isoOfMicros(int64_t llMicros);

// The moment "2024-02-29T23:59:59.995Z" names (a date alone is its midnight,
// up to six digits of a second, "Z" or none; UTC), or a whole number of
// microseconds since the epoch. False for anything else, a day that does not
// exist included.
bool microsOfTimeText(const std::string& text, int64_t& llMicros);
