#include "UtcTime.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr int64_t MICROS_PER_DAY = 86400LL * 1000000;

}  // namespace

UtcTime utcOfMicros(int64_t llMicros) {
    // Times before the epoch fall on the day before, not after.
    int64_t days = llMicros / MICROS_PER_DAY, inDay = llMicros % MICROS_PER_DAY;
    if (inDay < 0) {
        inDay += MICROS_PER_DAY;
        days--;
    }
    // Gregorian calendar in 400-year eras from 1 March 0000, with each year
    // starting in March so that the leap day is the last day of its year.
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    UtcTime t;
    t.day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    t.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    t.year = yearOfEra + era * 400 + (t.month <= 2);
    const int64_t seconds = inDay / 1000000;
    t.hour = static_cast<int>(seconds / 3600);
    t.minute = static_cast<int>(seconds / 60 % 60);
    t.second = static_cast<int>(seconds % 60);
    t.microsecond = static_cast<int>(inDay % 1000000);
    return t;
}

std::string isoOfMicros(int64_t llMicros) {
    const UtcTime t = utcOfMicros(llMicros);
    char text[64];
    std::snprintf(text, sizeof text, "%04" PRId64 "-%02d-%02dT%02d:%02d:%02d.%06dZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.microsecond);
    return text;
}
