// The operations the socket media classes share.
#include "media/socket_media.h"

#include <unistd.h>

#include <cstring>

#include "core/report.h"

namespace zm {

SocketState::~SocketState() {
    if (fd >= 0) ::close(fd);
}

bool socket_base_node_is(const MediaPort& port, const char* module, const char* class_name, const char* base_node) {
    if (std::strcmp(port.base_node ? port.base_node : "", base_node) == 0) return true;
    report(port.interp, module, __LINE__, LOG_FAULT, "%s media *must* have %s as its base-node", class_name, base_node);
    return false;
}

int socket_opened(MediaPort& port, std::unique_ptr<SocketState> state) {
    port.descriptor = state->fd;
    port.generic_events = true;
    port.mode = "rw";
    port.state = std::move(state);
    return 0;
}

namespace {

void socket_close(MediaPort& port) {
    port.state.reset();
    port.descriptor = -1;
}

}  // namespace

void register_socket_class(const char* name, const char* label,
                           int (*open)(MediaPort& port, int argc, const char** argv),
                           PacketBuffer* (*read)(MediaPort& port), int (*write)(MediaPort& port, PacketBuffer* buffer),
                           int (*info)(MediaPort& port, Tcl_Interp* interp)) {
    register_media_class({.name = name, .label = label, .kind = "", .flag = 1, .open = open, .close = socket_close,
                          .read = read, .write = write, .info = info});
}

}  // namespace zm
