// Command-group registration functions, called by Zemko_Init in this order.
// Each returns 0 on success, 1 on failure (which stops the start-up).
#pragma once

struct Tcl_Interp;

namespace zm {
int register_media_group(Tcl_Interp* interp);         // 1  mediainfo, mediatype
int register_snmp_group(Tcl_Interp* interp);          // 2  snmpget, snmpset, snmpnxt, oid2hex, hex2oid
int register_mib_group(Tcl_Interp* interp);           // 3  mib
int register_netif_group(Tcl_Interp* interp);         // 4  netif, netifs, internal handlers
int register_send_group(Tcl_Interp* interp);          // 4b the send and pktsend interface sub-commands
int register_checksum_group(Tcl_Interp* interp);      // 5  checksum, checksums
int register_log_group(Tcl_Interp* interp);           // 6  putslog, log variables
int register_pdl_group(Tcl_Interp* interp);           // 7  pdlc, pdf, dumppdf
int register_fsm_group(Tcl_Interp* interp);           // 8  statemachine_internal
int register_ospf_group(Tcl_Interp* interp);          // 9  OSPF link-state commands
int register_table_group(Tcl_Interp* interp);         // 10 named tables
int register_render_group(Tcl_Interp* interp);        // 11 renderers
int register_filter_debug_group(Tcl_Interp* interp);  // 12 filt_debug, filter switches
int register_addr_group(Tcl_Interp* interp);          // 13 address conversion
int register_sequence_group(Tcl_Interp* interp);      // 14 pktseqdump, USE_SEQUENCES
int register_numcmp_group(Tcl_Interp* interp);        // 15 eq, neq, lte, gte, gt, lt
}  // namespace zm

extern "C" int Tftp_Init(Tcl_Interp* interp);         // 16 wtftp
extern "C" int Zemko_Init(Tcl_Interp* interp);
