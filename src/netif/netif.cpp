// The interface record: registry, creation and deletion, event sources, the send path and flow control.
#include "netif/netif.h"

#include <tcl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <map>
#include <string>

#include "core/report.h"
#include "core/tcl_entry.h"
#include "filter/filter.h"
#include "netif/engine_link.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr const char* kModule = "netif";
constexpr uint32_t kDefaultFrameSize = 1518;
// The largest room a buffer can hold: its data offsets are 16 bits (a
// 65535-byte maxmtu, as for UDP sockets, is cut to this).
constexpr uint32_t kMaxFrameSize = 0xFFFFu - kBufferDataOffset;

// Interfaces in creation order; the registry owns the records.
std::vector<std::unique_ptr<Netif>>& registry() {
    static std::vector<std::unique_ptr<Netif>> netifs;
    return netifs;
}

void event_proc(ClientData data, int mask);
void drain_writes(ClientData data);

void remove_event_source(Netif* n) {
    if (n->registered_mask_ != 0 && n->port_.descriptor >= 0) Tcl_DeleteFileHandler(n->port_.descriptor);
    n->registered_mask_ = 0;
}

void writable_event(Netif* n) {
    if (!n->media_->write || n->media_->write(n->port_, nullptr) != 0) return;
    n->event_mask_ &= ~TCL_WRITABLE;
    netif_update_events(n);
    if (!n->drain_scheduled_) {
        n->drain_scheduled_ = true;
        Tcl_DoWhenIdle(drain_writes, n);
    }
}

void exception_event(Netif* n) {
    report_os_error(n->interp_, kModule, __LINE__, "Exception detected on netif \"%s\"", n->name_.c_str());
    netif_stop_events(n);
}

// Readable events raise the processing depth too, so that a script run by
// the reporter cannot free the interface under the read loop.
void event_proc(ClientData data, int mask) {
    auto* n = static_cast<Netif*>(data);
    netif_note_poll(n);
    ++n->depth_;
    guard_void(n->interp_, kModule, "Event handling", [n, mask]() {
        if (mask & TCL_EXCEPTION)
            exception_event(n);
        else {
            if ((mask & TCL_READABLE) && n->generic_events_) netif_read_packets(n);
            if ((mask & TCL_WRITABLE) && n->generic_events_) writable_event(n);
        }
    });
    if (--n->depth_ == 0) {
        netif_run_deferred(n);
        if (n->hidden_) netif_destroy(n);
    }
}

void drain_writes(ClientData data) {
    auto* n = static_cast<Netif*>(data);
    n->drain_scheduled_ = false;
    guard_void(n->interp_, kModule, "Write drain", [n]() {
        while (PacketBuffer* b = n->wqueue_.pop()) {
            if (!n->media_->write) {
                buffer_free(b);
                continue;
            }
            errno = 0;
            if (n->media_->write(n->port_, b) != 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
                n->event_mask_ |= TCL_WRITABLE;
                netif_update_events(n);
                return;
            }
        }
    });
}

int netif_flow_control_op(Netif* netif, PacketBuffer* buffer) { return flow_control(netif, buffer); }

}  // namespace

// ---- queues and the saved table ------------------------------------------

void BufferQueue::push(PacketBuffer* b) {
    b->next = nullptr;
    if (tail)
        tail->next = b;
    else
        head = b;
    tail = b;
    ++length;
}

PacketBuffer* BufferQueue::pop() {
    PacketBuffer* b = head;
    if (!b) return nullptr;
    head = b->next;
    if (!head) tail = nullptr;
    b->next = nullptr;
    --length;
    return b;
}

void BufferQueue::release_all() {
    while (PacketBuffer* b = pop()) buffer_free(b);
}

namespace {
size_t slot_of(uint32_t frame, size_t mask) { return (frame * 2654435761u) & mask; }
}  // namespace

PacketBuffer* FrameTable::find(uint32_t frame) const {
    if (slots_.empty()) return nullptr;
    size_t mask = slots_.size() - 1;
    for (size_t i = slot_of(frame, mask);; i = (i + 1) & mask) {
        PacketBuffer* b = slots_[i];
        if (!b) return nullptr;
        if (b->frame == frame) return b;
    }
}

void FrameTable::grow() {
    std::vector<PacketBuffer*> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, nullptr);
    count_ = 0;
    for (PacketBuffer* b : old)
        if (b) insert(b);
}

void FrameTable::insert(PacketBuffer* b) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    size_t mask = slots_.size() - 1;
    for (size_t i = slot_of(b->frame, mask);; i = (i + 1) & mask) {
        if (!slots_[i]) {
            slots_[i] = b;
            ++count_;
            return;
        }
        if (slots_[i]->frame == b->frame) {
            slots_[i] = b;
            return;
        }
    }
}

void FrameTable::erase(uint32_t frame) {
    if (slots_.empty()) return;
    size_t mask = slots_.size() - 1;
    size_t i = slot_of(frame, mask);
    while (slots_[i] && slots_[i]->frame != frame) i = (i + 1) & mask;
    if (!slots_[i]) return;
    slots_[i] = nullptr;
    --count_;
    // Backward-shift the run that follows so lookups never stop early.
    for (size_t j = (i + 1) & mask; slots_[j]; j = (j + 1) & mask) {
        size_t home = slot_of(slots_[j]->frame, mask);
        bool movable = (j > i) ? (home <= i || home > j) : (home <= i && home > j);
        if (movable) {
            slots_[i] = slots_[j];
            slots_[j] = nullptr;
            i = j;
        }
    }
}

void FrameTable::clear() {
    std::fill(slots_.begin(), slots_.end(), nullptr);
    count_ = 0;
}

// ---- registry --------------------------------------------------------------

namespace {
std::map<std::string, NetifSubcommand>& subcommand_table() {
    static std::map<std::string, NetifSubcommand> table;
    return table;
}
}  // namespace

void register_netif_subcommand(const char* name, NetifSubcommand proc) { subcommand_table()[name] = proc; }

NetifSubcommand find_netif_subcommand(const char* name) {
    auto& table = subcommand_table();
    auto it = table.find(name);
    return it == table.end() ? nullptr : it->second;
}

Netif* find_netif(const char* name) {
    if (!name) return nullptr;
    for (auto& n : registry())
        if (n->name_ == name) return n.get();
    return nullptr;
}

std::vector<std::string> netif_names() {
    std::vector<std::string> names;
    for (auto& n : registry())
        if (!n->hidden_) names.push_back(n->name_);
    return names;
}

// ---- creation and deletion -------------------------------------------------

Netif* netif_create(Tcl_Interp* interp, int argc, const char** argv) {
    if (argc < 4) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s",
               "usage: netif {name} {media class} {base-node-name} ?options?");
        return nullptr;
    }
    const char* name = argv[1];
    if (find_netif(name)) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Interface already exists: \"%s\"", name);
        return nullptr;
    }
    if (std::strlen(name) > kMediaNameMax || name[0] == '\0') {
        report(interp, kModule, __LINE__, LOG_FAULT,
               "usage: netif {name of 1 to %zu characters} {media class} {base-node-name} ?options?", kMediaNameMax);
        return nullptr;
    }
    auto owned = std::make_unique<Netif>();
    Netif* n = owned.get();
    n->name_ = name;
    n->media_ = find_media_class(argv[2]);
    if (!n->media_) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Unknown media class \"%s\"", argv[2]);
        return nullptr;
    }
    n->ctx_ = engine_create_context();
    if (!n->ctx_) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Failed allocing decode_t");
        return nullptr;
    }
    // From here on the record holds resources: enter it so netif_destroy finds it.
    registry().push_back(std::move(owned));
    n->base_node_ = find_node(argv[3]);
    if (!n->base_node_) {
        report(interp, kModule, __LINE__, LOG_FAULT,
               "Can't find encaps type \"%s\".\n  This may be due to one of the following reasons:\n"
               "  1) You haven't loaded the pdl's (to do this type \"pdlc all.pdlc\").\n"
               "  2) You typed the name of the encaps incorrectly",
               argv[3]);
        netif_destroy(n);
        return nullptr;
    }
    if (!n->base_node_->is_base()) {
        report(interp, kModule, __LINE__, LOG_FAULT,
               "\"%s\" isn't a legal encaps type (must have BASE modifier in its pdl)", argv[3]);
        netif_destroy(n);
        return nullptr;
    }
    n->interp_ = interp;
    if (n->media_->open) {
        uint32_t room = kDefaultFrameSize;
        NodeAttr* mtu = find_node_attr(n->base_node_, NATTR_MAXMTU);
        if (!mtu || mtu->number_ == 0) {
            report(interp, kModule, __LINE__, LOG_WARNING, "Base node %s doesn't have maxmtu specified, defaulting to %u",
                   n->base_node_->name_.c_str(), kDefaultFrameSize);
        } else {
            room = std::min(mtu->number_, kMaxFrameSize);
        }
        pool_init(&n->pool_, room);
        n->pool_ready_ = true;
        n->port_.netif = n;
        n->port_.interp = interp;
        n->port_.name = n->name_.c_str();
        n->port_.base_node = n->base_node_->name_.c_str();
        n->port_.pool = &n->pool_;
        n->port_.flow_control = netif_flow_control_op;
        if (n->media_->open(n->port_, argc, argv) != 0) {
            netif_destroy(n);
            return nullptr;
        }
        n->opened_ = true;
        if (n->port_.generic_events) {
            n->generic_events_ = true;
            n->event_mask_ = 0;
            netif_update_events(n);
        }
    }
    return n;
}

void netif_attach_command(Netif* netif, Tcl_Command_* command) { netif->command_ = command; }

void netif_command_deleted(Netif* n) {
    n->command_ = nullptr;
    if (n->depth_ > 0) {
        report(n->interp_, kModule, __LINE__, LOG_FAULT,
               "Netif deleted while processing its packets...\n\tThe netif will become inaccessible, but will not "
               "truly be deleted,\n\t\n\twhich probably not what you intended.");
        n->hidden_ = true;
        return;
    }
    netif_destroy(n);
}

void netif_destroy(Netif* n) {
    netif_cancel_dispatch(n);
    Tcl_CancelIdleCall(drain_writes, n);
    remove_event_source(n);
    n->generic_events_ = false;
    if (n->opened_ && n->media_->close) n->media_->close(n->port_);
    n->opened_ = false;
    n->port_.state.reset();
    netif_release_handlers(n);
    if (n->ctx_) engine_release_context(n->ctx_);
    n->ctx_ = nullptr;
    n->rqueue_.release_all();
    n->wqueue_.release_all();
    n->saved_.clear();
    n->saved_list_.release_all();
    if (n->pool_ready_) pool_destroy(&n->pool_);
    auto& netifs = registry();
    auto it = std::find_if(netifs.begin(), netifs.end(), [n](const auto& p) { return p.get() == n; });
    if (it != netifs.end()) netifs.erase(it);  // frees the record
}

void netif_destroy_all() {
    while (!registry().empty()) {
        Netif* n = registry().back().get();
        if (n->command_) {
            // The command must not reach the freed record.
            Tcl_Command token = reinterpret_cast<Tcl_Command>(n->command_);
            Tcl_CmdInfo info;
            if (Tcl_GetCommandInfoFromToken(token, &info)) {
                info.objClientData = nullptr;
                info.deleteProc = nullptr;
                info.deleteData = nullptr;
                Tcl_SetCommandInfoFromToken(token, &info);
            }
        }
        netif_destroy(n);
    }
}

// ---- events ------------------------------------------------------------------

void netif_update_events(Netif* n) {
    int fd = n->port_.descriptor;
    if (!n->generic_events_ || fd < 0) {
        remove_event_source(n);
        return;
    }
    if (n->event_mask_ == n->registered_mask_) return;
    if (n->event_mask_ == 0)
        Tcl_DeleteFileHandler(fd);
    else
        Tcl_CreateFileHandler(fd, n->event_mask_, event_proc, n);
    n->registered_mask_ = n->event_mask_;
}

void netif_stop_events(Netif* n) {
    remove_event_source(n);
    n->event_mask_ = 0;
    n->generic_events_ = false;
}

void netif_enable(Netif* n, bool on) {
    if (!n->generic_events_) return;
    n->enabled_ = on;
    if (on)
        n->event_mask_ |= TCL_READABLE;
    else
        n->event_mask_ &= ~TCL_READABLE;
    netif_update_events(n);
    report(n->interp_, kModule, __LINE__, LOG_TRACE, on ? "Netif %s enabled" : "Netif %s disabled", n->name_.c_str());
}

int flow_control(Netif* n, PacketBuffer* buffer) {
    if (!n->generic_events_) return 1;
    if (buffer)
        n->event_mask_ &= ~TCL_READABLE;
    else if (n->enabled_)  // a script's disable outlasts the pause
        n->event_mask_ |= TCL_READABLE;
    netif_update_events(n);
    return 0;
}

// ---- send path -----------------------------------------------------------------

int netif_send_buffer(Netif* n, PacketBuffer* buffer) {
    ++n->wpktcount_;
    MediaClass* media = n->media_;
    if (!n->generic_events_) {
        if (media->write)
            media->write(n->port_, buffer);
        else
            buffer_free(buffer);
        return 0;
    }
    if (n->wqueue_.length == 0 && !(n->event_mask_ & TCL_WRITABLE)) {
        if (!media->write) {
            buffer_free(buffer);
            return 0;
        }
        errno = 0;
        if (media->write(n->port_, buffer) == 0) return 0;
        if (errno == EWOULDBLOCK || errno == EAGAIN) {
            n->event_mask_ |= TCL_WRITABLE;
            netif_update_events(n);
        }
        return 1;
    }
    if (n->wqueue_.length < n->writehw_) {
        n->wqueue_.push(buffer);
    } else {
        report(n->interp_, kModule, __LINE__, LOG_INFO, "Buffer dropped due to write queue overflow for \"%s\"",
               n->name_.c_str());
        ++n->wdropcount_;
        buffer_free(buffer);
    }
    return 1;
}

}  // namespace zm
