// Time values: differences between frames and the saved-packet timestamp text.
#pragma once
#include <cstdint>

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

}  // namespace zm
