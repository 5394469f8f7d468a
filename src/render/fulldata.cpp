// The tap_fulldata renderer: the hex dump of each packet, returned as a list.
#include <tcl.h>

#include <cstring>

#include "core/options.h"
#include "core/report.h"
#include "netif/netif.h"
#include "render/render.h"
#include "render/render_classes.h"

namespace zm {
namespace {

constexpr const char* kModule = "RENDER/tap_fdata";

int fulldata_proc(Renderer* base, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    auto* r = static_cast<CharsetRenderer*>(base);
    Netif* netif = renderer_call_netif(interp, r, objc);
    if (!netif) return TCL_ERROR;
    ObjRef list(Tcl_NewListObj(0, nullptr));
    std::string text;
    for (int i = 1; i < objc; ++i) {
        PacketBuffer* b = lookup_buffer(netif, Tcl_GetString(objv[i]));
        if (!b) continue;
        text.clear();
        hex_dump(b->data(), b->length(), text, false, r->charset);
        Tcl_ListObjAppendElement(nullptr, list.get(), Tcl_NewStringObj(text.data(), static_cast<int>(text.size())));
    }
    Tcl_SetObjResult(interp, list.get());
    return TCL_OK;
}

int create_fulldata(const char* name, Netif* netif, Tcl_Interp* interp, int argc, const char** argv) {
    return create_charset_renderer(name, kModule, netif, interp, argc, argv, false, fulldata_proc);
}

}  // namespace

int create_charset_renderer(const char* name, const char* module, Netif* netif, Tcl_Interp* interp, int argc,
                            const char** argv, bool with_context, RendererProc proc) {
    const char* charset = "ASCII";
    const OptSpec table[] = {
        {"-charset", OPT_STRING, 0, &charset, "Character set used in displaying data, ASCII/EBCDIC (defaults to ASCII)"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    if (parse_options(interp, &argc, argv, table, 0) != TCL_OK) {
        report(interp, module, __LINE__, LOG_FAULT, "Usage: {renderer} ?options?");
        return 1;
    }
    auto r = std::make_unique<CharsetRenderer>(name, module, netif, with_context);
    r->charset = parse_charset(interp, module, charset);
    create_renderer_command(interp, std::move(r), proc);
    return 0;
}

CharSet parse_charset(Tcl_Interp* interp, const char* module, const char* text) {
    if (std::strcmp(text, "ASCII") == 0) return CHARSET_ASCII;
    if (std::strcmp(text, "EBCDIC") == 0) return CHARSET_EBCDIC;
    report(interp, module, __LINE__, LOG_WARNING, "Bad \"-charset\" - using ASCII");
    return CHARSET_ASCII;
}

void register_fulldata_class() { register_renderer_class("tap_fulldata", create_fulldata); }

}  // namespace zm
