// Filter-debugging command and switches.
#include "core/groups.h"

namespace zm {

int register_filter_debug_group(Tcl_Interp*) { return 0; }

}  // namespace zm
