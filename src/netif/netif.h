// Network interfaces: the interface record, its packet handlers, and the operations other modules call.
//
// An interface joins one media class to one base node of the protocol
// database. It owns the media's state, a buffer pool sized for the base
// node's largest frame, the read and write queues, the packet handlers with
// their filters (in its decode context) and the buffers scripts still refer
// to (the saved buffers). Scripts drive it through a command named after it;
// the command's delete callback is the only destructor.
//
// Ownership of packet buffers: whoever holds a buffer last owns it — the
// media while it fills it, the read queue, the dispatching interface, the
// saved buffers, or the send path once handed to netif_send_buffer.
//
// Everything here runs on the interpreter's thread. While handlers of an
// interface run (its processing depth is above zero) handler deletions are
// deferred and the interface cannot be closed; deleting its command then
// only hides it, and the record is released when the depth returns to zero.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "media/media.h"

struct Tcl_Interp;
struct Tcl_Command_;
struct Tcl_Obj;

namespace zm {

struct Node;
struct Filter;
struct DecodeContext;
struct Netif;
struct Handler;

// Called for every buffer dispatched to an internal handler, matched or not
// (it reads handler->matched_ itself); non-zero keeps the buffer.
using InternalProc = int (*)(Handler* handler, Netif* netif, PacketBuffer* buffer);
// Called when a handler is deleted; non-zero (or no procedure) lets the
// interface remove the handler's filters from its decode context.
using HandlerDeleteProc = int (*)(Handler* handler);

struct Handler {
    std::string name_;
    int matched_ = 0;                       // set by the filter engine during a decode
    std::optional<std::string> command_;    // script prefix, handle appended
    std::optional<std::string> variable_;   // global variable the handle is appended to
    InternalProc internal_ = nullptr;
    HandlerDeleteProc delete_proc_ = nullptr;
    void* client_data_ = nullptr;
    std::vector<Filter*> filters_;          // compiled filters in the interface's decode context
    bool doomed_ = false;                   // awaiting deferred deletion: skipped by dispatch and lookups
    // The command's words when its text is one command of literal words
    // (run with the handle as one more word, without parsing the text again);
    // worked out at the first dispatch, released with the handler.
    int words_known_ = 0;                   // 0 not yet, 1 words_ holds them, -1 the text runs as a script
    Tcl_Obj* words_ = nullptr;
};

// A singly linked FIFO of buffers through their `next` field; a buffer is in
// at most one such list at a time, so queueing never allocates.
struct BufferQueue {
    PacketBuffer* head = nullptr;
    PacketBuffer* tail = nullptr;
    long length = 0;

    void push(PacketBuffer* b);
    PacketBuffer* pop();
    void release_all();  // buffer_free on every queued buffer
};

// Saved buffers by frame number: open addressing, grown only when the saved
// limit rises, so keeping a buffer does not allocate.
class FrameTable {
public:
    PacketBuffer* find(uint32_t frame) const;
    void insert(PacketBuffer* b);  // replaces an entry with the same frame
    void erase(uint32_t frame);
    void clear();

private:
    void grow();
    std::vector<PacketBuffer*> slots_;
    size_t count_ = 0;
};

// Sub-commands implemented by other modules (the encoder's send and pktsend,
// the renderer framework, the state-machine runtime) are entered by name in
// one table when their module registers. `argv` holds the interface command's
// whole word vector (argv[0] the interface name, argv[1] the sub-command,
// argv[argc] null, room for parse_options to compact it). Registering a name
// again replaces its procedure.
using NetifSubcommand = int (*)(Netif* netif, Tcl_Interp* interp, int argc, const char** argv);
void register_netif_subcommand(const char* name, NetifSubcommand proc);
// The procedure registered under `name`, or null.
NetifSubcommand find_netif_subcommand(const char* name);

struct Netif {
    std::string name_;
    MediaClass* media_ = nullptr;
    Node* base_node_ = nullptr;
    Tcl_Interp* interp_ = nullptr;
    Tcl_Command_* command_ = nullptr;
    int depth_ = 0;                          // > 0 while its handlers run
    std::vector<std::unique_ptr<Handler>> handlers_;  // registration order
    std::vector<Handler*> deferred_;         // doomed handlers, deleted when depth returns to 0
    uint32_t current_frame_ = 0;
    PacketBuffer* current_ = nullptr;
    bool current_decoded_ = false;           // the current buffer went through the decoder
    bool current_lent_ = false;              // its decode tree is dropped when dispatch ends
    DecodeContext* ctx_ = nullptr;           // from create_context, freed by release_context
    uint32_t rdropcount_ = 0;
    uint32_t pending_drops_ = 0;
    uint32_t rpktcount_ = 0;
    uint32_t wdropcount_ = 0;
    uint32_t wpktcount_ = 0;
    bool dispatch_scheduled_ = false;
    int64_t polled_us_ = 0;                  // monotonic time the host last polled its sources for it
    BufferQueue rqueue_;
    int readhw_ = 500;
    int readlw_ = 350;
    bool paused_ = false;
    bool drain_scheduled_ = false;
    BufferQueue wqueue_;
    int writehw_ = 50;
    FrameTable saved_;
    BufferQueue saved_list_;                 // oldest first; the tail is `lastsaved`
    int savedhw_ = 500;
    double scale_ = 1.0;
    Pool pool_;
    bool pool_ready_ = false;
    bool opened_ = false;                    // the media's open succeeded; close is due
    MediaPort port_;
    bool generic_events_ = false;            // the generic event procedure is installed
    int event_mask_ = 0;                     // TCL_READABLE / TCL_WRITABLE / TCL_EXCEPTION
    int registered_mask_ = 0;                // mask of the file handler currently installed
    bool enabled_ = false;                   // the script asked for readable events
    bool hidden_ = false;                    // command deleted while processing: release at depth 0

    Netif() = default;
    Netif(const Netif&) = delete;
    Netif& operator=(const Netif&) = delete;
};

// ---- interfaces (netif.cpp) ----------------------------------------------

// Registry lookup; null when no interface has that name.
Netif* find_netif(const char* name);
// Names of every interface, in registry order.
std::vector<std::string> netif_names();

// Creates an interface from the `netif` word vector (argv[0] "netif", then
// name, media class, base node and the media's options; argv[argc] null).
// Reports and returns null on failure, leaving nothing behind. The caller
// creates the command and calls netif_attach_command.
Netif* netif_create(Tcl_Interp* interp, int argc, const char** argv);
void netif_attach_command(Netif* netif, Tcl_Command_* command);
// The command's delete callback: releases the interface, or hides it while
// its handlers run (released when the depth returns to 0).
void netif_command_deleted(Netif* netif);
// Releases the interface at once (no reports); used when creation fails
// after the record was built, and by the delete path.
void netif_destroy(Netif* netif);

// Releases every interface (process exit); their commands are left in place.
void netif_destroy_all();

// Hands a buffer to the media (0), or queues, drops or loses it (1). The
// interface owns the buffer from the call on.
int netif_send_buffer(Netif* netif, PacketBuffer* buffer);
// The file media's overflow operation: with a buffer turns readable events
// off and returns 0 (the buffer is queued); with null turns them back on
// (unless the script disabled the interface). Returns 1 and does nothing
// when the generic event procedure is not installed.
int flow_control(Netif* netif, PacketBuffer* buffer);

// enable / disable: only while the generic event procedure is installed.
void netif_enable(Netif* netif, bool on);
// Installs, changes or removes the host file handler for event_mask_.
void netif_update_events(Netif* netif);
// Ends event watching for good (end of input, exception).
void netif_stop_events(Netif* netif);

// ---- handlers, reading, dispatch (handlers.cpp) --------------------------

struct RegisterOptions {
    const char* internal = nullptr;
    const char* filter = "";          // null: no filter at all
    const char* filterlist = nullptr;
    const char* variable = nullptr;
    const char* command = nullptr;
    const char* name = nullptr;
};

// The register sub-command's work after option parsing: checks the internal
// handler name, takes the registration counter, compiles the filters and
// enters the handler. Reports and returns null on failure (nothing is left
// behind: a filter that fails to compile fails the registration).
Handler* register_handler(Netif* netif, const RegisterOptions& options);
// `register` with "-name", name and "-filter", filter (null: no filter), then
// the procedure fields filled in. Null when registration failed.
Handler* internal_register(Netif* netif, const char* name, const char* filter, InternalProc proc,
                           HandlerDeleteProc del, void* client_data);
// What a command waiting in block_wait shares with the internal handler it
// registered (held through a shared pointer: whichever lets go last frees it).
struct HandlerWait {
    bool waiting = true;        // the command is still in its blocking wait
    bool handler_gone = false;  // the handler was deleted (with its interface, maybe)

    // For the handler's delete procedure: a wait still pending is ended with
    // kSignalStop, so the command never blocks on a freed interface.
    void handler_deleted();
};

// Deletes the named handler (deferred while handlers run); unknown names are
// ignored.
void unregister_handler(Netif* netif, const char* name);
// The live handler with that name, or null.
Handler* find_handler(Netif* netif, const char* name);

// Internal handler registry: name -> procedure (process-wide).
void register_internal_handler(const char* name, InternalProc proc);
InternalProc find_internal_handler(const char* name);

// The handle's buffer: the one being dispatched, a saved one, or one the
// media re-reads (which is then kept). Null when none.
PacketBuffer* lookup_buffer(Netif* netif, const char* handle);
// Adds a buffer to the saved buffers, evicting the oldest beyond savedhw.
void keep_buffer(Netif* netif, PacketBuffer* buffer);
// Decodes the buffer being dispatched once (with the interface's decode
// context, so the handlers' matched flags are set); other buffers are
// decoded only when they have no decode tree yet.
void netif_decode(Netif* netif, PacketBuffer* buffer);

// Readable event work: reads until the media has nothing more.
void netif_read_packets(Netif* netif);
// Counts buffers the media lost before it could read them (a socket whose
// own buffer overflowed while reading was paused) as read-queue drops.
void netif_count_drops(Netif* netif, uint32_t count);
// Notes that the host has just polled its event sources (a file event of
// the interface is running): dispatch may run without polling for a while.
void netif_note_poll(Netif* netif);
// Schedules the dispatch of the read queue's head if none is pending.
void netif_schedule_dispatch(Netif* netif);
// Removes a pending dispatch (interface deletion).
void netif_cancel_dispatch(Netif* netif);
// Dispatches a burst of buffers from the read queue (an event or idle
// callback); the burst ends early once a waiting script must see what a
// handler did (a wait was signalled, a handler or the interface was deleted,
// the interface was disabled or reached the end of its input).
void netif_dispatch(void* netif);
// Releases every handler (no deferral), their filters, and the deferred ones.
void netif_release_handlers(Netif* netif);
// Runs the deferred handler deletions (depth must be 0).
void netif_run_deferred(Netif* netif);

// Process-wide registration counter (next default handler name).
int& registration_counter();

// ---- receive (receive.cpp) -----------------------------------------------

// The receive sub-command; argv as for NetifSubcommand.
int netif_receive(Netif* netif, Tcl_Interp* interp, int argc, const char** argv);

// Reads a time value in seconds (a receive time-out, a state-machine timer);
// false after reporting "Bogus time value" from `module`.
bool parse_time_value(Tcl_Interp* interp, const char* module, const char* text, double* seconds);

}  // namespace zm
