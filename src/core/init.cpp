// Extension start-up: banner, global variables, command groups, start-up script.
#include <tcl.h>

#include <string>

#include "core/block_wait.h"
#include "core/groups.h"
#include "core/tcl_entry.h"

namespace zm {
namespace {

constexpr const char* kVersion = "2.03";
constexpr const char* kBuildDir = "/tree/zemko/zemko";
constexpr const char* kBuildDate = "Tue Nov 19 21:54:41 EST 1996";

// Locates the protocol library (pdl_path) and sources the script library.
constexpr const char* kStartupScript = R"TCL(
proc pdlInit {} {
    rename pdlInit {}
    global pdl_path env
    if {[info exists env(PDL_LIBRARY)]} {
        set pdl_path $env(PDL_LIBRARY)
    } elseif {[info exists env(PDL_PATH)]} {
        set pdl_path [split $env(PDL_PATH) :]
    } elseif {[file isdirectory ./pdl]} {
        set pdl_path ./pdl
    } else {
        set parentDir [file dirname [file dirname [info nameofexecutable]]]
        if {[file isdirectory $parentDir/lib/pdl]} {
            set pdl_path $parentDir/lib/pdl
        } else {
            set pdl_path ./pdl
        }
    }
}
proc zemkoInit {} {
    rename zemkoInit {}
    global zemko_library env
    set parentDir [file dirname [file dirname [info nameofexecutable]]]
    set dirs {}
    if {[info exists env(ZEMKO_LIBRARY)]} {
        lappend dirs $env(ZEMKO_LIBRARY)
    }
    lappend dirs $zemko_library
    lappend dirs [file dirname [info library]]/lib/zemko/zemko
    lappend dirs $parentDir/lib/zemko/zemko
    lappend dirs $parentDir/library
    foreach i $dirs {
        set zemko_library $i
        if {![catch {uplevel #0 [list source [file join $i zemko.tcl]]}]} {
            return
        }
    }
    set msg "Can't find a usable zemko.tcl in the following directories: \n"
    append msg "    $dirs\n"
    append msg "This probably means that Zemko wasn't installed properly."
    puts $msg
}
pdlInit
zemkoInit
)TCL";

std::string framed(const std::string& inner) {
    // 62 characters: "***", 56 characters of text, "***".
    std::string text = inner.substr(0, 56);
    size_t left = (56 - text.size()) / 2;
    return "***" + std::string(left, ' ') + text + std::string(56 - left - text.size(), ' ') + "***";
}

void write_banner(Tcl_Interp*) {
    Tcl_Channel chan = Tcl_GetStdChannel(TCL_STDERR);
    if (!chan) return;
    const std::string version = kVersion;
    int len = static_cast<int>(version.size());
    int left = 26 - (len + 14) / 2;
    int right = 52 - left - 14 - len;
    std::string out = "\n";
    out += "*** " + std::string(left, ' ') + " ZEMKO Version " + version + " " + std::string(right, ' ') + " ***\n";
    out += "***" + std::string(56, ' ') + "***\n";
    out += framed("zemko packet-protocol test toolkit") + "\n\n";
    Tcl_WriteChars(chan, out.c_str(), static_cast<int>(out.size()));
    Tcl_Flush(chan);
}

int zemko_version(ClientData, Tcl_Interp* interp, Words&) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%s %s/zemko %s", kVersion, kBuildDir, kBuildDate));
    return TCL_OK;
}

int zemko_block(ClientData, Tcl_Interp* interp, Words&) {
    int32_t result = 0;
    int32_t value = block_wait(&result, nullptr);
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d", value));
    return TCL_OK;
}

int zemko_unblock(ClientData, Tcl_Interp* interp, Words& words) {
    int value = 1;
    if (words.argc > 1 && Tcl_GetInt(interp, words[1], &value) != TCL_OK) return TCL_ERROR;
    block_signal(value, 0);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

using GroupFn = int (*)(Tcl_Interp*);
constexpr GroupFn kGroups[] = {
    register_media_group,  register_snmp_group,          register_mib_group,    register_netif_group,
    register_send_group,   register_checksum_group,      register_log_group,    register_pdl_group,
    register_fsm_group,    register_ospf_group,          register_table_group,  register_render_group,
    register_filter_debug_group, register_addr_group,    register_sequence_group, register_numcmp_group,
    Tftp_Init,
};

}  // namespace
}  // namespace zm

extern "C" int Zemko_Init(Tcl_Interp* interp) {
    using namespace zm;
    if (!Tcl_InitStubs(interp, "8.6", 0)) return TCL_ERROR;
    write_banner(interp);
    if (!Tcl_GetVar(interp, "zemko_library", TCL_GLOBAL_ONLY))
        Tcl_SetVar(interp, "zemko_library", ".", TCL_GLOBAL_ONLY);
    Tcl_SetVar(interp, "zemko_version", kVersion, TCL_GLOBAL_ONLY);
    create_command<zemko_version>(interp, "zemko_version");
    create_command<zemko_block>(interp, "zemko_block");
    create_command<zemko_unblock>(interp, "zemko_unblock");
    for (GroupFn group : kGroups)
        if (group(interp) != 0) return TCL_ERROR;
    Tcl_PkgProvide(interp, "zemko", kVersion);
    return Tcl_EvalEx(interp, kStartupScript, -1, TCL_EVAL_GLOBAL);
}
