// The udp media class: an interface on one non-blocking UDP/IPv4 socket, with a 12-byte address pseudo-header.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <tcl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include "core/bits.h"
#include "core/buffer.h"
#include "core/options.h"
#include "core/report.h"
#include "core/textconv.h"
#include "media/media.h"
#include "media/socket_media.h"
#include "netif/netif.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/udp";
constexpr const char* kClassName = "udp";
constexpr const char* kBaseNode = "ZEMKO_UDP_HDR";
// Sender address, local address, sender port, local port.
constexpr uint32_t kPseudoHeader = 12;
constexpr size_t kHostNameMax = 80;

struct UdpState : SocketState {
    uint16_t local_port = 0;     // host order
    uint32_t local_address = 0;  // host order
    uint16_t family = AF_INET;
    uint32_t frame_size = 0;
    uint32_t drops_seen = 0;     // the socket's own drop count when last read
};

UdpState* state_of(MediaPort& port) { return static_cast<UdpState*>(port.state.get()); }

std::string dotted(uint32_t host_order) {
    in_addr a;
    a.s_addr = htonl(host_order);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// Reads `device_name` from a fresh interpreter, as the class's default link device.
bool default_device(Tcl_Interp* interp) {
    Tcl_Interp* fresh = Tcl_CreateInterp();
    if (!fresh) {
        report_os_error(interp, kModule, __LINE__, "Unable to get Default Device Name : %s", "no interpreter");
        return false;
    }
    const char* value = Tcl_GetVar(fresh, "device_name", TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG);
    if (!value) report_os_error(interp, kModule, __LINE__, "Unable to get Default Device Name : %s", Tcl_GetStringResult(fresh));
    Tcl_DeleteInterp(fresh);
    return value != nullptr;
}

bool set_nonblocking(Tcl_Interp* interp, int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        report_os_error(interp, kModule, __LINE__, "Failed to set socket nonblocking for \"%d\"", fd);
        return false;
    }
    return true;
}

int udp_open(MediaPort& port, int argc, const char** argv) {
    const char* device = nullptr;
    int lport = 0;
    const OptSpec table[] = {
        {"-device", OPT_STRING, 0, &device, "Link Level device for source address"},
        {"-lport", OPT_INT, 0, &lport, "Local port"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    auto words = parse_media_options(port.interp, table, argc, argv);
    // A port outside 0..65535 would be bound modulo 65536: refused as a bad argument.
    if (!words || lport < 0 || lport > 0xFFFF) return bad_open_arguments(port, kModule, kClassName);
    warn_unused_open_words(port.interp, *words);
    if (!socket_base_node_is(port, kModule, kClassName, kBaseNode)) return 1;
    // The device name is a platform fact the class does not use further.
    if (!device && !default_device(port.interp)) return 1;

    auto state = std::make_unique<UdpState>();
    state->fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (state->fd < 0) {
        report_os_error(port.interp, kModule, __LINE__, "Failed to open socket for \"%s\"", port.name);
        return 1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(lport));
    if (::bind(state->fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        report_os_error(port.interp, kModule, __LINE__, "Failed to bind local address for \"%s\"", port.name);
        return 1;
    }
    if (!set_nonblocking(port.interp, state->fd)) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "Failed to set socket nonblocking for \"%s\"", port.name);
        return 1;
    }
    socklen_t len = sizeof local;
    if (::getsockname(state->fd, reinterpret_cast<sockaddr*>(&local), &len) < 0) {
        report_os_error(port.interp, kModule, __LINE__, "Failed to get local name for \"%s\"", port.name);
        return 1;
    }
    state->family = AF_INET;
    state->local_port = ntohs(local.sin_port);
    state->frame_size = port.pool ? port.pool->room : 0;

    char host[kHostNameMax + 1] = {};
    if (::gethostname(host, kHostNameMax) < 0) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "Couldn't get the hostname");
        return 1;
    }
    uint32_t address = resolve_host(host);
    if (address == 0xFFFFFFFFu) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "Couldn't get host");
        return 1;
    }
    state->local_address = ntohl(address);

    return socket_opened(port, std::move(state));
}

// Datagrams the socket itself dropped (its buffer was full while the
// interface had paused reading) and not yet counted go to the interface's
// read-queue drops. Asked when the socket has nothing more to read.
void count_socket_drops(MediaPort& port, UdpState* s) {
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t len = sizeof info;
    if (::getsockopt(s->fd, SOL_SOCKET, SO_MEMINFO, info, &len) < 0 || len <= SK_MEMINFO_DROPS * sizeof(uint32_t))
        return;
    uint32_t total = info[SK_MEMINFO_DROPS];
    uint32_t lost = total - s->drops_seen;
    s->drops_seen = total;
    if (lost && port.netif) netif_count_drops(port.netif, lost);
}

PacketBuffer* udp_read(MediaPort& port) {
    UdpState* s = state_of(port);
    if (!s) return media_end_of_input();
    PacketBuffer* b = pool_get(port.pool);
    if (!b) return nullptr;
    uint32_t room = b->appendable();
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    ssize_t got = ::recvfrom(s->fd, b->record() + b->tail, room, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                             &from_len);
    if (got < 0) {
        buffer_free(b);
        if (errno == EAGAIN || errno == EWOULDBLOCK) count_socket_drops(port, s);
        return nullptr;
    }
    if (got == 0) {
        buffer_free(b);
        return media_end_of_input();
    }
    uint32_t kept = static_cast<uint32_t>(std::min<ssize_t>(got, room));
    if (static_cast<size_t>(got) > room) b->trunc_len = static_cast<uint32_t>(got) + kPseudoHeader;
    buffer_stamp_now(b);
    b->append(kept);
    b->prepend(kPseudoHeader);
    uint8_t* d = b->data();
    put_net32(d, ntohl(from.sin_addr.s_addr));
    put_net32(d + 4, s->local_address);
    put_net16(d + 8, ntohs(from.sin_port));
    put_net16(d + 10, s->local_port);
    return b;
}

int udp_write(MediaPort& port, PacketBuffer* buffer) {
    if (!buffer) return 0;
    std::unique_ptr<PacketBuffer, void (*)(PacketBuffer*)> owned(buffer, buffer_free);
    UdpState* s = state_of(port);
    uint32_t len = buffer->length();
    if (len < kPseudoHeader)
        report(port.interp, kModule, __LINE__, LOG_WARNING, "Attempt to send malformed message failed for %s", port.name);
    if (len <= kPseudoHeader) {
        report(port.interp, kModule, __LINE__, LOG_WARNING, "Attempt to send empty message failed for %s", port.name);
        errno = EINVAL;
        return 1;
    }
    const uint8_t* d = buffer->data();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(get_net32(d + 4));
    to.sin_port = htons(get_net16(d + 10));
    const uint8_t* payload = d + kPseudoHeader;
    size_t payload_len = len - kPseudoHeader;
    if (!s) {
        errno = EBADF;
    } else if (::sendto(s->fd, payload, payload_len, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0) {
        return 0;
    }
    int saved = errno;
    std::string where = dotted(get_net32(d + 4));
    errno = saved;
    report_os_error(port.interp, kModule, __LINE__, "sendto(%d,0x%08X,%d,0,%s,%d) failed for %s", s ? s->fd : -1,
                    static_cast<unsigned>(reinterpret_cast<uintptr_t>(payload) & 0xFFFFFFFFu), static_cast<int>(payload_len),
                    where.c_str(), static_cast<int>(get_net16(d + 10)), port.name);
    errno = saved;
    return 1;
}

int udp_info(MediaPort& port, Tcl_Interp* interp) {
    UdpState* s = state_of(port);
    if (!s) return TCL_OK;
    media_append_info(interp, "if_address_family", std::to_string(s->family));
    media_append_info(interp, "if_local_port", std::to_string(s->local_port));
    media_append_info(interp, "if_local_address", dotted(s->local_address));
    media_append_info(interp, "if_mtu", std::to_string(s->frame_size));
    return TCL_OK;
}

}  // namespace

void register_udp_media() { register_socket_class(kClassName, "UDP", udp_open, udp_read, udp_write, udp_info); }

}  // namespace zm
