// The send and pktsend sub-commands of a network interface.
#include <tcl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "core/block_wait.h"
#include "core/groups.h"
#include "core/options.h"
#include "core/report.h"
#include "core/textconv.h"
#include "core/tcl_entry.h"
#include "core/timeutil.h"
#include "encode/encoder.h"
#include "encode/send.h"
#include "netif/netif.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr const char* kModule = "sendpkt";
// Largest packet a buffer can address (its tail is a 16-bit offset).
constexpr int kMaxMtu = 0xFFFF - kBufferDataOffset;

SavedPacketLookup g_lookup = nullptr;


uint32_t media_mtu(const Netif* n) {
    if (n->pool_ready_) return n->pool_.room;
    if (const NodeAttr* a = n->base_node_ ? find_node_attr(n->base_node_, NATTR_MAXMTU) : nullptr) return a->number_;
    return 2048;
}

int send_sub(Netif* n, Tcl_Interp* interp, int argc, const char** argv) {
    if (argc < 3)
        return report_failure(interp, kModule, __LINE__, LOG_WARNING, "Usage: {netif} send \"filter\" ?options?");
    const char* timestamp = nullptr;
    const char* rawdata = nullptr;
    int mtu = 0;  // 0: the media's maximum
    const OptSpec table[] = {
        {"-timestamp", OPT_STRING, 0, &timestamp, "Timestamp for the send"},
        {"-rawdata", OPT_STRING, 0, &rawdata, "Rawdata for the send"},
        {"-mtu", OPT_INT, 0, &mtu, "Max size of packet"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    // The sub-command word stands in for the command name; the words after it
    // are parsed, the filter staying as the one positional word.
    std::vector<const char*> words(argv + 1, argv + argc);
    words.push_back(nullptr);
    int count = argc - 1;
    if (parse_options(interp, &count, words.data(), table, 0) != TCL_OK) {
        // The parser's own message (or the -help text) stays the result.
        report(interp, kModule, __LINE__, LOG_FAULT, "Bogus arguments to send");
        return TCL_ERROR;
    }
    // More than one positional word is a filter that lost its quotes.
    if (count > 2) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Bogus arguments to send");
    const char* filter = count == 2 ? words[1] : nullptr;
    if (rawdata && filter) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Incompatible options to send");
    if (!rawdata && !filter) return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Bogus arguments to send");

    TimeVal when;
    int64_t when_sec = 0;
    uint32_t when_usec = 0;
    uint32_t stamp_sec = 0;
    if (timestamp) {
        if (!parse_timestamp(timestamp, &when_sec, &when_usec))
            return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Bad timestamp \"%s\" to send", timestamp);
        bool clamped = false;
        stamp_sec = buffer_seconds(when_sec, &clamped);
        if (clamped)
            report(interp, kModule, __LINE__, LOG_WARNING,
                   "Timestamp \"%s\" is outside the times a packet holds (1970 to 2106); it is clamped", timestamp);
        when.sec = static_cast<int32_t>(stamp_sec);
        when.usec = static_cast<int32_t>(when_usec);
    }

    uint32_t max = media_mtu(n);
    uint32_t room = max;
    if (mtu != 0) {
        if (mtu < 0 || mtu > kMaxMtu)
            return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Bad mtu %d to send: it must be 1 to %d", mtu, kMaxMtu);
        if (static_cast<uint32_t>(mtu) < max)
            report(interp, kModule, __LINE__, LOG_WARNING, "Specified mtu of %d is less than max mtu of %d for media type %s",
                   mtu, static_cast<int>(max), n->base_node_ ? n->base_node_->name_.c_str() : "");
        room = static_cast<uint32_t>(mtu);
    }
    if (room > static_cast<uint32_t>(kMaxMtu)) room = kMaxMtu;
    // The buffer is sized to what is sent: raw bytes need at most one byte
    // per two characters of their text, and a built packet is copied out of
    // the encoder's own buffer.
    PacketBuffer* b = nullptr;
    if (rawdata)
        b = buffer_alloc(static_cast<uint32_t>(std::min<size_t>(room, std::strlen(rawdata) / 2 + 1)));
    else if (int failed = build_send_packet(room, filter, n->base_node_, timestamp ? &when : nullptr, DIR_TX, 0, &b);
             failed == 1) {
        if (interp) Tcl_SetObjResult(interp, Tcl_NewStringObj("send failed: packet not built", -1));
        return TCL_ERROR;
    }
    if (!b) return report_failure(interp, kModule, __LINE__, LOG_WARNING, "no buf");

    if (rawdata) {
        uint32_t capacity = encoder_room(b);
        size_t len = asciihex2binary(b->data(), capacity, rawdata, false);
        if (len > capacity) {
            buffer_free(b);
            return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Overran %d-byte buffer", static_cast<int>(room));
        }
        b->tail = static_cast<uint16_t>(b->head + len);
        b->direction = DIR_TX;
        b->base_node = n->base_node_;
        buffer_stamp_now(b);
    }
    if (timestamp) {
        // Set here, not only through the encoder, so times past 2038 are kept.
        b->sec = stamp_sec;
        b->usec = when_usec;
    }
    if (!transmit_buffer(n, b)) {
        if (interp) Tcl_SetObjResult(interp, Tcl_NewStringObj("send failed: packet not sent", -1));
        return TCL_ERROR;
    }
    return TCL_OK;
}

void delay_expired(ClientData) {
    guard_void(nullptr, kModule, "pktsend delay", [] { block_signal(kSignalSendDelay, 0); });
}

void interface_deleted(ClientData data, Tcl_Interp*, const char*, const char*, int) {
    *static_cast<bool*>(data) = true;
    block_signal(kSignalSendDelay, 0);
}

int pktsend_sub(Netif* n, Tcl_Interp* interp, int argc, const char** argv) {
    const char* sub = argv[1];
    if (argc != 3)
        return report_failure(interp, kModule, __LINE__, LOG_FAULT, "Usage: {netif} pktsend {{pktlist} delay ...}");
    int npairs = 0;
    const char** pairs = nullptr;
    if (Tcl_SplitList(interp, argv[2], &npairs, &pairs) != TCL_OK)
        return report_failure(interp, kModule, __LINE__, LOG_FAULT, "%s: failed parsing \"%s\"", sub, argv[2]);
    struct Free {
        const char** p;
        ~Free() { Tcl_Free(reinterpret_cast<char*>(p)); }
    } free_pairs{pairs};

    // Check the whole list before anything is sent.
    struct Step {
        std::vector<std::string> handles;
        int delay = 0;
    };
    std::vector<Step> steps;
    for (int i = 0; i < npairs; i += 2) {
        Step step;
        int nh = 0;
        const char** hs = nullptr;
        if (Tcl_SplitList(interp, pairs[i], &nh, &hs) != TCL_OK)
            return report_failure(interp, kModule, __LINE__, LOG_FAULT, "%s: failed parsing \"%s\"", sub, pairs[i]);
        for (int k = 0; k < nh; ++k) step.handles.emplace_back(hs[k]);
        Tcl_Free(reinterpret_cast<char*>(hs));
        if (i + 1 < npairs) {
            int d = 0;
            if (Tcl_GetInt(nullptr, pairs[i + 1], &d) != TCL_OK || d < 0)
                return report_failure(interp, kModule, __LINE__, LOG_FAULT, "%s: failed parsing delay \"%s\"", sub, pairs[i + 1]);
            step.delay = d;
        }
        steps.push_back(std::move(step));
    }
    if (!g_lookup)
        return report_failure(interp, kModule, __LINE__, LOG_FAULT, "%s: there are no saved packets to send (saved packets are not available)",
                    sub);

    const std::string name = n->name_;
    for (const Step& step : steps) {
        for (const std::string& handle : step.handles) {
            const PacketBuffer* saved = g_lookup(handle.c_str());
            if (!saved) {
                report(interp, kModule, __LINE__, LOG_WARNING, "%s: pkt \"%s\" doesn't exist", sub, handle.c_str());
                return TCL_OK;
            }
            PacketBuffer* copy = buffer_clone(saved);
            if (!copy) {
                report(interp, kModule, __LINE__, LOG_WARNING, "%s: no buf", sub);
                return TCL_OK;
            }
            if (step.delay > 0) {
                Tcl_TimerToken timer = Tcl_CreateTimerHandler(step.delay, delay_expired, nullptr);
                // Closing the interface during the delay ends the wait at once.
                bool gone = false;
                Tcl_TraceCommand(interp, name.c_str(), TCL_TRACE_DELETE, interface_deleted, &gone);
                int32_t result = 0, second = 0;
                block_wait(&result, &second);
                Tcl_DeleteTimerHandler(timer);
                if (!gone) Tcl_UntraceCommand(interp, name.c_str(), TCL_TRACE_DELETE, interface_deleted, &gone);
                if (gone || find_netif(name.c_str()) != n) {
                    buffer_free(copy);
                    report(interp, kModule, __LINE__, LOG_WARNING, "%s: interface \"%s\" went away", sub, name.c_str());
                    return TCL_OK;
                }
                if (result != kSignalSendDelay) {
                    buffer_free(copy);
                    report(interp, kModule, __LINE__, LOG_WARNING, "%s: weird timeout unblock", sub);
                    return TCL_OK;
                }
            }
            copy->direction = DIR_TX;
            if (!transmit_buffer(n, copy)) {
                if (interp) Tcl_SetObjResult(interp, Tcl_NewStringObj("pktsend failed: packet not sent", -1));
                return TCL_ERROR;
            }
        }
    }
    return TCL_OK;
}

}  // namespace

int cmd_send(Netif* netif, Tcl_Interp* interp, int argc, const char** argv) {
    return guard(interp, kModule, "send", [&] { return send_sub(netif, interp, argc, argv); });
}

int cmd_pktsend(Netif* netif, Tcl_Interp* interp, int argc, const char** argv) {
    return guard(interp, kModule, "pktsend", [&] { return pktsend_sub(netif, interp, argc, argv); });
}

void set_saved_packet_lookup(SavedPacketLookup lookup) { g_lookup = lookup; }

bool transmit_buffer(Netif* n, PacketBuffer* buffer) {
    long queued = n->wqueue_.length;
    uint32_t drops = n->wdropcount_;
    errno = 0;
    if (netif_send_buffer(n, buffer) == 0) return true;
    if (n->wqueue_.length > queued) return true;  // waits for the media to become writable
    // Dropped by the write queue (counted there) or refused by the media (reported by it).
    if (n->wdropcount_ == drops) ++n->wdropcount_;
    return false;
}

int register_send_group(Tcl_Interp*) {
    register_netif_subcommand("send", cmd_send);
    register_netif_subcommand("pktsend", cmd_pktsend);
    return 0;
}

}  // namespace zm
