// Interface commands (netif, netifs, the per-interface command) and the internal packet handlers.
#include <tcl.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "core/block_wait.h"
#include "core/groups.h"
#include "core/options.h"
#include "core/report.h"
#include "netif/netif.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr const char* kModule = "netif";
constexpr int32_t kStopSignal = 271828;

constexpr const char* kUsage =
    "usage: \n"
    "  <ifname> info\n"
    "  <ifname> send ?options?\n"
    "  <ifname> receive ?options?\n"
    "  <ifname> stop\n"
    "  <ifname> enable\n"
    "  <ifname> disable\n"
    "  <ifname> register ?options?\n"
    "  <ifname> unregister {handle}\n"
    "  <ifname> control ?options?\n"
    "  <ifname> renderer type ?options?\n"
    "  <ifname> configure ?options?\n"
    "  <ifname> lastsaved\n"
    "  <ifname> close";

Tcl_Obj* number_obj(unsigned long value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lu", value);
    return Tcl_NewStringObj(text, -1);
}

void append_pair(Tcl_Obj* list, const char* name, Tcl_Obj* value) {
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(name, -1));
    Tcl_ListObjAppendElement(nullptr, list, value);
}

int do_info(Netif* n, Tcl_Interp* interp) {
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    append_pair(list, "name", Tcl_NewStringObj(n->name_.c_str(), -1));
    append_pair(list, "media_class", Tcl_NewStringObj(n->media_->name.c_str(), -1));
    append_pair(list, "base_node", Tcl_NewStringObj(n->base_node_->name_.c_str(), -1));
    Tcl_Obj* names = Tcl_NewListObj(0, nullptr);
    for (auto& h : n->handlers_)
        if (!h->doomed_) Tcl_ListObjAppendElement(nullptr, names, Tcl_NewStringObj(h->name_.c_str(), -1));
    append_pair(list, "pkt_handlers", names);
    append_pair(list, "rdropcount", number_obj(n->rdropcount_));
    append_pair(list, "rpktcount", number_obj(n->rpktcount_));
    append_pair(list, "wdropcount", number_obj(n->wdropcount_));
    append_pair(list, "wpktcount", number_obj(n->wpktcount_));
    append_pair(list, "readhw", number_obj(static_cast<unsigned long>(n->readhw_)));
    append_pair(list, "readlw", number_obj(static_cast<unsigned long>(n->readlw_)));
    append_pair(list, "writehw", number_obj(static_cast<unsigned long>(n->writehw_)));
    append_pair(list, "saved", number_obj(static_cast<unsigned long>(n->saved_list_.length)));
    append_pair(list, "savedhw", number_obj(static_cast<unsigned long>(n->savedhw_)));
    char text[64];
    std::snprintf(text, sizeof text, "%0.1f", n->scale_);
    append_pair(list, "scale", Tcl_NewStringObj(text, -1));
    append_pair(list, "mode", Tcl_NewStringObj(n->port_.mode ? n->port_.mode : "", -1));
    std::snprintf(text, sizeof text, "%ld", n->rqueue_.length);
    append_pair(list, "rqueue", Tcl_NewStringObj(text, -1));
    Tcl_SetObjResult(interp, list);
    if (n->opened_ && n->media_->info) return n->media_->info(n->port_, interp);
    return TCL_OK;
}

int do_configure(Netif* n, Tcl_Interp* interp, int argc, const char** argv) {
    int readhw = n->readhw_, readlw = n->readlw_, writehw = n->writehw_, savedhw = n->savedhw_;
    double scale = n->scale_;
    const OptSpec table[] = {
        {"-readhw", OPT_INT, 0, &readhw, "Read queue high-water mark"},
        {"-readlw", OPT_INT, 0, &readlw, "Read queue low-water mark"},
        {"-writehw", OPT_INT, 0, &writehw, "Write queue high-water mark"},
        {"-savedhw", OPT_INT, 0, &savedhw, "Saved packet high-water mark"},
        {"-scale", OPT_FLOAT, 0, &scale, "Scaling factor for timeout"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    int count = argc - 1;
    if (parse_options(interp, &count, argv + 1, table, 0) != TCL_OK || count != 1) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Bogus arguments to configure command (see -help)");
        return TCL_ERROR;
    }
    n->readhw_ = readhw;
    n->readlw_ = readlw;
    n->writehw_ = writehw;
    n->savedhw_ = savedhw;
    n->scale_ = scale;
    return TCL_OK;
}

int do_register(Netif* n, Tcl_Interp* interp, int argc, const char** argv) {
    RegisterOptions o;
    std::string counter = std::to_string(registration_counter());
    o.name = counter.c_str();
    const OptSpec table[] = {
        {"-internal", OPT_STRING, 0, &o.internal, "Internal name of packet handler routine"},
        {"-filter", OPT_STRING, 0, &o.filter, "Filter to use for this packet handler"},
        {"-filterlist", OPT_STRING, 0, &o.filterlist, "Filter list to use for this packet handler"},
        {"-variable", OPT_STRING, 0, &o.variable, "Variable to append buffer handle to"},
        {"-command", OPT_STRING, 0, &o.command, "Script to run for each buffer (gets buffer handle appended)"},
        {"-name", OPT_STRING, 0, &o.name, "Name for the registration, instead of default"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    int count = argc - 1;
    if (parse_options(interp, &count, argv + 1, table, 0) != TCL_OK) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Bogus arguments to register command");
        return TCL_ERROR;
    }
    Handler* h = register_handler(n, o);
    if (!h) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(h->name_.c_str(), -1));
    return TCL_OK;
}

int do_unregister(Netif* n, Tcl_Interp* interp, int argc, const char** argv) {
    if (argc < 3) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Usage: unregister {list of registerd packet handlers}");
        return TCL_ERROR;
    }
    for (int i = 2; i < argc; ++i) unregister_handler(n, argv[i]);
    return TCL_OK;
}

int do_extension(Netif* n, Tcl_Interp* interp, NetifSubcommand proc, int argc, const char** argv) {
    if (!proc) {
        report(interp, kModule, __LINE__, LOG_FAULT, "The %s sub-command of netif %s is not available in this build",
               argv[1], n->name_.c_str());
        return TCL_ERROR;
    }
    return proc(n, interp, argc, argv);
}

int do_close(Netif* n, Tcl_Interp* interp) {
    if (n->depth_ > 0) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Attempted to close netif while processing its packets");
        return TCL_ERROR;
    }
    if (n->command_) Tcl_DeleteCommandFromToken(interp, reinterpret_cast<Tcl_Command>(n->command_));
    return TCL_OK;
}

int subcommand(Netif* n, Tcl_Interp* interp, int argc, const char** argv) {
    if (argc < 2) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", kUsage);
        return TCL_ERROR;
    }
    const char* word = argv[1];
    auto is = [word](const char* name) { return std::strcmp(word, name) == 0; };
    if (is("info")) return do_info(n, interp);
    if (is("send")) return do_extension(n, interp, find_netif_subcommand("send"), argc, argv);
    if (is("pktsend")) return do_extension(n, interp, find_netif_subcommand("pktsend"), argc, argv);
    if (is("receive")) return netif_receive(n, interp, argc, argv);
    if (is("stop")) {
        block_signal(kStopSignal, 0);
        return TCL_OK;
    }
    if (is("enable") || is("disable")) {
        netif_enable(n, is("enable"));
        return TCL_OK;
    }
    if (is("register")) return do_register(n, interp, argc, argv);
    if (is("unregister")) return do_unregister(n, interp, argc, argv);
    if (is("control")) {
        if (!n->opened_ || !n->media_->control) return TCL_OK;
        return n->media_->control(n->port_, argc - 1, argv + 1);
    }
    if (is("renderer")) return do_extension(n, interp, find_netif_subcommand("renderer"), argc, argv);
    if (is("configure")) return do_configure(n, interp, argc, argv);
    if (is("startfsm")) return do_extension(n, interp, find_netif_subcommand("startfsm"), argc, argv);
    if (is("lastsaved")) {
        if (n->saved_list_.tail)
            Tcl_SetObjResult(interp, number_obj(n->saved_list_.tail->frame));
        return TCL_OK;
    }
    if (is("close")) return do_close(n, interp);
    report(interp, kModule, __LINE__, LOG_FAULT, "invalid command \"%s\": %s", word, kUsage);
    return TCL_ERROR;
}

int cmd_interface(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    auto* n = static_cast<Netif*>(data);
    if (!n) return TCL_ERROR;  // released at process exit
    try {
        std::vector<const char*> words = obj_words(objc, objv);
        return subcommand(n, interp, objc, words.data());
    } catch (const std::exception& e) {
        report(interp, kModule, __LINE__, LOG_FAULT, "netif %s failed: %s", n->name_.c_str(), e.what());
        return TCL_ERROR;
    }
}

void interface_deleted(ClientData data) {
    try {
        netif_command_deleted(static_cast<Netif*>(data));
    } catch (const std::exception& e) {
        report(nullptr, kModule, __LINE__, LOG_FAULT, "Deleting a netif failed: %s", e.what());
    }
}

int cmd_netif(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    try {
        std::vector<const char*> words = obj_words(objc, objv);
        Netif* n = netif_create(interp, objc, words.data());
        if (!n) return TCL_ERROR;
        Tcl_Command token = Tcl_CreateObjCommand(interp, n->name_.c_str(), cmd_interface, n, interface_deleted);
        netif_attach_command(n, token);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(n->name_.c_str(), -1));
        return TCL_OK;
    } catch (const std::exception& e) {
        report(interp, kModule, __LINE__, LOG_FAULT, "netif failed: %s", e.what());
        return TCL_ERROR;
    }
}

int cmd_netifs(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const[]) {
    try {
        Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
        for (const std::string& name : netif_names())
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(name.c_str(), -1));
        Tcl_SetObjResult(interp, list);
        return TCL_OK;
    } catch (const std::exception& e) {
        report(interp, kModule, __LINE__, LOG_FAULT, "netifs failed: %s", e.what());
        return TCL_ERROR;
    }
}

// Keeps the buffer's filters matching and nothing more.
int null_internal(Handler*, Netif*, PacketBuffer*) { return 0; }

// Makes sure every buffer is decoded (and so matched against every filter).
int decode_internal(Handler*, Netif* n, PacketBuffer* b) {
    netif_decode(n, b);
    return 0;
}

// At process exit every interface still open is released, so that media
// which write at close (capture files being saved) finish their files.
void close_all_at_exit(ClientData) {
    try {
        netif_destroy_all();
    } catch (const std::exception&) {
        // The process is ending; nothing is left to report to.
    }
}

}  // namespace

int register_netif_group(Tcl_Interp* interp) {
    static bool exit_handler = false;
    if (!exit_handler) {
        exit_handler = true;
        Tcl_CreateExitHandler(close_all_at_exit, nullptr);
    }
    register_internal_handler("null_internal", null_internal);
    register_internal_handler("decode_internal", decode_internal);
    Tcl_CreateObjCommand(interp, "netif", cmd_netif, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "netifs", cmd_netifs, nullptr, nullptr);
    return 0;
}

}  // namespace zm
