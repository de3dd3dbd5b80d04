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

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t daysOfDate(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
}

// `count` digits at `pos` as a number; false when they are not all digits.
bool digits(const std::string& text, size_t pos, size_t count, int64_t& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (size_t i = pos; i < pos + count; i++) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

bool microsOfTimeText(const std::string& text, int64_t& llMicros) {
    const size_t sign = !text.empty() && text[0] == '-';
    if (text.size() > sign && text.size() <= 18 &&
        text.find_first_not_of("0123456789", sign) == std::string::npos) {
        llMicros = std::stoll(text);
        return true;
    }
    int64_t year, month, day, hour = 0, minute = 0, second = 0, micros = 0;
    if (!digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !digits(text, 5, 2, month) ||
        text[7] != '-' || !digits(text, 8, 2, day) || month < 1 || month > 12 || day < 1)
        return false;
    size_t pos = 10;
    if (pos < text.size()) {
        if (text[pos] != 'T' || !digits(text, 11, 2, hour) || text.size() < 19 || text[13] != ':' ||
            !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second) || hour > 23 ||
            minute > 59 || second > 59)
            return false;
        pos = 19;
        if (pos < text.size() && text[pos] == '.') {
            size_t count = 0;
            while (pos + 1 + count < text.size() && text[pos + 1 + count] >= '0' &&
                   text[pos + 1 + count] <= '9')
                count++;
            if (count == 0 || count > 6 || !digits(text, pos + 1, count, micros)) return false;
            for (size_t i = count; i < 6; i++) micros *= 10;
            pos += 1 + count;
        }
        if (pos < text.size() && text[pos] == 'Z') pos++;
        if (pos != text.size()) return false;
    }
    const int64_t days = daysOfDate(year, static_cast<int>(month), static_cast<int>(day));
    if (utcOfMicros(days * MICROS_PER_DAY).day != day) return false;  // the 30th of February
    llMicros = ((days * 24 + hour) * 60 + minute) * 60 * 1000000 + second * 1000000 + micros;
    return true;
}
