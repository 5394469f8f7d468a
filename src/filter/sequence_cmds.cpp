// Packet-sequence commands: pktseqdump and the USE_SEQUENCES switch.
#include <tcl.h>

#include <cstdio>
#include <string>

#include "core/debug_flags.h"
#include "core/groups.h"
#include "core/tcl_entry.h"
#include "filter/filter.h"
#include "filter/sequence.h"

namespace zm {
namespace {

// pktseqdump: the names and steps of every sequence; filters are dumped to standard output.
int pktseqdump(ClientData, Tcl_Interp* interp, Words&) {
    std::string out;
    for (const auto& [name, seq] : sequences().table()) {
        out += name;
        for (const SeqStep* s = seq->steps_; s; s = s->next_) {
            if (s->type_ == SEQ_FILTER) {
                out += "\nfilter ";
                dump_filter(static_cast<const Filter*>(s->filter_), stdout);
            } else if (s->type_ == SEQ_SAVE) {
                out += "\nsave ";
            }
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(out.data(), static_cast<int>(out.size())));
    return TCL_OK;
}

}  // namespace

int register_sequence_group(Tcl_Interp* interp) {
    create_command<pktseqdump>(interp, "pktseqdump");
    if (Tcl_LinkVar(interp, "USE_SEQUENCES", reinterpret_cast<char*>(&debug_flags().use_sequences),
                    TCL_LINK_BOOLEAN) != TCL_OK)
        return 1;
    install_sequence_filter_compiler();
    return 0;
}

}  // namespace zm
