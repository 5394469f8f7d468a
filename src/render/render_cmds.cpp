// The renderers command group: the renderer classes, `renderers`, the `renderer` interface sub-command,
// the saved-packet commands and ONLY_NEW_PKT.
#include <tcl.h>

#include "core/groups.h"
#include "render/pkt_cmds.h"
#include "render/render_classes.h"
#include "render/tclvars_export.h"

namespace zm {

int register_render_group(Tcl_Interp* interp) {
    // The classes are entered once per process; a second registration of the
    // group only re-creates its commands and links.
    static const bool classes_registered = [] {
        register_ascii_fulldecode_class();
        register_tclvars_class();
        register_summary_class();
        register_fulldecode_class();
        register_fulldata_class();
        register_hilit_class();
        register_node_offset_class();
        register_saver_class();
        return true;
    }();
    (void)classes_registered;
    register_renderer_framework(interp);
    if (register_saved_packet_commands(interp) != 0) return 1;
    return link_only_new_pkt(interp);
}

}  // namespace zm
