// Media-class commands (mediainfo, mediatype) and the Tcl side of the media operations.
#include <tcl.h>

#include <string>

#include "core/groups.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "media/media.h"

namespace zm {
namespace {

constexpr const char* kModule = "media";

Tcl_Obj* text_obj(const std::string& s) { return Tcl_NewStringObj(s.c_str(), static_cast<int>(s.size())); }

// mediainfo: {name readable writable flag kind label} per class, newest first.
int mediainfo(ClientData, Tcl_Interp* interp, Words&) {
    Tcl_Obj* result = Tcl_NewListObj(0, nullptr);
    for (MediaClass* cls : media_classes()) {
        Tcl_Obj* row[] = {text_obj(cls->name), Tcl_NewStringObj(cls->read ? "1" : "0", 1),
                          Tcl_NewStringObj(cls->write ? "1" : "0", 1), Tcl_NewStringObj(cls->flag ? "1" : "0", 1),
                          text_obj(cls->kind), text_obj(cls->label)};
        Tcl_ListObjAppendElement(interp, result, Tcl_NewListObj(6, row));
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

// mediatype file: {class candidates} from the first class whose probe
// recognises the file, or UNKNOWN.
int mediatype(ClientData, Tcl_Interp* interp, Words& words) {
    if (words.argc < 2) {
        report(interp, kModule, __LINE__, LOG_FAULT, "mediatype requires a -file option");
        return TCL_ERROR;
    }
    const std::string file = words[1];
    Tcl_ResetResult(interp);
    for (MediaClass* cls : media_classes()) {
        if (!cls->probe) continue;
        std::string details;
        int outcome = cls->probe(interp, file.c_str(), &details);
        if (outcome == PROBE_NOT_THIS_CLASS) continue;
        if (outcome == PROBE_ERROR) return TCL_ERROR;
        Tcl_Obj* row[] = {text_obj(cls->name), text_obj(details)};
        Tcl_SetObjResult(interp, Tcl_NewListObj(2, row));
        return TCL_OK;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj("UNKNOWN", -1));
    return TCL_OK;
}

}  // namespace

void media_append_info(Tcl_Interp* interp, const char* name, const std::string& value) {
    Tcl_Obj* result = Tcl_GetObjResult(interp);
    if (Tcl_IsShared(result)) {
        result = Tcl_DuplicateObj(result);
        Tcl_SetObjResult(interp, result);
    }
    Tcl_ListObjAppendElement(interp, result, Tcl_NewStringObj(name, -1));
    Tcl_ListObjAppendElement(interp, result, text_obj(value));
}

int register_media_group(Tcl_Interp* interp) {
    register_builtin_media();
    create_command<mediainfo>(interp, "mediainfo");
    create_command<mediatype>(interp, "mediatype");
    return 0;
}

}  // namespace zm
