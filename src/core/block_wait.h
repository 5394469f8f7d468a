// The blocking wait: runs the host event loop until a handler signals it.
#pragma once
#include <cstdint>

namespace zm {

// The values that end a blocking wait (a script's zemko_unblock may send
// any other non-zero value).
enum BlockSignal : int32_t {
    kSignalMatched = 1,              // a packet matched `receive`; the frame number comes second
    kSignalReceiveTimeout = 314154,  // `receive` timed out
    kSignalSendDelay = 314145,       // a `pktsend` delay expired
    kSignalStop = 271828,            // the interface's `stop`, or its deletion during a receive
};

// Waits (processing events) until *result becomes non-zero; *second, when
// given, receives the signal's second value. Waits nest: a signal reaches
// the innermost active wait only. Returns the final *result.
int32_t block_wait(int32_t* result, int32_t* second);
// Stores the values into the innermost wait's slots; 0 does not end a wait.
void block_signal(int32_t value, int32_t second);
// True while some wait is active.
bool block_active();
// Counts every block_signal call: a change tells a loop that some wait has
// been signalled and its script should run before more work is done.
uint64_t block_signal_count();

}  // namespace zm
