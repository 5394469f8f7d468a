// The state-machine command group: the startfsm interface sub-command, the packet handler, the instance command.
#include <tcl.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "core/groups.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "fsm/runtime.h"
#include "fsm/sdl.h"
#include "netif/netif.h"

namespace zm {
namespace {

constexpr const char* kModule = "fsm";
constexpr const char* kUsage =
    "usage: \n  <fsmname> info\n  <fsmname> stop\n  <fsmname> setstate ?options?\n  <fsmname> timer ?options?\n"
    "  <fsmname> event event_name\n";

int do_setstate(Instance* inst, Tcl_Interp* interp, Words& w) {
    if (w.argc >= 3) {
        fsm_transition(inst, w[2]);
        return TCL_OK;
    }
    const char* name = inst->current_ ? inst->current_->name.c_str() : "null";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name, -1));
    return TCL_OK;
}

int do_timer(Instance* inst, Tcl_Interp* interp, Words& w) {
    if (w.argc != 4) {
        report(interp, kModule, __LINE__, LOG_FAULT,
               "wrong # args: should be \"%s <timer name> <timer value> <fsm pid>\"", inst->command_name_.c_str());
        return TCL_ERROR;
    }
    double seconds = 0;
    if (!parse_time_value(interp, kModule, w[3], &seconds)) return TCL_ERROR;
    double scale = inst->netif_ ? inst->netif_->scale_ : 1.0;
    double ms = scale * seconds * 1000.0;
    // Negative periods only cancel; periods beyond an int are clamped, not wrapped.
    int period = 0;
    if (std::isnan(ms) || ms <= 0)
        period = 0;
    else if (ms >= static_cast<double>(INT_MAX))
        period = INT_MAX;
    else
        period = static_cast<int>(ms);
    fsm_set_timer(inst, w[2], period);
    return TCL_OK;
}

int cmd_instance_impl(Instance* inst, Tcl_Interp* interp, Words& w) {
    if (w.argc < 2) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", kUsage);
        return TCL_ERROR;
    }
    const char* word = w[1];
    if (std::strcmp(word, "stop") == 0) {
        if (inst->command_) Tcl_DeleteCommandFromToken(interp, inst->command_);
        return TCL_OK;
    }
    if (std::strcmp(word, "setstate") == 0) return do_setstate(inst, interp, w);
    if (std::strcmp(word, "event") == 0) {
        if (w.argc < 3) {
            report(interp, kModule, __LINE__, LOG_FAULT, "%s", kUsage);
            return TCL_ERROR;
        }
        fsm_post_named(inst, w[2]);
        return TCL_OK;
    }
    if (std::strcmp(word, "timer") == 0) return do_timer(inst, interp, w);
    report(interp, kModule, __LINE__, LOG_FAULT, "invalid command \"%s\": %s", word, kUsage);
    return TCL_ERROR;
}

}  // namespace

int cmd_fsm_instance(ClientData data, Tcl_Interp* interp, Words& words) {
    auto* inst = static_cast<Instance*>(data);
    InstanceHold hold(inst);
    return cmd_instance_impl(inst, interp, words);
}

int register_fsm_group(Tcl_Interp*) {
    register_netif_subcommand("startfsm", start_fsm);
    register_internal_handler("statemachine_internal", statemachine_internal);
    return 0;
}

}  // namespace zm
