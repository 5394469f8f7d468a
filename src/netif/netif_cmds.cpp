// Interface commands (netif, netifs, the per-interface command) and the internal packet handlers.
#include <tcl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "core/block_wait.h"
#include "core/groups.h"
#include "core/options.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "netif/netif.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr const char* kModule = "netif";

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
    append_pair(list, "readhw", Tcl_NewIntObj(n->readhw_));
    append_pair(list, "readlw", Tcl_NewIntObj(n->readlw_));
    append_pair(list, "writehw", Tcl_NewIntObj(n->writehw_));
    append_pair(list, "saved", number_obj(static_cast<unsigned long>(n->saved_list_.length)));
    append_pair(list, "savedhw", Tcl_NewIntObj(n->savedhw_));
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
    // Water marks are counts; a scale multiplies every receive time-out.
    const struct {
        const char* key;
        int value;
    } counts[] = {{"-readhw", readhw}, {"-readlw", readlw}, {"-writehw", writehw}, {"-savedhw", savedhw}};
    for (const auto& c : counts) {
        if (c.value < 0) {
            bad_option_value(interp, "non-negative integer", c.key, std::to_string(c.value).c_str());
            report(interp, kModule, __LINE__, LOG_FAULT, "Bogus arguments to configure command (see -help)");
            return TCL_ERROR;
        }
    }
    if (!std::isfinite(scale) || scale <= 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", scale);
        bad_option_value(interp, "positive floating-point", "-scale", text);
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
    warn_ignored_words(interp, kModule, __LINE__, "register", count - 1, argv + 2);
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

int do_close(Netif* n, Tcl_Interp* interp, int, const char**) {
    if (n->depth_ > 0) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Attempted to close netif while processing its packets");
        return TCL_ERROR;
    }
    if (n->command_) Tcl_DeleteCommandFromToken(interp, reinterpret_cast<Tcl_Command>(n->command_));
    return TCL_OK;
}

int do_info_words(Netif* n, Tcl_Interp* interp, int, const char**) { return do_info(n, interp); }

int do_stop(Netif*, Tcl_Interp*, int, const char**) {
    block_signal(kSignalStop, 0);
    return TCL_OK;
}

int do_enable(Netif* n, Tcl_Interp*, int, const char** argv) {
    netif_enable(n, std::strcmp(argv[1], "enable") == 0);
    return TCL_OK;
}

int do_control(Netif* n, Tcl_Interp*, int argc, const char** argv) {
    if (!n->opened_ || !n->media_->control) return TCL_OK;
    return n->media_->control(n->port_, argc - 1, argv + 1);
}

int do_lastsaved(Netif* n, Tcl_Interp* interp, int, const char**) {
    if (n->saved_list_.tail) Tcl_SetObjResult(interp, number_obj(n->saved_list_.tail->frame));
    return TCL_OK;
}

// The interface's sub-commands. A row without a procedure is provided by
// another module through register_netif_subcommand (send and pktsend by the
// encoder, renderer by the renderers, startfsm by the state machines).
struct SubcommandRow {
    const char* name;
    NetifSubcommand proc;
};
constexpr SubcommandRow kSubcommands[] = {
    {"info", do_info_words},   {"send", nullptr},         {"pktsend", nullptr},       {"receive", netif_receive},
    {"stop", do_stop},         {"enable", do_enable},     {"disable", do_enable},     {"register", do_register},
    {"unregister", do_unregister}, {"control", do_control}, {"renderer", nullptr},    {"configure", do_configure},
    {"startfsm", nullptr},     {"lastsaved", do_lastsaved}, {"close", do_close},
};

int subcommand(Netif* n, Tcl_Interp* interp, int argc, const char** argv) {
    if (argc < 2) {
        report(interp, kModule, __LINE__, LOG_FAULT, "%s", kUsage);
        return TCL_ERROR;
    }
    const char* word = argv[1];
    for (const SubcommandRow& row : kSubcommands) {
        if (std::strcmp(word, row.name) != 0) continue;
        if (row.proc) return row.proc(n, interp, argc, argv);
        if (NetifSubcommand proc = find_netif_subcommand(row.name)) return proc(n, interp, argc, argv);
        report(interp, kModule, __LINE__, LOG_FAULT, "The %s sub-command of netif %s is not available in this build",
               word, n->name_.c_str());
        return TCL_ERROR;
    }
    report(interp, kModule, __LINE__, LOG_FAULT, "invalid command \"%s\": %s", word, kUsage);
    return TCL_ERROR;
}

int interface_command(ClientData data, Tcl_Interp* interp, Words& words) {
    auto* n = static_cast<Netif*>(data);
    if (!n) return TCL_ERROR;  // released at process exit
    return subcommand(n, interp, words.argc, words.data());
}

void interface_deleted(ClientData data) {
    guard_void(nullptr, kModule, "Deleting a netif", [data] { netif_command_deleted(static_cast<Netif*>(data)); });
}

int netif_command(ClientData, Tcl_Interp* interp, Words& words) {
    Netif* n = netif_create(interp, words.argc, words.data());
    if (!n) return TCL_ERROR;
    Tcl_Command token = create_command<interface_command>(interp, n->name_.c_str(), n, interface_deleted);
    netif_attach_command(n, token);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(n->name_.c_str(), -1));
    return TCL_OK;
}

int netifs_command(ClientData, Tcl_Interp* interp, Words&) {
    set_text_list_result(interp, netif_names());
    return TCL_OK;
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
void close_all_at_exit(ClientData) { guard_void(nullptr, kModule, "Closing the interfaces at exit", netif_destroy_all); }

}  // namespace

int register_netif_group(Tcl_Interp* interp) {
    static bool exit_handler = false;
    if (!exit_handler) {
        exit_handler = true;
        Tcl_CreateExitHandler(close_all_at_exit, nullptr);
    }
    register_internal_handler("null_internal", null_internal);
    register_internal_handler("decode_internal", decode_internal);
    create_command<netif_command>(interp, "netif");
    create_command<netifs_command>(interp, "netifs");
    return 0;
}

}  // namespace zm
