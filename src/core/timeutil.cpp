// Time differences and timestamp parsing.
#include "core/timeutil.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace zm {

void time_delta(TimeVal* previous, const TimeVal& now, TimeVal* delta) {
    if (previous->sec == 0 && previous->usec == 0) {
        *delta = TimeVal{};
    } else {
        delta->sec = now.sec - previous->sec;
        delta->usec = now.usec - previous->usec;
        if (delta->usec < 0) {
            delta->usec += 1000000;
            delta->sec -= 1;
        }
    }
    *previous = now;
}

bool parse_timestamp(const char* text, TimeVal* out) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char month[4] = {0, 0, 0, 0};
    int n = std::sscanf(text, "%d-%3c-%d:%d:%d:%d", &day, month, &year, &hour, &minute, &second);
    if (n < 6) return false;
    int mon = 0;
    for (int i = 0; i < 12; ++i)
        if (std::strncmp(month, kMonths[i], 3) == 0) mon = i;
    long millis = 0;
    if (const char* dot = std::strchr(text, '.')) std::sscanf(dot, ".%03ld", &millis);
    std::tm tmv{};
    tmv.tm_mday = day;
    tmv.tm_mon = mon;
    tmv.tm_year = year;
    tmv.tm_hour = hour;
    tmv.tm_min = minute;
    tmv.tm_sec = second;
    tmv.tm_isdst = -1;
    out->sec = static_cast<int32_t>(std::mktime(&tmv));
    out->usec = static_cast<int32_t>(millis * 1000);
    return true;
}

}  // namespace zm
