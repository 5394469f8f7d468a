// Running state machines: instances started on an interface, their filters, timers, events and actions.
//
// `<netif> startfsm <fsm> <object>` creates an instance: a command named
// "<object>:fsm_<n>" through which the script drives it, and a packet
// handler on the interface through which matching packets reach it. Each
// (state, inpdu event) pair has its own compiled filter; the current state's
// filters sit in the interface's decode context. Actions are scripts run at
// global level inside the interface's handler section; their errors are
// reported as warnings and go no further.
//
// Lifetime: an instance ends when its command is deleted or its handler is
// (unregister, interface closed). Either side detaches the other: timers are
// cancelled, filters removed and freed, and the handler forgets the
// instance, at once. The record itself is released when neither side is
// left and no call of its own (an action, a transition, a timer) is still on
// the stack, so an instance stopped from inside its own action is freed only
// after that action returns.
#pragma once
#include <tcl.h>

#include <memory>
#include <string>
#include <vector>

#include "core/tcl_entry.h"

namespace zm {

struct Definition;
struct Filter;
struct Handler;
struct Netif;
struct PacketBuffer;
struct State;
struct Instance;

struct FsmTimer {
    std::string name;                  // timer name followed by the instance number
    Instance* owner = nullptr;
    int period_ms = 0;
    Tcl_TimerToken token = nullptr;    // null once fired or cancelled
};

struct Instance {
    Netif* netif_ = nullptr;           // null once the handler is gone
    int number_ = 0;
    const Definition* def_ = nullptr;
    const State* current_ = nullptr;   // null before the first transition
    std::vector<std::unique_ptr<FsmTimer>> timers_;
    std::string command_name_;
    std::string object_name_;
    Handler* handler_ = nullptr;       // null once the handler is gone or detached
    std::vector<Filter*> filters_;     // state index * max events + event index
    Tcl_Interp* interp_ = nullptr;
    Tcl_Command command_ = nullptr;    // null once the command is deleted
    int holds_ = 0;                    // calls of this instance on the stack
    unsigned transitions_ = 0;         // counts transitions, to notice nested ones
    std::vector<Filter*> matched_;     // scratch: filters completed by the current packet

    Filter*& filter_cell(int state, int event);
};

// Keeps an instance's record alive across script evaluation.
class InstanceHold {
public:
    explicit InstanceHold(Instance* inst);
    ~InstanceHold();
    InstanceHold(const InstanceHold&) = delete;
    InstanceHold& operator=(const InstanceHold&) = delete;

private:
    Instance* inst_;
};

// The startfsm interface sub-command (argv: netif, "startfsm", fsm, object).
int start_fsm(Netif* netif, Tcl_Interp* interp, int argc, const char** argv);

// Makes the transition to the named state; an unknown name is reported and
// changes nothing.
void fsm_transition(Instance* inst, const char* state_name);
// Posts a named event (kind event).
void fsm_post_named(Instance* inst, const char* name);
// The timer sub-command's work: cancels the timer of that name and, for a
// period above 0 ms, starts a new one-shot timer.
void fsm_set_timer(Instance* inst, const char* name, int period_ms);

// The "statemachine_internal" packet handler procedure.
int statemachine_internal(Handler* handler, Netif* netif, PacketBuffer* buffer);

// The instance command (in fsm_cmds.cpp).
int cmd_fsm_instance(ClientData data, Tcl_Interp* interp, Words& words);

// Instances alive in the process (tests).
size_t live_instances();

}  // namespace zm
