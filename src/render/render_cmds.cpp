// Renderer commands; the renderer classes arrive with the renderer milestone.
#include "core/groups.h"
#include "render/pkt_cmds.h"

namespace zm {

int register_render_group(Tcl_Interp* interp) { return register_saved_packet_commands(interp); }

}  // namespace zm
