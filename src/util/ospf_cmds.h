// The link-state request command, which the saved-packet commands register
// beside theirs: it reads the request through `pkt_val` and `pkt_getinststr`.
#pragma once
#include "core/tcl_entry.h"

namespace zm {

// process_ospf_ls_req_pkt ospf_ifname pkt_handle script_prefix: the hex LSAs
// that answer the request, as a list (at most 1400 bytes of LSAs); a request
// for an LSA not in the database runs "<script_prefix> post_badLsReq".
int cmd_process_ospf_ls_req_pkt(ClientData data, Tcl_Interp* interp, Words& words);

}  // namespace zm
