// Protocol-description commands (pdlc, pdf, dumppdf).
#include "core/groups.h"

namespace zm {

int register_pdl_group(Tcl_Interp*) { return 0; }

}  // namespace zm
