// The interface sub-commands that transmit: send (build or raw bytes) and pktsend (replay saved packets).
//
// Both are entered in the interface sub-command table by their start-up group
// (register_send_group, core/groups.h).
// A buffer they build is handed to netif_send_buffer, which owns it from
// then on; a send the media refuses is reported, counted in the interface's
// write-drop count and makes the command fail.
#pragma once

#include "core/buffer.h"

struct Tcl_Interp;

namespace zm {

struct Netif;

// `{netif} send "filter" ?options?` and `{netif} pktsend {{pktlist} delay ...}`;
// argv as for NetifSubcommand (argv[0] the interface, argv[1] the sub-command).
int cmd_send(Netif* netif, Tcl_Interp* interp, int argc, const char** argv);
int cmd_pktsend(Netif* netif, Tcl_Interp* interp, int argc, const char** argv);

// The saved packet with that handle (owned by the saved-packet registry), or
// null when there is none. The registry installs its lookup; until then
// pktsend fails with a report.
using SavedPacketLookup = const PacketBuffer* (*)(const char* handle);
void set_saved_packet_lookup(SavedPacketLookup lookup);

// Hands a built buffer to the interface's send path. False (after a report)
// when the media refused it; a queued buffer counts as sent.
bool transmit_buffer(Netif* netif, PacketBuffer* buffer);

}  // namespace zm
