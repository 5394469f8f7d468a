// Registration of the renderer classes and helpers their option parsing shares.
#pragma once

#include "decode/format.h"

struct Tcl_Interp;

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
// Parses a renderer's only option, "-charset"; false after reporting the usage.
bool parse_charset_option(Tcl_Interp* interp, const char* module, int argc, const char** argv, CharSet* out);

}  // namespace zm
