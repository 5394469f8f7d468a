// Fuzz target: path patterns and pkt_set values against a fixed saved packet
// with nested nodes and an array, and pkt_compose raw data of any length.
//
// The first input byte chooses the command; the rest is split at the first
// newline into a path and a value. Every word reaches the commands as one
// list element, never as script.
#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "core/report.h"
#include "pdl/library_load.h"
#include "render/pkt_cmds.h"

#undef Tcl_InitStubs

namespace {

Tcl_Interp* g_interp = nullptr;
std::string g_packet;  // handle of the fixed packet

int run(std::initializer_list<std::string> words) {
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(list);
    for (const auto& w : words)
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(w.data(), static_cast<int>(w.size())));
    int code = Tcl_EvalObjEx(g_interp, list, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(list);
    return code;
}

std::string result() { return Tcl_GetStringResult(g_interp); }

const char* const kFilter =
    "IP_HDR ip_hl=6 <ip_options ipopt_type=NOP, ip_options ipopt_type=EOL, ip_options ipopt_type=NOP, "
    "ip_options ipopt_type=NOP>, OSPF_HDR ospf_type=HELLO router_id=1.1.1.1, OSPF_HELLO "
    "<OSPF_NEIGHBOR neighbor=10.0.0.9, OSPF_NEIGHBOR neighbor=10.0.0.8>";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Tcl_FindExecutable(nullptr);
    g_interp = Tcl_CreateInterp();
    Tcl_InitStubs(g_interp, "8.6", 0);
    zm::log_settings().level = 5;  // quiet: refused input is reported by design
    if (!zm::load_shipped_library()) {
        std::fprintf(stderr, "pkt_fuzz: the shipped protocol library did not compile\n");
        std::abort();
    }
    zm::register_saved_packet_commands(g_interp);
    if (run({"pkt_compose", "-basenode", "ENET_HDR", "-filter", kFilter}) != TCL_OK) {
        std::fprintf(stderr, "pkt_fuzz: the fixed packet was not built\n");
        std::abort();
    }
    g_packet = result();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 8192) return 0;
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (rest.find('\0') != std::string::npos) return 0;
    size_t nl = rest.find('\n');
    std::string path = rest.substr(0, nl);
    std::string value = nl == std::string::npos ? std::string() : rest.substr(nl + 1);
    switch (data[0] % 4) {
    case 0:
        for (const char* cmd : {"get", "next", "all"}) run({"pkt_val", cmd, path, g_packet, "-hex"});
        run({"pkt_fieldinfo", "all", path, g_packet});
        run({"pkt_getinststr", path, value, g_packet});
        break;
    case 1: {
        // pkt_set rebuilds the packet: work on a copy so the fixed one stays.
        if (run({"pkt_compose", "-basenode", "ENET_HDR", "-filter", kFilter}) != TCL_OK) std::abort();
        std::string copy = result();
        if (run({"pkt_set", path, value, copy}) == TCL_OK) {
            run({"pkt_getsendstring", copy, "-hex"});
            run({"pkt_dump_reg", copy});
        }
        run({"pkt_delete", copy});
        break;
    }
    case 2:
        if (run({"pkt_compose", "-basenode", path.empty() ? "ENET_HDR" : "ZEMKO_UDP_HDR", "-rawdata", value}) ==
            TCL_OK) {
            std::string p = result();
            run({"pkt_getsendstring", p});
            run({"pkt_val", "all", "*", p});
            run({"pkt_delete", p});
        }
        break;
    default:
        run({"pkt_compose", "-rawdata", rest, "-mtu", std::to_string(size * 3)});
        run({"pkt_delete", result()});
        break;
    }
    Tcl_ResetResult(g_interp);
    return 0;
}
