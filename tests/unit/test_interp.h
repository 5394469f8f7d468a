// A Tcl interpreter for unit tests that need one, with the stub table set up.
#pragma once
#include <tcl.h>

// The library code calls Tcl through the stub table: fill it from the stub
// library, not through the non-stub macro.
#undef Tcl_InitStubs

inline Tcl_Interp* zm_test_interp() {
    static Tcl_Interp* interp = [] {
        Tcl_FindExecutable(nullptr);
        Tcl_Interp* i = Tcl_CreateInterp();
        Tcl_InitStubs(i, "8.6", 0);
        return i;
    }();
    return interp;
}
