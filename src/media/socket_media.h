// What the socket media classes (udp, ether) share: a state that owns the
// socket, the base-node check at open, the hand-over of the socket to the
// netif, close, and registration.
#pragma once
#include <memory>

#include "media/media.h"

namespace zm {

// Per-interface state of a socket class; the socket is closed with it.
struct SocketState : MediaState {
    int fd = -1;
    ~SocketState() override;
};

// False, after reporting "<class> media *must* have <base> as its base-node"
// under `module`, when the interface's base node is another.
bool socket_base_node_is(const MediaPort& port, const char* module, const char* class_name, const char* base_node);

// Completes an open: the port takes the state, and the netif watches its
// socket both ways with the generic event procedure. Returns 0, the result
// of a successful open.
int socket_opened(MediaPort& port, std::unique_ptr<SocketState> state);

// Registers a socket class; close is the same for all of them.
void register_socket_class(const char* name, const char* label,
                           int (*open)(MediaPort& port, int argc, const char** argv),
                           PacketBuffer* (*read)(MediaPort& port), int (*write)(MediaPort& port, PacketBuffer* buffer),
                           int (*info)(MediaPort& port, Tcl_Interp* interp));

}  // namespace zm
