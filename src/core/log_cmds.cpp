// The logging command group: putslog and the linked log-setting variables.
#include <tcl.h>

#include <string>

#include "core/groups.h"
#include "core/report.h"
#include "core/tcl_entry.h"

namespace zm {
namespace {

constexpr const char* kModule = "logmsg";

constexpr int kLevelTraceFlags = TCL_GLOBAL_ONLY | TCL_TRACE_WRITES | TCL_TRACE_UNSETS;

char* log_level_trace(ClientData, Tcl_Interp* interp, const char* name1, const char* name2, int flags) {
    LogSettings& s = log_settings();
    if (flags & TCL_TRACE_UNSETS) {
        // Like a linked variable, LOG_LEVEL outlives an unset: it comes back
        // with the current level and keeps its trace.
        if (flags & TCL_INTERP_DESTROYED) return nullptr;
        Tcl_SetVar2(interp, name1, name2, log_level_alias(s.level), TCL_GLOBAL_ONLY);
        if (flags & TCL_TRACE_DESTROYED) Tcl_TraceVar2(interp, name1, name2, kLevelTraceFlags, log_level_trace, nullptr);
        return nullptr;
    }
    const char* value = Tcl_GetVar2(interp, name1, name2, TCL_GLOBAL_ONLY);
    if (!value) return const_cast<char*>("no such variable");
    int level = find_log_level(value);
    if (level >= 0) s.level = level;
    Tcl_SetVar2(interp, name1, name2, log_level_alias(s.level), TCL_GLOBAL_ONLY);
    return level >= 0 ? nullptr : const_cast<char*>("Invalid value");
}

int putslog(ClientData, Tcl_Interp* interp, Words& words) {
    log_settings().default_interp = interp;
    if (words.argc < 5) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Too few arguments to putslog");
        return TCL_ERROR;
    }
    int type = find_msg_type(words[1]);
    if (type < 0) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Invalid message type");
        return TCL_ERROR;
    }
    std::string module = words[3];
    module += '/';
    module += words[2];
    report(interp, module.c_str(), 0, type, "%s", words[4]);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

}  // namespace

int register_log_group(Tcl_Interp* interp) {
    LogSettings& s = log_settings();
    s.default_interp = interp;
    s.have_channel = Tcl_GetStdChannel(TCL_STDERR) != nullptr;
    create_command<putslog>(interp, "putslog");
    Tcl_SetVar(interp, "LOG_LEVEL", log_level_alias(s.level), TCL_GLOBAL_ONLY);
    Tcl_TraceVar(interp, "LOG_LEVEL", kLevelTraceFlags, log_level_trace, nullptr);
    Tcl_LinkVar(interp, "LOG_ENABLED", reinterpret_cast<char*>(&s.enabled), TCL_LINK_BOOLEAN);
    Tcl_LinkVar(interp, "ZM_LOG_TSTAMP", reinterpret_cast<char*>(&s.tstamp), TCL_LINK_INT);
    Tcl_LinkVar(interp, "ZM_LOG_FILEINFO", reinterpret_cast<char*>(&s.fileinfo), TCL_LINK_INT);
    return 0;
}

}  // namespace zm
