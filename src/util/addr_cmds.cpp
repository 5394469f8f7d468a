// Address conversion commands: addr_to_bin, bin_to_addr, canonical_swap.
#include <tcl.h>

#include <exception>
#include <string>

#include "core/groups.h"
#include "core/report.h"
#include "util/addr.h"

namespace zm {
namespace {

constexpr const char* kModule = "addr_util";

using Converter = bool (*)(std::string_view, int, std::string*);

int finish(Tcl_Interp* interp, int line, bool ok, const std::string& text) {
    if (!ok) {
        report(interp, kModule, line, LOG_WARNING, "%s", text.c_str());
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_OK;
}

// addr_to_bin and bin_to_addr: address ?family?, family 2 (IPv4) by default.
int convert(Converter fn, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    try {
        if (objc < 2) {
            report(interp, kModule, __LINE__, LOG_WARNING, "Usage:  %s <address> <address_family>",
                   Tcl_GetString(objv[0]));
            return TCL_ERROR;
        }
        int family = kAddrFamilyIpv4;
        if (objc > 2 && Tcl_GetIntFromObj(interp, objv[2], &family) != TCL_OK) return TCL_ERROR;
        std::string out;
        bool ok = fn(Tcl_GetString(objv[1]), family, &out);
        return finish(interp, __LINE__, ok, out);
    } catch (const std::exception& e) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s failed: %s", Tcl_GetString(objv[0]),
               e.what());
        return TCL_ERROR;
    }
}

int cmd_addr_to_bin(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    return convert(addr_to_bin, interp, objc, objv);
}

int cmd_bin_to_addr(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    return convert(bin_to_addr, interp, objc, objv);
}

int cmd_canonical_swap(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    try {
        if (objc < 2) {
            report(interp, kModule, __LINE__, LOG_WARNING, "Usage:  %s <mac_address> <case>",
                   Tcl_GetString(objv[0]));
            return TCL_ERROR;
        }
        int upper = 0;
        if (objc > 2 && Tcl_GetIntFromObj(interp, objv[2], &upper) != TCL_OK) return TCL_ERROR;
        std::string out;
        bool ok = canonical_swap(Tcl_GetString(objv[1]), upper != 0, &out);
        return finish(interp, __LINE__, ok, out);
    } catch (const std::exception& e) {
        report(interp, kModule, __LINE__, LOG_FAULT, "canonical_swap failed: %s", e.what());
        return TCL_ERROR;
    }
}

}  // namespace

int register_addr_group(Tcl_Interp* interp) {
    Tcl_CreateObjCommand(interp, "addr_to_bin", cmd_addr_to_bin, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "bin_to_addr", cmd_bin_to_addr, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "canonical_swap", cmd_canonical_swap, nullptr, nullptr);
    return 0;
}

}  // namespace zm
