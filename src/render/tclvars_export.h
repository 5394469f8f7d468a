// Export of one decoded packet into the PKT_TBL script variables, shared by receive, renderers and state machines.
//
// export_packet replaces the global variables PKT_TBL_val and PKT_TBL_sym
// (arrays of the numeric and symbolic text of every field, keyed NODE_field
// or NODE_field,index inside array members, base-node fields a second time
// as MAC_HEADER_field), PKT_TBL_order (the keys in decode order, each as
// " {key} "), PKT_TBL_time, PKT_TBL_elapsed, PKT_TBL_buffer_handle and, when
// the packet has trailing data, RAWDATA. The buffer is decoded with `ctx`
// and `base` when it has no decode tree (the tree is dropped again after).
// While ONLY_NEW_PKT is true nothing is exported.
#pragma once

struct Tcl_Interp;

namespace zm {

struct DecodeContext;
struct Node;
struct PacketBuffer;

void export_packet(Tcl_Interp* interp, DecodeContext* ctx, PacketBuffer* buffer, Node* base);

// The value behind the ONLY_NEW_PKT script variable.
int& only_new_pkt();
// Links ONLY_NEW_PKT (global, boolean) to only_new_pkt(); 0 on success.
int link_only_new_pkt(Tcl_Interp* interp);

}  // namespace zm
