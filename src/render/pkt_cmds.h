// The saved-packet and packet-path commands, created by the renderers group.
#pragma once

struct Tcl_Interp;

namespace zm {

// Creates pkts, pkt_info, pkt_compose, pkt_val, pkt_set, pkt_getsendstring,
// pkt_getdatastring, pkt_tree_parse, pkt_dump_decode, pkt_dump_reg, pkt_save,
// pkt_delete, pkt_sendstring, pkt_fieldinfo, pkt_getinststr and
// process_ospf_ls_req_pkt (in that order) and connects pktsend to the saved
// packets. Returns 0.
int register_saved_packet_commands(Tcl_Interp* interp);

}  // namespace zm
