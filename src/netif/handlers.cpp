// Packet handlers: registration, reading into the read queue, dispatch, kept buffers and buffer lookup.
#include <poll.h>
#include <sys/time.h>
#include <tcl.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "core/block_wait.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "core/timeutil.h"
#include "netif/engine_link.h"
#include "netif/netif.h"

namespace zm {
namespace {

constexpr const char* kModule = "netif";

std::map<std::string, InternalProc, std::less<>>& internal_handlers() {
    static std::map<std::string, InternalProc, std::less<>> table;
    return table;
}

// Releases a handler that is no longer in the table.
void delete_handler(Netif* n, Handler* h) {
    report(n->interp_, kModule, __LINE__, LOG_CODE, "deleting pkt handler %s", h->name_.c_str());
    if (h->words_) Tcl_DecrRefCount(h->words_);
    h->words_ = nullptr;
    int remove_filters = h->delete_proc_ ? h->delete_proc_(h) : 1;
    if (remove_filters)
        for (Filter* f : h->filters_) engine_remove(f);
    h->filters_.clear();
}

std::unique_ptr<Handler> take_handler(Netif* n, Handler* h) {
    auto it = std::find_if(n->handlers_.begin(), n->handlers_.end(), [h](const auto& p) { return p.get() == h; });
    if (it == n->handlers_.end()) return nullptr;
    std::unique_ptr<Handler> owned = std::move(*it);
    n->handlers_.erase(it);
    return owned;
}

// Compiles one filter text for `h` and adds it to the interface's decode
// context; false (reported) when it does not compile.
bool add_filter(Netif* n, Handler* h, const char* text) {
    Filter* f = engine_compile(n->interp_, text, n->base_node_);
    if (!f) {
        report(n->interp_, kModule, __LINE__, LOG_FAULT, "Bad filter \"%s\" for packet handler \"%s\"", text,
               h->name_.c_str());
        return false;
    }
    if (!engine_insert(n->interp_, n->ctx_, h->name_.c_str(), &h->matched_, f)) {
        engine_remove(f);
        report(n->interp_, kModule, __LINE__, LOG_FAULT, "Failed to attach filter \"%s\" for packet handler \"%s\"",
               text, h->name_.c_str());
        return false;
    }
    h->filters_.push_back(f);
    return true;
}

bool add_filters(Netif* n, Handler* h, const RegisterOptions& o) {
    if (o.filterlist) {
        int count = 0;
        const char** elements = nullptr;
        if (Tcl_SplitList(nullptr, o.filterlist, &count, &elements) != TCL_OK) {
            errno = EINVAL;
            report_os_error(n->interp_, kModule, __LINE__, "bad filter list passed to \"%s\"", n->name_.c_str());
            return false;
        }
        bool ok = true;
        if (count == 0) ok = add_filter(n, h, o.filterlist);
        for (int i = 0; ok && i < count; ++i) ok = add_filter(n, h, elements[i]);
        Tcl_Free(reinterpret_cast<char*>(elements));
        return ok;
    }
    return !o.filter || add_filter(n, h, o.filter);
}

void enqueue(Netif* n, PacketBuffer* b) {
    n->rqueue_.push(b);
    netif_schedule_dispatch(n);
    if (n->pending_drops_) {
        report(n->interp_, kModule, __LINE__, LOG_INFO, "Dropped %ld buffers from read queue overflow on \"%s\"",
               static_cast<long>(n->pending_drops_), n->name_.c_str());
        n->pending_drops_ = 0;
    }
}

// Works out whether the command text is one command of literal words: then
// appending a blank and the handle only adds a word, and the command can run
// from its words (Tcl_EvalObjv) instead of parsing the text for every buffer.
void learn_words(Handler* h) {
    h->words_known_ = -1;
    const std::string& text = *h->command_;
    const char* end = text.c_str() + text.size();
    Tcl_Parse parse;
    if (Tcl_ParseCommand(nullptr, text.c_str(), static_cast<int>(text.size()), 0, &parse) != TCL_OK) return;
    bool literal = parse.numWords > 0 && parse.commandStart + parse.commandSize == end && parse.term == end;
    Tcl_Obj* words = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(words);
    Tcl_Token* token = parse.tokenPtr;
    for (int i = 0; literal && i < parse.numWords; ++i) {
        if (token->type != TCL_TOKEN_SIMPLE_WORD) {
            literal = false;
            break;
        }
        Tcl_ListObjAppendElement(nullptr, words, Tcl_NewStringObj(token[1].start, token[1].size));
        token += token->numComponents + 1;
    }
    Tcl_FreeParse(&parse);
    if (!literal) {
        Tcl_DecrRefCount(words);
        return;
    }
    h->words_ = words;
    h->words_known_ = 1;
}

// Runs the handler's command with the handle appended, in the global scope.
int run_command(Tcl_Interp* interp, Handler* h, uint32_t frame) {
    if (h->words_known_ == 0) learn_words(h);
    int count = 0;
    Tcl_Obj** words = nullptr;
    constexpr int kMaxWords = 16;
    if (h->words_known_ == 1 && Tcl_ListObjGetElements(nullptr, h->words_, &count, &words) == TCL_OK &&
        count < kMaxWords) {
        Tcl_Obj* objv[kMaxWords];
        for (int i = 0; i < count; ++i) objv[i] = words[i];
        objv[count] = Tcl_NewWideIntObj(frame);
        Tcl_Obj* list = h->words_;
        Tcl_IncrRefCount(list);  // the command may unregister its own handler
        Tcl_IncrRefCount(objv[count]);
        int code = Tcl_EvalObjv(interp, count + 1, objv, TCL_EVAL_GLOBAL);
        Tcl_DecrRefCount(objv[count]);
        Tcl_DecrRefCount(list);
        return code;
    }
    std::string script = *h->command_;
    script += ' ';
    script += std::to_string(frame);
    return Tcl_EvalEx(interp, script.c_str(), static_cast<int>(script.size()), TCL_EVAL_GLOBAL);
}

// Offers the buffer to one handler; true when the handler keeps it.
bool offer(Netif* n, Handler* h, PacketBuffer* b) {
    if (h->internal_) {
        int keep = h->internal_(h, n, b);
        h->matched_ = 0;
        return keep != 0;
    }
    netif_decode(n, b);
    if (!h->matched_) return false;
    h->matched_ = 0;
    if (!h->variable_ && !h->command_) return false;
    bool keep = false;
    if (h->variable_) {
        // An array, a missing namespace or an erring trace refuses the
        // append: say so, or the script would wait for handles that never come.
        // Appended as an object: asking for the value's text back (as
        // Tcl_SetVar2 does) would rebuild the whole list's text per buffer.
        if (!Tcl_SetVar2Ex(n->interp_, h->variable_->c_str(), nullptr, Tcl_NewWideIntObj(n->current_frame_),
                           TCL_GLOBAL_ONLY | TCL_APPEND_VALUE | TCL_LIST_ELEMENT | TCL_LEAVE_ERR_MSG)) {
            report(n->interp_, kModule, __LINE__, LOG_WARNING,
                   "Registered variable \"%s\" for netif %s not appended to: %s", h->variable_->c_str(),
                   n->name_.c_str(), Tcl_GetStringResult(n->interp_));
            Tcl_ResetResult(n->interp_);
        }
        keep = true;
    }
    if (h->command_) {
        Tcl_Interp* interp = n->interp_;
        if (run_command(interp, h, n->current_frame_) == TCL_OK) {
            if (Tcl_GetCharLength(Tcl_GetObjResult(interp)) > 0) keep = true;
        } else {
            report(interp, kModule, __LINE__, LOG_WARNING,
                   "Registered command for netif %s returned error \"%s\".  Unregistering!", n->name_.c_str(),
                   Tcl_GetStringResult(interp));
            unregister_handler(n, h->name_.c_str());
        }
        Tcl_ResetResult(interp);
    }
    return keep;
}

}  // namespace

int& registration_counter() {
    static int counter = 1;
    return counter;
}

void register_internal_handler(const char* name, InternalProc proc) { internal_handlers()[name] = proc; }

InternalProc find_internal_handler(const char* name) {
    auto& table = internal_handlers();
    auto it = table.find(name);
    return it == table.end() ? nullptr : it->second;
}

Handler* find_handler(Netif* n, const char* name) {
    for (auto& h : n->handlers_)
        if (!h->doomed_ && h->name_ == name) return h.get();
    return nullptr;
}

Handler* register_handler(Netif* n, const RegisterOptions& o) {
    InternalProc internal = nullptr;
    if (o.internal) {
        internal = find_internal_handler(o.internal);
        if (!internal) {
            report(n->interp_, kModule, __LINE__, LOG_FAULT, "Unknown internal handler: \"%s\"", o.internal);
            return nullptr;
        }
    }
    std::string name = o.name ? o.name : std::to_string(registration_counter());
    ++registration_counter();
    if (find_handler(n, name.c_str())) {
        report(n->interp_, kModule, __LINE__, LOG_FAULT, "Packet Handler \"%s\" already registered", name.c_str());
        return nullptr;
    }
    auto h = std::make_unique<Handler>();
    h->name_ = std::move(name);
    if (o.command) h->command_ = o.command;
    if (o.variable) h->variable_ = o.variable;
    h->internal_ = internal;
    if (!add_filters(n, h.get(), o)) {
        for (Filter* f : h->filters_) engine_remove(f);
        return nullptr;
    }
    n->handlers_.push_back(std::move(h));
    return n->handlers_.back().get();
}

Handler* internal_register(Netif* n, const char* name, const char* filter, InternalProc proc, HandlerDeleteProc del,
                           void* client_data) {
    RegisterOptions o;
    o.name = name;
    o.filter = filter;
    Handler* h = register_handler(n, o);
    if (!h) return nullptr;
    h->internal_ = proc;
    h->delete_proc_ = del;
    h->client_data_ = client_data;
    return h;
}

void unregister_handler(Netif* n, const char* name) {
    Handler* h = find_handler(n, name);
    if (!h) return;
    if (n->depth_ > 0) {
        report(n->interp_, kModule, __LINE__, LOG_CODE, "scheduling deletion for pkt handler %s", name);
        h->doomed_ = true;
        n->deferred_.push_back(h);
        return;
    }
    std::unique_ptr<Handler> owned = take_handler(n, h);
    delete_handler(n, owned.get());
}

void netif_run_deferred(Netif* n) {
    while (!n->deferred_.empty() && n->depth_ == 0) {
        Handler* h = n->deferred_.front();
        n->deferred_.erase(n->deferred_.begin());
        std::unique_ptr<Handler> owned = take_handler(n, h);
        if (owned) delete_handler(n, owned.get());
    }
}

void netif_release_handlers(Netif* n) {
    n->deferred_.clear();
    while (!n->handlers_.empty()) {
        std::unique_ptr<Handler> owned = std::move(n->handlers_.back());
        n->handlers_.pop_back();
        delete_handler(n, owned.get());
    }
}

// ---- kept buffers and lookup -----------------------------------------------

void keep_buffer(Netif* n, PacketBuffer* b) {
    while (n->saved_list_.length >= n->savedhw_ && n->saved_list_.length > 0) {
        PacketBuffer* oldest = n->saved_list_.pop();
        if (n->saved_.find(oldest->frame) == oldest) n->saved_.erase(oldest->frame);
        buffer_free(oldest);
    }
    n->saved_list_.push(b);
    n->saved_.insert(b);
}

void HandlerWait::handler_deleted() {
    handler_gone = true;
    if (!waiting) return;
    waiting = false;
    block_signal(kSignalStop, 0);
}

PacketBuffer* lookup_buffer(Netif* n, const char* handle) {
    if (!handle) return nullptr;
    uint32_t frame = static_cast<uint32_t>(std::strtoul(handle, nullptr, 0));
    if (frame == 0) return nullptr;
    if (n->current_ && frame == n->current_frame_) return n->current_;
    if (PacketBuffer* b = n->saved_.find(frame)) return b;
    if (!n->opened_ || !n->media_->fetch) return nullptr;
    PacketBuffer* b = n->media_->fetch(n->port_, frame);
    if (b) keep_buffer(n, b);
    return b;
}

void netif_decode(Netif* n, PacketBuffer* b) {
    if (b == n->current_) {
        if (n->current_decoded_) return;
        n->current_decoded_ = true;
        engine_decode(b, n->base_node_, n->ctx_);
        return;
    }
    if (!engine_has_tree(b)) engine_decode(b, n->base_node_, nullptr);
}

// ---- reading -------------------------------------------------------------------

namespace {

// Turns readable events off while the read queue is full; resume_reading
// turns them back on (unless the script disabled the interface meanwhile).
void pause_reading(Netif* n) {
    n->paused_ = true;
    n->event_mask_ &= ~TCL_READABLE;
    netif_update_events(n);
}

void resume_reading(Netif* n) {
    n->paused_ = false;
    if (n->media_->overflow) {
        n->media_->overflow(n->port_, nullptr);
        return;
    }
    if (n->generic_events_ && n->enabled_) {
        n->event_mask_ |= TCL_READABLE;
        netif_update_events(n);
    }
}

}  // namespace

void netif_read_packets(Netif* n) {
    MediaClass* media = n->media_;
    if (!media->read) return;
    bool met_full = false;
    while (n->generic_events_) {
        // A media without an overflow operation (a socket) stops at a full
        // queue: what is ready stays in the source, whose own buffer holds
        // it or drops it (the media counts those drops), instead of being
        // read only to be thrown away while dispatch falls further behind.
        if (!media->overflow && n->rqueue_.length >= n->readhw_ && n->rqueue_.length > 0) {
            pause_reading(n);
            break;
        }
        PacketBuffer* b = media->read(n->port_);
        if (!b) break;
        if (is_end_of_input(b)) {
            report(n->interp_, kModule, __LINE__, LOG_INFO, "End-of-file on netif \"%s\"", n->name_.c_str());
            netif_stop_events(n);
            break;
        }
        if (b->sec == 0 && b->usec == 0) buffer_stamp_now(b);
        ++n->rpktcount_;
        if (b->frame == 0) b->frame = n->rpktcount_;
        if (n->rqueue_.length < n->readhw_) {
            enqueue(n, b);
            if (met_full) break;
            continue;
        }
        met_full = true;
        if (media->overflow) {
            n->paused_ = true;
            if (media->overflow(n->port_, b) == 0) {
                enqueue(n, b);
                break;
            }
        }
        buffer_free(b);
        ++n->rdropcount_;
        ++n->pending_drops_;
    }
}

void netif_count_drops(Netif* n, uint32_t count) {
    if (!n) return;
    n->rdropcount_ += count;
    n->pending_drops_ += count;
}

// ---- dispatch --------------------------------------------------------------------

namespace {

// One host event dispatches a burst of at most this many buffers.
constexpr int kBurstBuffers = 128;
// Bursts run as events of the host's event queue, which the host serves
// without polling its event sources. While a read queue drains, a burst runs
// as an idle callback instead at least this often: the host polls before it
// runs idle callbacks, so timers and other files get their turn. A poll is a
// round trip to the host's notifier thread, paid per slice, not per buffer.
constexpr int64_t kPollSliceUs = 2000;

int64_t monotonic_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct DispatchEvent {
    Tcl_Event header;
    Netif* netif;
};

void dispatch_burst(Netif* n);

int dispatch_event(Tcl_Event* event, int flags) {
    if (!(flags & (TCL_FILE_EVENTS | TCL_IDLE_EVENTS))) return 0;
    Netif* n = reinterpret_cast<DispatchEvent*>(event)->netif;
    guard_void(n->interp_, kModule, "Dispatch", [n]() { dispatch_burst(n); });
    return 1;
}

void dispatch_idle(ClientData data) {
    auto* n = static_cast<Netif*>(data);
    netif_note_poll(n);
    guard_void(n->interp_, kModule, "Dispatch", [n]() { dispatch_burst(n); });
}

int is_dispatch_of(Tcl_Event* event, ClientData netif) {
    return event->proc == dispatch_event && reinterpret_cast<DispatchEvent*>(event)->netif == netif;
}

// What a burst compares after each buffer: a change means a waiting script
// must see what the handlers did before more buffers are dispatched.
// (Handlers deleted during a buffer are gone from the table by its end, or
// wait in the deferred list while an outer dispatch runs.)
struct BurstMarks {
    uint64_t signals;
    size_t handlers;
    size_t deferred;
    bool enabled;
    bool events;

    explicit BurstMarks(const Netif* n)
        : signals(block_signal_count()), handlers(n->handlers_.size()), deferred(n->deferred_.size()),
          enabled(n->enabled_), events(n->generic_events_) {}
    bool changed(const Netif* n) const {
        return n->hidden_ || signals != block_signal_count() || handlers != n->handlers_.size() ||
               deferred != n->deferred_.size() || enabled != n->enabled_ || events != n->generic_events_;
    }
};

// Lowers the processing depth; at 0 runs the deferred deletions and releases
// an interface whose command went away. False when it was released.
bool leave(Netif* n) {
    if (--n->depth_ > 0) return true;
    netif_run_deferred(n);
    if (!n->hidden_) return true;
    netif_destroy(n);
    return false;
}

// Dispatches one buffer. False when the interface was released.
bool dispatch_one(Netif* n, PacketBuffer* b, long queued) {
    // A dispatch nested inside a handler of this interface keeps the outer
    // buffer's state (current buffer, matched flags) and restores it after.
    PacketBuffer* outer = n->current_;
    uint32_t outer_frame = n->current_frame_;
    bool outer_decoded = n->current_decoded_;
    std::vector<int> outer_flags;
    if (n->depth_ > 0)
        for (auto& h : n->handlers_) outer_flags.push_back(h->matched_);
    for (auto& h : n->handlers_) h->matched_ = 0;

    bool lent = b->decode == nullptr;
    n->current_ = b;
    n->current_frame_ = b->frame;
    n->current_decoded_ = false;
    ++n->depth_;
    bool kept = false;
    // A failing handler must not stop the buffer's release and the restore below.
    guard_void(n->interp_, kModule, ("Dispatch on netif \"" + n->name_ + "\"").c_str(), [&] {
        // Handlers registered while this buffer is dispatched wait for the next one.
        size_t count = n->handlers_.size();
        for (size_t i = 0; i < count && i < n->handlers_.size(); ++i) {
            Handler* h = n->handlers_[i].get();
            if (h->doomed_) continue;
            if (offer(n, h, b)) kept = true;
        }
    });
    if (lent) engine_drop_decode(b);
    // Kept only now, so that a nested dispatch cannot evict the buffer while
    // its handlers still run.
    if (kept)
        keep_buffer(n, b);
    else
        buffer_free(b);
    n->current_ = outer;
    n->current_frame_ = outer_frame;
    n->current_decoded_ = outer_decoded;
    if (!outer_flags.empty())
        for (size_t i = 0; i < outer_flags.size() && i < n->handlers_.size(); ++i)
            n->handlers_[i]->matched_ = outer_flags[i];
    if (!leave(n)) return false;
    if (n->paused_ && queued <= n->readlw_) resume_reading(n);
    return true;
}

// Reads what the media has ready without waiting for the host's poll (a
// readable event the interface notices itself), so that the read queue
// refills from dispatch and the host's notifier is asked once per slice
// rather than once per refill. False when the interface was released.
bool read_ready(Netif* n) {
    if (!n->generic_events_ || !(n->event_mask_ & TCL_READABLE) || n->port_.descriptor < 0) return true;
    if (n->rqueue_.length >= n->readhw_) return true;
    pollfd p{n->port_.descriptor, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLIN)) return true;
    ++n->depth_;
    guard_void(n->interp_, kModule, ("Event handling on netif \"" + n->name_ + "\"").c_str(),
               [&] { netif_read_packets(n); });
    return leave(n);
}

bool slice_over(const Netif* n) { return monotonic_us() - n->polled_us_ >= kPollSliceUs; }

// The next burst is scheduled before the handlers run, so a handler that
// waits in the event loop (a nested receive) still gets later buffers. A
// burst also ends when the slice is over, and its successor then waits for
// the host's poll.
void dispatch_burst(Netif* n) {
    n->dispatch_scheduled_ = false;
    BurstMarks marks(n);
    bool yield = false;
    for (int i = 1; i <= kBurstBuffers; ++i) {
        PacketBuffer* b = n->rqueue_.pop();
        if (!b) break;
        long queued = n->rqueue_.length;
        if (queued > 0) netif_schedule_dispatch(n);
        if (!dispatch_one(n, b, queued)) return;
        if (marks.changed(n)) break;
        if (i % 16 == 0 && slice_over(n)) {
            yield = true;
            break;
        }
    }
    if (!marks.changed(n) && !read_ready(n)) return;
    if (n->rqueue_.length == 0) return;
    if (yield || slice_over(n)) netif_cancel_dispatch(n);
    netif_schedule_dispatch(n);
}

}  // namespace

void netif_note_poll(Netif* n) { n->polled_us_ = monotonic_us(); }

void netif_schedule_dispatch(Netif* n) {
    if (n->dispatch_scheduled_) return;
    n->dispatch_scheduled_ = true;
    if (!slice_over(n)) {
        auto* event = reinterpret_cast<DispatchEvent*>(Tcl_Alloc(sizeof(DispatchEvent)));
        event->header.proc = dispatch_event;
        event->netif = n;
        Tcl_QueueEvent(&event->header, TCL_QUEUE_TAIL);
    } else {
        Tcl_DoWhenIdle(dispatch_idle, n);
    }
}

void netif_cancel_dispatch(Netif* n) {
    Tcl_CancelIdleCall(dispatch_idle, n);
    Tcl_DeleteEvents(is_dispatch_of, n);
    n->dispatch_scheduled_ = false;
}

void netif_dispatch(void* data) {
    auto* n = static_cast<Netif*>(data);
    guard_void(n->interp_, kModule, "Dispatch", [n]() { dispatch_burst(n); });
}

}  // namespace zm
