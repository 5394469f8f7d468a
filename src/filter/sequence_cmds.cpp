// Packet-sequence commands.
#include "core/groups.h"

namespace zm {

int register_sequence_group(Tcl_Interp*) { return 0; }

}  // namespace zm
