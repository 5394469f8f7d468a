// The tcl_variables renderer: exports each packet into the PKT_TBL variables.
#include <tcl.h>

#include "netif/netif.h"
#include "render/render.h"
#include "render/render_classes.h"
#include "render/tclvars_export.h"

namespace zm {
namespace {

constexpr const char* kModule = "RENDER/tcl_var";

int tclvars_proc(Renderer* r, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    Netif* netif = renderer_call_netif(interp, r, objc);
    if (!netif) return TCL_ERROR;
    for (int i = 1; i < objc; ++i) {
        PacketBuffer* b = lookup_buffer(netif, Tcl_GetString(objv[i]));
        if (b) export_packet(interp, r->ctx_, b, netif->base_node_);
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int create_tclvars(const char* name, Netif* netif, Tcl_Interp* interp, int, const char**) {
    create_renderer_command(interp, std::make_unique<Renderer>(name, kModule, netif, true), tclvars_proc);
    return 0;
}

}  // namespace

void register_tclvars_class() { register_renderer_class("tcl_variables", create_tclvars); }

}  // namespace zm
