// Registration of the renderer classes and helpers their option parsing shares.
#pragma once

#include "decode/format.h"
#include "render/render.h"

namespace zm {

void register_renderer_framework(Tcl_Interp* interp);
void register_ascii_fulldecode_class();
void register_tclvars_class();
void register_summary_class();
void register_fulldecode_class();
void register_fulldata_class();
void register_hilit_class();
void register_node_offset_class();
void register_saver_class();

// "ASCII" or "EBCDIC"; anything else is reported (Warning) and gives ASCII.
CharSet parse_charset(Tcl_Interp* interp, const char* module, const char* text);
// The record of the classes whose only option is -charset.
struct CharsetRenderer : Renderer {
    using Renderer::Renderer;
    CharSet charset = CHARSET_ASCII;
};
// Creates a renderer of such a class (arguments as for RendererCreate); 1
// after reporting the usage.
int create_charset_renderer(const char* name, const char* module, Netif* netif, Tcl_Interp* interp, int argc,
                            const char** argv, bool with_context, RendererProc proc);

}  // namespace zm
