// The logging command group: putslog and the linked log-setting variables.
#include <tcl.h>

#include <string>

#include "core/groups.h"
#include "core/report.h"

namespace zm {
namespace {

constexpr const char* kModule = "logmsg";

char* log_level_trace(ClientData, Tcl_Interp* interp, const char* name1, const char* name2, int) {
    LogSettings& s = log_settings();
    const char* value = Tcl_GetVar2(interp, name1, name2, TCL_GLOBAL_ONLY);
    if (!value) return const_cast<char*>("no such variable");
    int level = find_log_level(value);
    if (level >= 0) s.level = level;
    Tcl_SetVar2(interp, name1, name2, log_level_alias(s.level), TCL_GLOBAL_ONLY);
    return level >= 0 ? nullptr : const_cast<char*>("Invalid value");
}

int cmd_putslog(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    log_settings().default_interp = interp;
    if (objc < 5) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Too few arguments to putslog");
        return TCL_ERROR;
    }
    int type = find_msg_type(Tcl_GetString(objv[1]));
    if (type < 0) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Invalid message type");
        return TCL_ERROR;
    }
    std::string module = Tcl_GetString(objv[3]);
    module += '/';
    module += Tcl_GetString(objv[2]);
    report(interp, module.c_str(), 0, type, "%s", Tcl_GetString(objv[4]));
    Tcl_ResetResult(interp);
    return TCL_OK;
}

}  // namespace

int register_log_group(Tcl_Interp* interp) {
    LogSettings& s = log_settings();
    s.default_interp = interp;
    s.have_channel = Tcl_GetStdChannel(TCL_STDERR) != nullptr;
    Tcl_CreateObjCommand(interp, "putslog", cmd_putslog, nullptr, nullptr);
    Tcl_SetVar(interp, "LOG_LEVEL", log_level_alias(s.level), TCL_GLOBAL_ONLY);
    Tcl_TraceVar(interp, "LOG_LEVEL", TCL_GLOBAL_ONLY | TCL_TRACE_WRITES, log_level_trace, nullptr);
    Tcl_LinkVar(interp, "LOG_ENABLED", reinterpret_cast<char*>(&s.enabled), TCL_LINK_BOOLEAN);
    Tcl_LinkVar(interp, "ZM_LOG_TSTAMP", reinterpret_cast<char*>(&s.tstamp), TCL_LINK_INT);
    Tcl_LinkVar(interp, "ZM_LOG_FILEINFO", reinterpret_cast<char*>(&s.fileinfo), TCL_LINK_INT);
    return 0;
}

}  // namespace zm
