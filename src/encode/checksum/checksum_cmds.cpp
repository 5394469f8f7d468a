// Checksum commands (checksum, checksums).
#include <tcl.h>

#include "core/groups.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "core/textconv.h"
#include "encode/checksum/checksum.h"

namespace zm {
namespace {

constexpr const char* kModule = "checksum";

// checksum name hexstring: the named checksum over the bytes, as "%ld".
int cmd_checksum(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc != 3) {
        report(interp, kModule, __LINE__, LOG_FAULT, "usage: \"%s {checkum_name} {hex string}\"", w[0]);
        return TCL_ERROR;
    }
    const char* name = w[1];
    if (!find_checksum(name)) {
        report(interp, kModule, __LINE__, LOG_FAULT, "unknown checksum type: \"%s\"", name);
        return TCL_ERROR;
    }
    std::vector<uint8_t> bytes = asciihex2binary(w[2], true);
    if (bytes.empty()) {
        report(interp, kModule, __LINE__, LOG_FAULT, "invalid hex string");
        return TCL_ERROR;
    }
    int32_t result = 0;
    run_checksum(name, bytes, &result);
    Tcl_SetObjResult(interp, Tcl_NewWideIntObj(result));
    return TCL_OK;
}

// checksums: the registered names, newest first.
int cmd_checksums(ClientData, Tcl_Interp* interp, Words&) {
    set_text_list_result(interp, checksum_names());
    return TCL_OK;
}

}  // namespace

int register_checksum_group(Tcl_Interp* interp) {
    // Touching the registry registers the built-in algorithms.
    if (!find_checksum("tcp")) return 1;
    create_command<cmd_checksum>(interp, "checksum");
    create_command<cmd_checksums>(interp, "checksums");
    return 0;
}

}  // namespace zm
