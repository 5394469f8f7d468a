// Export of one decoded packet into the PKT_TBL script variables.
#include "render/tclvars_export.h"

#include <tcl.h>

#include <cstdio>
#include <string>

#include "core/buffer.h"
#include "decode/visitor.h"
#include "pdl/protodb.h"
#include "render/render.h"

namespace zm {
namespace {

constexpr int kGlobal = TCL_GLOBAL_ONLY;

struct Exporter {
    Tcl_Interp* interp;
    Tcl_Obj* val_name;
    Tcl_Obj* sym_name;
    std::string entry;

    Exporter(Tcl_Interp* i) : interp(i) {
        val_name = Tcl_NewStringObj("PKT_TBL_val", -1);
        sym_name = Tcl_NewStringObj("PKT_TBL_sym", -1);
        Tcl_IncrRefCount(val_name);
        Tcl_IncrRefCount(sym_name);
    }
    ~Exporter() {
        Tcl_DecrRefCount(val_name);
        Tcl_DecrRefCount(sym_name);
    }
    Exporter(const Exporter&) = delete;
    Exporter& operator=(const Exporter&) = delete;

    void add(std::string_view key, std::string_view val, std::string_view sym) {
        Tcl_Obj* k = Tcl_NewStringObj(key.data(), static_cast<int>(key.size()));
        Tcl_IncrRefCount(k);
        Tcl_ObjSetVar2(interp, val_name, k, Tcl_NewStringObj(val.data(), static_cast<int>(val.size())), kGlobal);
        Tcl_ObjSetVar2(interp, sym_name, k, Tcl_NewStringObj(sym.data(), static_cast<int>(sym.size())), kGlobal);
        Tcl_DecrRefCount(k);
        entry.assign(" {");
        entry += key;
        entry += "} ";
        Tcl_SetVar2(interp, "PKT_TBL_order", nullptr, entry.c_str(), kGlobal | TCL_APPEND_VALUE);
    }
};

// The decode scratch lent to buffers exported without a decode tree of their own.
DecodeBlock& scratch() {
    static DecodeBlock block;
    return block;
}

std::string_view or_braces(std::string_view text) { return text.empty() ? std::string_view("{}") : text; }

}  // namespace

int& only_new_pkt() {
    static int value = 0;
    return value;
}

int link_only_new_pkt(Tcl_Interp* interp) {
    // Registering the group again links the variable afresh.
    Tcl_UnlinkVar(interp, "ONLY_NEW_PKT");
    return Tcl_LinkVar(interp, "ONLY_NEW_PKT", reinterpret_cast<char*>(&only_new_pkt()), TCL_LINK_BOOLEAN) == TCL_OK
               ? 0
               : 1;
}

void export_packet(Tcl_Interp* interp, DecodeContext* ctx, PacketBuffer* buffer, Node* base) {
    if (only_new_pkt() || !buffer) return;
    PreparedBuffer prepared(buffer, scratch(), base, ctx);

    Tcl_UnsetVar2(interp, "PKT_TBL_val", nullptr, kGlobal);
    Tcl_UnsetVar2(interp, "PKT_TBL_sym", nullptr, kGlobal);
    Tcl_UnsetVar2(interp, "PKT_TBL_order", nullptr, kGlobal);

    std::string time = local_time_text(buffer->sec, "%d-%b-%y:%T");
    char text[64];
    std::snprintf(text, sizeof text, ".%03lu", static_cast<unsigned long>(buffer->usec / 1000));
    time += text;
    Tcl_SetVar2(interp, "PKT_TBL_time", nullptr, time.c_str(), kGlobal);
    std::snprintf(text, sizeof text, "%lu %lu", static_cast<unsigned long>(buffer->sec),
                  static_cast<unsigned long>(buffer->usec));
    Tcl_SetVar2(interp, "PKT_TBL_elapsed", nullptr, text, kGlobal);
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(buffer->frame));
    Tcl_SetVar2(interp, "PKT_TBL_buffer_handle", nullptr, text, kGlobal);
    // An empty order list when the packet has no elements to export.
    Tcl_SetVar2(interp, "PKT_TBL_order", nullptr, "", kGlobal);

    const DecodeBlock* tree = prepared.tree();
    if (!tree) return;
    Exporter out(interp);
    DecodeVisitor visitor(*tree, buffer->data(), buffer->length(),
                          VISIT_WANT_KEY | VISIT_WANT_VALUE | VISIT_WANT_SYMBOL);
    VisitedElement v;
    std::string mac_key;
    while (visitor.next(v)) {
        switch (v.kind) {
        case VISIT_NODE:
            out.add(v.key, "", "");
            break;
        case VISIT_FIELD:
            if (!v.node) break;
            out.add(v.key, or_braces(v.value), or_braces(v.symbol));
            if (v.node->is_base()) {
                mac_key.assign("MAC_HEADER");
                mac_key += v.key.substr(v.node->name_.size());
                out.add(mac_key, or_braces(v.value), or_braces(v.symbol));
            }
            break;
        case VISIT_DATA:
            out.add(v.key, v.value, v.symbol);
            Tcl_SetVar2(interp, "RAWDATA", nullptr, std::string(v.value.substr(2)).c_str(), kGlobal);
            break;
        }
    }
}

}  // namespace zm
