// The loadable extension: Zemko_Init and Tftp_Init come from the core library.
#include "core/groups.h"

// Keeps both entry points referenced so the linker exports them.
extern "C" {
void* const zemko_entry_points[] = {reinterpret_cast<void*>(&Zemko_Init), reinterpret_cast<void*>(&Tftp_Init)};
}
