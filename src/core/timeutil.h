// Time values: differences between frames, timestamp text, local civil time, buffer seconds.
#pragma once
#include <cstdint>
#include <ctime>

namespace zm {

struct TimeVal {
    int32_t sec = 0;
    int32_t usec = 0;
};

// delta = now - previous (zero when previous is all zero); previous becomes now.
void time_delta(TimeVal* previous, const TimeVal& now, TimeVal* delta);

// "day-Mon-yy:hh:mm:ss.mmm" (year as years since 1900) in local time.
// Returns false when the text does not have that form.
bool parse_timestamp(const char* text, TimeVal* out);
// The same, as 64-bit seconds since the epoch (dates outside 1901..2038 kept)
// and microseconds.
bool parse_timestamp(const char* text, int64_t* sec, uint32_t* usec);

// The time now, as seconds since the epoch and microseconds.
void time_now(int64_t* sec, uint32_t* usec);

// Local civil time of `secs` since the epoch.
std::tm local_civil_time(int64_t secs);
// Seconds since the epoch of a local civil time; the library decides daylight
// saving. Out-of-range fields are normalised.
int64_t local_epoch_seconds(int year_since_1900, int month0, int day, int hour, int minute, int second);
// Clamps a time to 0 .. 2^32-1 (a 32-bit seconds field of a file format).
uint32_t clamp_seconds(int64_t secs);
// A time for a packet buffer's seconds field, which holds 1 .. 2^32-1
// seconds since the epoch (0 means "not stamped", so a time at or before the
// epoch becomes 1). `*clamped` tells whether the time had to change.
uint32_t buffer_seconds(int64_t secs, bool* clamped);

}  // namespace zm
