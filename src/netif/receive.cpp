// The receive sub-command: wait for one matching packet with a time-out, exporting it into the PKT_TBL variables.
#include <tcl.h>

#include <climits>
#include <cmath>
#include <memory>
#include <string>

#include "core/block_wait.h"
#include "core/options.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "netif/netif.h"
#include "render/tclvars_export.h"

namespace zm {
namespace {

constexpr const char* kModule = "netif";
constexpr const char* kHandlerName = "receive_internal";

// Shared by the waiting command and its handler: whichever lets go last frees it.
struct ReceiveWait : HandlerWait {
    Netif* netif = nullptr;
    Tcl_TimerToken timer = nullptr;
};
using WaitRef = std::shared_ptr<ReceiveWait>;

WaitRef& wait_of(Handler* h) { return *static_cast<WaitRef*>(h->client_data_); }

void cancel_timer(ReceiveWait& w) {
    if (w.timer) Tcl_DeleteTimerHandler(w.timer);
    w.timer = nullptr;
}

int receive_proc(Handler* h, Netif* n, PacketBuffer* b) {
    ReceiveWait& w = *wait_of(h);
    netif_decode(n, b);
    if (!h->matched_ || !w.waiting) return 0;
    export_packet(n->interp_, n->ctx_, b, n->base_node_);
    block_signal(kSignalMatched, static_cast<int32_t>(b->frame));
    w.waiting = false;
    cancel_timer(w);
    unregister_handler(n, kHandlerName);
    return 1;
}

// The handler goes (matched, timed out, stopped, or its interface deleted).
int receive_delete(Handler* h) {
    auto* ref = static_cast<WaitRef*>(h->client_data_);
    cancel_timer(**ref);
    (*ref)->handler_deleted();
    delete ref;
    h->client_data_ = nullptr;
    return 1;
}

void receive_timeout(ClientData data) {
    auto* w = static_cast<ReceiveWait*>(data);
    guard_void(w->netif ? w->netif->interp_ : nullptr, kModule, "receive time-out", [w] {
        w->timer = nullptr;
        if (!w->waiting) return;
        w->waiting = false;
        block_signal(kSignalReceiveTimeout, 0);
        if (!w->handler_gone) unregister_handler(w->netif, kHandlerName);
    });
}

}  // namespace

bool parse_time_value(Tcl_Interp* interp, const char* module, const char* text, double* seconds) {
    if (Tcl_GetDouble(interp, text, seconds) == TCL_OK) return true;
    std::string why = Tcl_GetStringResult(interp);
    Tcl_ResetResult(interp);
    report(interp, module, __LINE__, LOG_FAULT, "Bogus time value \"%s\":%s", text, why.c_str());
    return false;
}

int netif_receive(Netif* n, Tcl_Interp* interp, int argc, const char** argv) {
    int want_handle = 0;
    const OptSpec table[] = {
        {"-wh", OPT_CONSTANT, 1, &want_handle, "Return handle if pkt received or 0 if no packet in timeout period"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    int count = argc - 1;
    const char** words = argv + 1;  // words[0] is "receive"
    if (parse_options(interp, &count, words, table, 0) != TCL_OK) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Usage: <ifname> receive ?options? timeout ?filter?");
        return TCL_ERROR;
    }
    int timeout_ms = 0;
    const char* filter = nullptr;
    if (count >= 2) {
        double seconds = 0;
        if (!parse_time_value(interp, kModule, words[1], &seconds)) return TCL_ERROR;
        double exact = n->scale_ * seconds * 1000.0;
        double ms = std::trunc(exact);
        if (std::isnan(ms)) ms = 0;
        // 0 means "no time-out": a positive time-out waits at least 1 ms.
        if (ms == 0 && exact > 0) ms = 1;
        timeout_ms = ms >= INT_MAX ? INT_MAX : ms <= INT_MIN ? INT_MIN : static_cast<int>(ms);
        if (count >= 3) filter = words[2];
        warn_ignored_words(interp, kModule, __LINE__, "receive", count - 3, words + 3);
    }

    auto wait = std::make_shared<ReceiveWait>();
    wait->netif = n;
    bool pending = find_handler(n, kHandlerName) != nullptr;
    auto* ref = new WaitRef(wait);
    Handler* h = internal_register(n, kHandlerName, filter, receive_proc, receive_delete, ref);
    if (!h) {
        delete ref;
        if (pending)
            report(interp, kModule, __LINE__, LOG_FAULT, "Attempt to receive while receive is already pending");
        return TCL_ERROR;
    }
    if (timeout_ms != 0) wait->timer = Tcl_CreateTimerHandler(timeout_ms, receive_timeout, wait.get());

    int32_t result = 0;
    int32_t frame = 0;
    block_wait(&result, &frame);
    bool matched = result == kSignalMatched && !wait->waiting && frame != 0;
    if (wait->waiting || result != kSignalMatched) {
        wait->waiting = false;
        cancel_timer(*wait);
        if (!wait->handler_gone) unregister_handler(n, kHandlerName);
    }
    char text[24];
    if (want_handle)
        std::snprintf(text, sizeof text, "%d", matched ? static_cast<int>(frame) : 0);
    else
        std::snprintf(text, sizeof text, "%d", matched ? 0 : 1);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
    return TCL_OK;
}

}  // namespace zm
