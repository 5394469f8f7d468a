// Running state machines: creation, transitions, events, timers, actions and the packet handler.
#include "fsm/runtime.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/report.h"
#include "filter/filter.h"
#include "fsm/sdl.h"
#include "fsm/sdlc.h"
#include "netif/netif.h"
#include "render/tclvars_export.h"

namespace zm {
namespace {

constexpr const char* kModule = "fsm";
constexpr const char* kObjName = "_obj_name_";

std::vector<std::unique_ptr<Instance>>& instances() {
    static std::vector<std::unique_ptr<Instance>> all;
    return all;
}

int& instance_counter() {
    static int counter = 1;
    return counter;
}

// Frees the record once neither the command nor the handler is left and no
// call of its own is on the stack.
void release_if_done(Instance* inst) {
    if (inst->command_ || inst->handler_ || inst->holds_ > 0) return;
    auto& all = instances();
    auto it = std::find_if(all.begin(), all.end(), [inst](const auto& p) { return p.get() == inst; });
    if (it != all.end()) all.erase(it);
}

// Sets _obj_name_ for the length of a script and puts back what was there,
// so that an action which drives another machine keeps its own value.
class ObjName {
public:
    ObjName(Tcl_Interp* interp, const std::string& name) : interp_(interp) {
        saved_ = Tcl_GetVar2Ex(interp, kObjName, nullptr, TCL_GLOBAL_ONLY);
        if (saved_) Tcl_IncrRefCount(saved_);
        Tcl_SetVar2(interp, kObjName, nullptr, name.c_str(), TCL_GLOBAL_ONLY);
    }
    ~ObjName() {
        if (saved_) {
            Tcl_SetVar2Ex(interp_, kObjName, nullptr, saved_, TCL_GLOBAL_ONLY);
            Tcl_DecrRefCount(saved_);
        } else {
            Tcl_UnsetVar2(interp_, kObjName, nullptr, TCL_GLOBAL_ONLY);
        }
    }
    ObjName(const ObjName&) = delete;
    ObjName& operator=(const ObjName&) = delete;

private:
    Tcl_Interp* interp_;
    Tcl_Obj* saved_ = nullptr;
};

// Counts the interface's handler section, so that an action cannot close the
// interface under its caller; on the way out runs what the section deferred.
class HandlerSection {
public:
    explicit HandlerSection(Netif* n) : n_(n) { ++n_->depth_; }
    ~HandlerSection() {
        if (--n_->depth_ > 0) return;
        netif_run_deferred(n_);
        if (n_->hidden_) netif_destroy(n_);
    }
    HandlerSection(const HandlerSection&) = delete;
    HandlerSection& operator=(const HandlerSection&) = delete;

private:
    Netif* n_;
};

std::string timer_record_name(const Instance* inst, const std::string& name) {
    return name + std::to_string(inst->number_);
}

void cancel_timer(Instance* inst, const std::string& record_name) {
    auto& timers = inst->timers_;
    auto it = std::find_if(timers.begin(), timers.end(), [&](const auto& t) { return t->name == record_name; });
    if (it == timers.end()) return;
    if ((*it)->token) Tcl_DeleteTimerHandler((*it)->token);
    timers.erase(it);
}

// Cancels every timer and takes every filter out of the decode context
// (freeing it); the handler forgets the instance.
void detach(Instance* inst) {
    for (auto& t : inst->timers_)
        if (t->token) Tcl_DeleteTimerHandler(t->token);
    inst->timers_.clear();
    for (Filter*& f : inst->filters_) {
        if (f) remove_filter(f, true);
        f = nullptr;
    }
    if (inst->handler_) inst->handler_->client_data_ = nullptr;
    inst->handler_ = nullptr;
    inst->netif_ = nullptr;
    inst->current_ = nullptr;
}

// The command's delete callback: ends the instance and asks the interface to
// delete the handler (deferred while it processes packets).
void instance_command_deleted(ClientData data) {
    auto* inst = static_cast<Instance*>(data);
    guard_void(inst->interp_, kModule, "state machine deletion", [&]() {
        inst->command_ = nullptr;
        if (inst->handler_) {
            Netif* n = inst->netif_;
            std::string handler_name = inst->handler_->name_;
            detach(inst);
            unregister_handler(n, handler_name.c_str());
        }
        release_if_done(inst);
    });
}

// The handler's delete callback (unregister, interface closed): ends the
// instance and deletes its command.
int instance_handler_deleted(Handler* h) {
    auto* inst = static_cast<Instance*>(h->client_data_);
    if (!inst) return 1;
    Tcl_Interp* interp = inst->interp_;
    guard_void(interp, kModule, "state machine handler deletion", [&]() {
        detach(inst);
        if (inst->command_)
            Tcl_DeleteCommandFromToken(interp, inst->command_);  // may release the record
        else
            release_if_done(inst);
    });
    return 1;
}

void timer_fired(ClientData data);

void start_timer(Instance* inst, const std::string& record_name, int period_ms) {
    auto t = std::make_unique<FsmTimer>();
    t->name = record_name;
    t->owner = inst;
    t->period_ms = period_ms;
    t->token = Tcl_CreateTimerHandler(period_ms, timer_fired, t.get());
    inst->timers_.push_back(std::move(t));
}

// Quotes a word as one list element, so names with blanks or brackets stay one word.
void append_element(std::string& script, const std::string& word) {
    Tcl_Obj* obj = Tcl_NewStringObj(word.c_str(), static_cast<int>(word.size()));
    Tcl_Obj* list = Tcl_NewListObj(1, &obj);
    Tcl_IncrRefCount(list);
    script += Tcl_GetString(list);
    Tcl_DecrRefCount(list);
}

// Words of the action script for an event that runs its parameters.
void append_params(std::string& script, const Event& e, const PacketBuffer* buffer) {
    static const char* const kKindWords[] = {"inpdu", "event", "timeout", "start"};
    for (const SdlParam& p : e.params) {
        switch (p.kind) {
        case PARAM_LITERAL:
            script += ' ';
            script += p.text;
            break;
        case PARAM_PACKET:
            script += ' ';
            script += buffer ? std::to_string(static_cast<unsigned long>(buffer->frame)) : std::string("{}");
            break;
        case PARAM_STATE:
            script += ' ';
            append_element(script, e.state->name);
            break;
        case PARAM_TIMEOUT:
            script += ' ';
            if (e.kind == EV_TIMEOUT)
                append_element(script, e.argument);
            else
                script += "{}";
            break;
        case PARAM_EVENT:
            script += ' ';
            if (e.kind == EV_EVENT)
                append_element(script, e.argument);
            else
                script += kKindWords[e.kind];
            break;
        default:
            break;
        }
    }
}

// What an event is posted with: the filters the packet completed, an event
// name, or an expired timer's record name.
struct Posted {
    int kind = EV_START;
    const std::vector<Filter*>* filters = nullptr;
    const char* name = nullptr;
    const PacketBuffer* buffer = nullptr;
};

const Event* choose_event(Instance* inst, const Posted& p) {
    const State* s = inst->current_;
    const Event* prefix_hit = nullptr;
    for (const Event& e : s->events) {
        if (e.kind != p.kind) continue;
        switch (p.kind) {
        case EV_INPDU: {
            report(inst->interp_, kModule, __LINE__, LOG_CODE, "Packet event occurred object \"%s\"",
                   inst->object_name_.c_str());
            Filter* f = inst->filter_cell(s->index, e.index);
            if (f && !e.action.empty() && std::find(p.filters->begin(), p.filters->end(), f) != p.filters->end())
                return &e;
            break;
        }
        case EV_EVENT:
            if (!e.action.empty() && e.argument == p.name) return &e;
            break;
        case EV_TIMEOUT: {
            report(inst->interp_, kModule, __LINE__, LOG_CODE, "timeout occured %s", e.argument.c_str());
            if (e.action.empty() || std::strncmp(e.argument.c_str(), p.name, e.argument.size()) != 0) break;
            // A timer whose own name matches wins over one whose name is only a prefix.
            if (timer_record_name(inst, e.argument) == p.name) return &e;
            if (!prefix_hit) prefix_hit = &e;
            break;
        }
        default:
            if (!e.action.empty()) return &e;
            break;
        }
    }
    return prefix_hit;
}

void post_event(Instance* inst, const Posted& p) {
    if (!inst->handler_ || !inst->current_) return;
    const Event* e = choose_event(inst, p);
    if (!e) return;
    std::string script;
    if (e->use_params) {
        script = inst->object_name_;
        script += ' ';
        script += e->action;
        append_params(script, *e, p.buffer);
    } else {
        script = e->action;
    }
    Tcl_Interp* interp = inst->interp_;
    report(interp, kModule, __LINE__, LOG_CODE, "executing tcl from state machine \"%s\" action: %s",
           inst->object_name_.c_str(), script.c_str());
    InstanceHold hold(inst);
    {
        ObjName obj(interp, inst->object_name_);
        HandlerSection section(inst->netif_);
        if (Tcl_EvalEx(interp, script.c_str(), static_cast<int>(script.size()), TCL_EVAL_GLOBAL) != TCL_OK)
            report(interp, kModule, __LINE__, LOG_WARNING, "error while running fsm \"%s(%d)\": '%s'",
                   inst->object_name_.c_str(), inst->number_, Tcl_GetStringResult(interp));
    }
    Tcl_ResetResult(interp);
}

void timer_fired(ClientData data) {
    auto* t = static_cast<FsmTimer*>(data);
    Instance* inst = t->owner;
    guard_void(inst->interp_, kModule, "state machine timer", [&]() {
        t->token = nullptr;
        std::string name = t->name;  // the action may cancel this very record
        InstanceHold hold(inst);
        Posted p;
        p.kind = EV_TIMEOUT;
        p.name = name.c_str();
        post_event(inst, p);
    });
}

void report_start_failure(Instance* inst, Tcl_Interp* interp) {
    report(interp, kModule, __LINE__, LOG_FAULT, "fsm \"%s\" in object \"%s\" couldn't start because \"%s\"",
           inst->command_name_.c_str(), inst->object_name_.c_str(), Tcl_GetStringResult(interp));
}

// Substitutes the filter text of every inpdu event and compiles it; false
// (reported) at the first that fails.
bool compile_filters(Instance* inst, Netif* n, Tcl_Interp* interp) {
    for (const State& s : inst->def_->states) {
        for (const Event& e : s.events) {
            if (e.kind != EV_INPDU) continue;
            std::string script = "return \"" + e.argument + "\"";
            int code;
            {
                ObjName obj(interp, inst->object_name_);
                Tcl_SetErrorLine(interp, 0);
                code = Tcl_EvalEx(interp, script.c_str(), static_cast<int>(script.size()), TCL_EVAL_GLOBAL);
            }
            Filter* f = nullptr;
            if (code == TCL_RETURN && Tcl_GetErrorLine(interp) == 0)
                f = compile_receive_filter(interp, Tcl_GetStringResult(interp), n->base_node_);
            if (!f) {
                report_start_failure(inst, interp);
                return false;
            }
            inst->filter_cell(s.index, e.index) = f;
        }
    }
    return true;
}

}  // namespace

Filter*& Instance::filter_cell(int state, int event) {
    return filters_[static_cast<size_t>(state) * static_cast<size_t>(def_->max_events) + static_cast<size_t>(event)];
}

InstanceHold::InstanceHold(Instance* inst) : inst_(inst) { ++inst_->holds_; }

InstanceHold::~InstanceHold() {
    --inst_->holds_;
    release_if_done(inst_);
}

size_t live_instances() { return instances().size(); }

int start_fsm(Netif* n, Tcl_Interp* interp, int argc, const char** argv) {
    if (argc != 4) {
        report(interp, kModule, __LINE__, LOG_FAULT,
               "wrong # args: should be \"%s <netif name> <fsm name> <object name>\"", n->name_.c_str());
        Tcl_ResetResult(interp);
        return TCL_ERROR;
    }
    const Definition* def = find_definition(interp, argv[2]);
    if (!def) {
        Tcl_ResetResult(interp);
        return TCL_ERROR;
    }
    auto owned = std::make_unique<Instance>();
    Instance* inst = owned.get();
    inst->interp_ = interp;
    inst->def_ = def;
    inst->object_name_ = argv[3];
    inst->command_name_ = inst->object_name_ + ":fsm_" + std::to_string(instance_counter());
    inst->filters_.assign(def->states.size() * static_cast<size_t>(def->max_events), nullptr);
    Handler* h = internal_register(n, inst->command_name_.c_str(), nullptr, statemachine_internal,
                                   instance_handler_deleted, inst);
    if (!h) {
        Tcl_ResetResult(interp);
        return TCL_ERROR;
    }
    instances().push_back(std::move(owned));
    inst->netif_ = n;
    inst->handler_ = h;
    inst->number_ = instance_counter()++;
    inst->command_ = create_command<cmd_fsm_instance>(interp, inst->command_name_.c_str(), inst,
                                                      instance_command_deleted);
    InstanceHold hold(inst);
    if (!compile_filters(inst, n, interp)) {
        report_start_failure(inst, interp);  // once more, as the start is abandoned
        if (inst->command_) Tcl_DeleteCommandFromToken(interp, inst->command_);
        Tcl_ResetResult(interp);
        return TCL_ERROR;
    }
    if (!def->states.empty()) fsm_transition(inst, def->states.front().name.c_str());
    if (!inst->command_) {  // the first state's start action stopped it
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(inst->command_name_.c_str(), -1));
    return TCL_OK;
}

void fsm_transition(Instance* inst, const char* state_name) {
    Tcl_Interp* interp = inst->interp_;
    const State* s = inst->def_->find_state(state_name);
    if (!s) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Unknown state name \"%s\" in %s", state_name,
               inst->command_name_.c_str());
        return;
    }
    report(interp, kModule, __LINE__, LOG_CODE, "state transition: %s -> %s",
           inst->current_ ? inst->current_->name.c_str() : "null", s->name.c_str());
    if (s == inst->current_ || !inst->handler_) return;
    InstanceHold hold(inst);
    unsigned generation = ++inst->transitions_;
    if (const State* old = inst->current_) {
        for (const Event& e : old->events) {
            report(interp, kModule, __LINE__, LOG_CODE, "removing event \"%s:%d\" from state \"%s:%d\"",
                   e.head.word.c_str(), e.index, old->name.c_str(), old->index);
            if (e.kind == EV_INPDU) remove_filter(inst->filter_cell(old->index, e.index), false);
            if (e.kind == EV_TIMEOUT) cancel_timer(inst, timer_record_name(inst, e.argument));
        }
    }
    inst->current_ = s;
    for (const Event& e : s->events) {
        report(interp, kModule, __LINE__, LOG_CODE, "inserting event \"%s:%d\" from state \"%s:%d\"",
               e.head.word.c_str(), e.index, s->name.c_str(), s->index);
        if (e.kind == EV_INPDU) {
            insert_instance(interp, inst->netif_->ctx_, inst->command_name_.c_str(), &inst->handler_->matched_,
                            inst->filter_cell(s->index, e.index));
        } else if (e.kind == EV_START) {
            Posted p;
            p.kind = EV_START;
            post_event(inst, p);
            // The start action ended the instance or moved it on: the rest
            // of this state is no longer ours to insert.
            if (!inst->handler_ || inst->transitions_ != generation) return;
        }
    }
}

void fsm_post_named(Instance* inst, const char* name) {
    Posted p;
    p.kind = EV_EVENT;
    p.name = name;
    post_event(inst, p);
}

void fsm_set_timer(Instance* inst, const char* name, int period_ms) {
    std::string record = timer_record_name(inst, name);
    cancel_timer(inst, record);
    if (period_ms > 0 && inst->handler_) start_timer(inst, record, period_ms);
}

int statemachine_internal(Handler* h, Netif* n, PacketBuffer* b) {
    netif_decode(n, b);
    if (!h->matched_) return 0;
    auto* inst = static_cast<Instance*>(h->client_data_);
    if (!inst) return 0;
    inst->matched_.clear();
    for (FilterInstance* fi = n->ctx_ ? n->ctx_->stored : nullptr; fi; fi = fi->stored_next_)
        if (fi->owner_cell_ == &h->matched_) inst->matched_.push_back(fi->filter_);
    export_packet(inst->interp_, n->ctx_, b, n->base_node_);
    InstanceHold hold(inst);
    // A copy: the action may start another packet's dispatch.
    std::vector<Filter*> matched;
    matched.swap(inst->matched_);
    Posted p;
    p.kind = EV_INPDU;
    p.filters = &matched;
    p.buffer = b;
    post_event(inst, p);
    matched.swap(inst->matched_);
    return 1;
}

}  // namespace zm
