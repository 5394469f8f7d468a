// Renderer commands; they arrive with the renderer milestone.
#include "core/groups.h"

namespace zm {

int register_render_group(Tcl_Interp*) { return 0; }

}  // namespace zm
