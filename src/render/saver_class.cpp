// The pkt_saver renderer: saves a copy of every buffer it is given in the saved-packet registry.
#include <tcl.h>

#include "netif/netif.h"
#include "render/render.h"
#include "render/render_classes.h"
#include "render/saver.h"

namespace zm {
namespace {

constexpr const char* kModule = "RENDER/pkt_saver";

int saver_proc(Renderer* r, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    Netif* netif = renderer_call_netif(interp, r, objc);
    if (!netif) return TCL_ERROR;
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (int i = 1; i < objc; ++i) {
        const PacketBuffer* b = lookup_buffer(netif, Tcl_GetString(objv[i]));
        if (!b) continue;
        PacketBuffer* copy = detached_copy(b);
        if (!copy) continue;  // out of memory: nothing saved for this handle
        if (!copy->base_node) copy->base_node = netif->base_node_;
        uint32_t handle = saved_packets().save(BufferPtr(copy));
        Tcl_ListObjAppendElement(nullptr, list, Tcl_ObjPrintf("%lu", static_cast<unsigned long>(handle)));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

int create_saver(const char* name, Netif* netif, Tcl_Interp* interp, int, const char**) {
    create_renderer_command(interp, std::make_unique<Renderer>(name, kModule, netif, false), saver_proc);
    return 0;
}

}  // namespace

void register_saver_class() { register_renderer_class("pkt_saver", create_saver); }

}  // namespace zm
