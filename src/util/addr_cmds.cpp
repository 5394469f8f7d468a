// Address conversion commands: addr_to_bin, bin_to_addr, canonical_swap.
#include <tcl.h>

#include <string>

#include "core/groups.h"
#include "core/report.h"
#include "core/tcl_entry.h"
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
template <Converter Fn>
int convert(ClientData, Tcl_Interp* interp, Words& words) {
    if (words.argc < 2) {
        report(interp, kModule, __LINE__, LOG_WARNING, "Usage:  %s <address> <address_family>", words[0]);
        return TCL_ERROR;
    }
    int family = kAddrFamilyIpv4;
    if (words.argc > 2 && Tcl_GetInt(interp, words[2], &family) != TCL_OK) return TCL_ERROR;
    std::string out;
    bool ok = Fn(words[1], family, &out);
    return finish(interp, __LINE__, ok, out);
}

int swap_command(ClientData, Tcl_Interp* interp, Words& words) {
    if (words.argc < 2) {
        report(interp, kModule, __LINE__, LOG_WARNING, "Usage:  %s <mac_address> <case>", words[0]);
        return TCL_ERROR;
    }
    int upper = 0;
    if (words.argc > 2 && Tcl_GetInt(interp, words[2], &upper) != TCL_OK) return TCL_ERROR;
    std::string out;
    bool ok = canonical_swap(words[1], upper != 0, &out);
    return finish(interp, __LINE__, ok, out);
}

}  // namespace

int register_addr_group(Tcl_Interp* interp) {
    create_command<convert<addr_to_bin>>(interp, "addr_to_bin");
    create_command<convert<bin_to_addr>>(interp, "bin_to_addr");
    create_command<swap_command>(interp, "canonical_swap");
    return 0;
}

}  // namespace zm
