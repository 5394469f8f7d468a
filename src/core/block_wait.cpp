// The blocking wait and its signal.
#include "core/block_wait.h"

#include <tcl.h>

namespace zm {
namespace {

struct WaitSlots {
    int32_t* result = nullptr;
    int32_t* second = nullptr;
};

WaitSlots& current() {
    static WaitSlots slots;
    return slots;
}

uint64_t& signal_count() {
    static uint64_t count = 0;
    return count;
}

}  // namespace

int32_t block_wait(int32_t* result, int32_t* second) {
    WaitSlots saved = current();
    current() = {result, second};
    *result = 0;
    if (second) *second = 0;
    while (*result == 0) Tcl_DoOneEvent(TCL_ALL_EVENTS);
    int32_t value = *result;
    current() = saved;
    return value;
}

void block_signal(int32_t value, int32_t second) {
    ++signal_count();
    WaitSlots& s = current();
    if (s.result) *s.result = value;
    if (s.second) *s.second = second;
}

bool block_active() { return current().result != nullptr; }

uint64_t block_signal_count() { return signal_count(); }

}  // namespace zm
