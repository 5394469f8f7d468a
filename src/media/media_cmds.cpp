// Media-class commands (mediainfo, mediatype).
#include "core/groups.h"

namespace zm {

int register_media_group(Tcl_Interp*) { return 0; }

}  // namespace zm
