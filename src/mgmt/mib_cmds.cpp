// MIB database command; it arrives with the management milestone.
#include "core/groups.h"

namespace zm {

int register_mib_group(Tcl_Interp*) { return 0; }

}  // namespace zm
