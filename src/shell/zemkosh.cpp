// zemkosh: tclsh with the zemko extension already initialised.
#include <tcl.h>

#include "core/groups.h"

namespace {

int app_init(Tcl_Interp* interp) {
    if (Tcl_Init(interp) != TCL_OK) return TCL_ERROR;
    if (Zemko_Init(interp) != TCL_OK) return TCL_ERROR;
    Tcl_StaticPackage(interp, "zemko", Zemko_Init, nullptr);
    Tcl_SetVar(interp, "tcl_rcFileName", "~/.zemkoshrc", TCL_GLOBAL_ONLY);
    return TCL_OK;
}

}  // namespace

int main(int argc, char** argv) {
    Tcl_Main(argc, argv, app_init);
    return 0;
}
