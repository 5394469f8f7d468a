// Time differences, timestamp parsing, local civil time and buffer seconds.
#include "core/timeutil.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

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

bool parse_timestamp(const char* text, int64_t* sec, uint32_t* usec) {
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
    *sec = local_epoch_seconds(year, mon, day, hour, minute, second);
    *usec = static_cast<uint32_t>(std::clamp(millis, 0L, 999L) * 1000);
    return true;
}

bool parse_timestamp(const char* text, TimeVal* out) {
    int64_t sec = 0;
    uint32_t usec = 0;
    if (!parse_timestamp(text, &sec, &usec)) return false;
    out->sec = static_cast<int32_t>(sec);
    out->usec = static_cast<int32_t>(usec);
    return true;
}

void time_now(int64_t* sec, uint32_t* usec) {
    timeval now{};
    gettimeofday(&now, nullptr);
    *sec = now.tv_sec;
    *usec = static_cast<uint32_t>(now.tv_usec);
}

std::tm local_civil_time(int64_t secs) {
    std::time_t t = static_cast<std::time_t>(secs);
    std::tm tmv{};
    localtime_r(&t, &tmv);
    return tmv;
}

int64_t local_epoch_seconds(int year_since_1900, int month0, int day, int hour, int minute, int second) {
    std::tm tmv{};
    tmv.tm_year = year_since_1900;
    tmv.tm_mon = month0;
    tmv.tm_mday = day;
    tmv.tm_hour = hour;
    tmv.tm_min = minute;
    tmv.tm_sec = second;
    tmv.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tmv));
}

uint32_t clamp_seconds(int64_t secs) {
    if (secs < 0) return 0;
    if (secs > int64_t{std::numeric_limits<uint32_t>::max()}) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(secs);
}

uint32_t buffer_seconds(int64_t secs, bool* clamped) {
    int64_t held = std::clamp<int64_t>(secs, 1, std::numeric_limits<uint32_t>::max());
    *clamped = held != secs;
    return static_cast<uint32_t>(held);
}

}  // namespace zm
