// The tap_hilit and find_node_offset renderers: from a display item or a node name back to packet positions.
#include <tcl.h>

#include <cstdio>
#include <cstdlib>

#include "decode/visitor.h"
#include "netif/netif.h"
#include "pdl/protodb.h"
#include "render/fulldecode.h"
#include "render/render.h"
#include "render/render_classes.h"

namespace zm {

// A node's ranges are those of the fields directly inside it (not in nested
// nodes); each range is (bit offset / 4, bit length / 4 rounded up).
std::vector<std::string> hilit_ranges(const DecodeBlock& tree, const uint8_t* data, uint32_t length, uint32_t item) {
    std::vector<std::string> out;
    auto range = [&out](const DecodeElement& e) {
        char text[48];
        std::snprintf(text, sizeof text, "%ld %ld", static_cast<long>(e.offset / 4), static_cast<long>((e.width + 3) / 4));
        out.emplace_back(text);
    };
    DecodeVisitor visitor(tree, data, length, 0);
    VisitedElement v;
    while (visitor.next(v)) {
        if (v.item != item || item == 0) continue;
        if (v.kind == VISIT_FIELD) {
            out.emplace_back("field");
            range(*v.element);
            return out;
        }
        out.emplace_back("fragment");
        int level = 0;
        for (uint32_t i = v.position + 1; i < tree.count() && level >= 0; ++i) {
            const DecodeElement& e = tree[i];
            if (e.type == DECODE_NODE && !node_is_empty(tree, i, length))
                ++level;
            else if (e.type == DECODE_NODE_END)
                --level;
            else if (e.type == DECODE_FLD && e.width != 0 && level == 0)
                range(e);
        }
        return out;
    }
    return out;
}

namespace {

DecodeBlock& hilit_scratch() {
    static DecodeBlock block;
    return block;
}

DecodeBlock& offset_scratch() {
    static DecodeBlock block;
    return block;
}

int hilit_proc(Renderer* r, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    Netif* netif = renderer_call_netif(interp, r, objc, 3, "Usage: {renderer} {buffer handle} {hilit field}");
    if (!netif) return TCL_ERROR;
    ObjRef list(Tcl_NewListObj(0, nullptr));
    PacketBuffer* b = lookup_buffer(netif, Tcl_GetString(objv[1]));
    unsigned long item = std::strtoul(Tcl_GetString(objv[2]), nullptr, 10);
    if (b && item > 0 && item <= UINT32_MAX) {
        PreparedBuffer prepared(b, hilit_scratch(), netif->base_node_, r->ctx_);
        if (const DecodeBlock* tree = prepared.tree())
            for (const std::string& word : hilit_ranges(*tree, b->data(), b->length(), static_cast<uint32_t>(item)))
                Tcl_ListObjAppendElement(nullptr, list.get(), Tcl_NewStringObj(word.c_str(), -1));
    }
    Tcl_SetObjResult(interp, list.get());
    return TCL_OK;
}

int node_offset_proc(Renderer* r, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    Netif* netif = renderer_call_netif(interp, r, objc, 3, "Usage: {renderer} {buffer handle} {node name}");
    if (!netif) return TCL_ERROR;
    unsigned long offset = 0;
    PacketBuffer* b = lookup_buffer(netif, Tcl_GetString(objv[1]));
    const Node* node = protodb().find_node(Tcl_GetString(objv[2]));
    if (b && node) {
        PreparedBuffer prepared(b, offset_scratch(), netif->base_node_, r->ctx_);
        if (const DecodeBlock* tree = prepared.tree()) {
            for (const DecodeElement& e : *tree) {
                if (e.object == node) {
                    offset = e.offset / 8;
                    break;
                }
            }
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(offset)));
    return TCL_OK;
}

int create_hilit(const char* name, Netif* netif, Tcl_Interp* interp, int, const char**) {
    create_renderer_command(interp, std::make_unique<Renderer>(name, "RENDER/tap_hilit", netif, true), hilit_proc);
    return 0;
}

int create_node_offset(const char* name, Netif* netif, Tcl_Interp* interp, int, const char**) {
    create_renderer_command(interp, std::make_unique<Renderer>(name, "RENDER/find_node_offset", netif, true),
                            node_offset_proc);
    return 0;
}

}  // namespace

void register_hilit_class() { register_renderer_class("tap_hilit", create_hilit); }
void register_node_offset_class() { register_renderer_class("find_node_offset", create_node_offset); }

}  // namespace zm
