// The ether media class: an interface on a host network device through a raw packet socket (AF_PACKET).
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <tcl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "core/bits.h"
#include "core/buffer.h"
#include "core/options.h"
#include "core/report.h"
#include "core/textconv.h"
#include "media/media.h"
#include "media/socket_media.h"

namespace zm {
namespace {

constexpr const char* kModule = "MEDIA/ether";
constexpr const char* kClassName = "ether";
constexpr const char* kBaseNode = "ENET_HDR";
constexpr uint32_t kEthernetHeader = 14;
constexpr uint32_t kVlanTag = 4;
constexpr uint32_t kAddresses = 12;  // destination and source: a VLAN tag goes after them

struct EtherState : SocketState {
    std::string device;
    int ifindex = 0;
    bool promisc = false;
    uint8_t mac[6] = {};
};

EtherState* state_of(MediaPort& port) { return static_cast<EtherState*>(port.state.get()); }

int ether_open(MediaPort& port, int argc, const char** argv) {
    const char* device = nullptr;
    const char* promisc = "0";
    const OptSpec table[] = {
        {"-device", OPT_STRING, 0, &device, "Network device to open (for example eth0)"},
        {"-promisc", OPT_STRING, 0, &promisc, "Receive every frame on the segment, not only those for this host"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    auto words = parse_media_options(port.interp, table, argc, argv);
    int promisc_on = 0;
    if (!words || Tcl_GetBoolean(nullptr, promisc, &promisc_on) != TCL_OK)
        return bad_open_arguments(port, kModule, kClassName);
    warn_unused_open_words(port.interp, *words);
    if (!socket_base_node_is(port, kModule, kClassName, kBaseNode)) return 1;
    if (!device || !*device) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "Ether media requires a -device option");
        return 1;
    }
    if (std::strlen(device) >= IFNAMSIZ) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "No network device \"%s\"", device);
        return 1;
    }
    auto state = std::make_unique<EtherState>();
    state->device = device;
    state->promisc = promisc_on != 0;
    state->fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (state->fd < 0) {
        if (errno == EPERM || errno == EACCES)
            report_os_error(port.interp, kModule, __LINE__,
                            "Opening a raw packet socket on \"%s\" needs the CAP_NET_RAW privilege (run as root)",
                            device);
        else
            report_os_error(port.interp, kModule, __LINE__, "Failed to open a raw packet socket on \"%s\"", device);
        return 1;
    }
    state->ifindex = static_cast<int>(if_nametoindex(device));
    if (state->ifindex == 0) {
        report(port.interp, kModule, __LINE__, LOG_FAULT, "No network device \"%s\"", device);
        return 1;
    }
    sockaddr_ll local{};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETH_P_ALL);
    local.sll_ifindex = state->ifindex;
    if (::bind(state->fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        report_os_error(port.interp, kModule, __LINE__, "Failed to bind to network device \"%s\"", device);
        return 1;
    }
    // VLAN tags that the device took off on reception come back as auxiliary data.
    int on = 1;
    setsockopt(state->fd, SOL_PACKET, PACKET_AUXDATA, &on, sizeof on);
    if (state->promisc) {
        packet_mreq mr{};
        mr.mr_ifindex = state->ifindex;
        mr.mr_type = PACKET_MR_PROMISC;
        if (setsockopt(state->fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &mr, sizeof mr) < 0) {
            report_os_error(port.interp, kModule, __LINE__, "Failed to make \"%s\" promiscuous", device);
            return 1;
        }
    }
    ifreq ifr{};
    std::memcpy(ifr.ifr_name, device, std::strlen(device));
    if (ioctl(state->fd, SIOCGIFHWADDR, &ifr) == 0) std::memcpy(state->mac, ifr.ifr_hwaddr.sa_data, 6);
    return socket_opened(port, std::move(state));
}

PacketBuffer* ether_read(MediaPort& port) {
    EtherState* s = state_of(port);
    if (!s) return media_end_of_input();
    PacketBuffer* b = pool_get(port.pool);
    if (!b) return nullptr;
    // Room is kept for a VLAN tag put back in front of the frame's type.
    uint32_t room = b->appendable();
    room = room > kVlanTag ? room - kVlanTag : 0;
    sockaddr_ll from{};
    iovec iov{b->record() + b->tail, room};
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(tpacket_auxdata))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t got = ::recvmsg(s->fd, &msg, MSG_TRUNC);
    if (got <= 0) {
        buffer_free(b);
        return nullptr;  // nothing now; a device that goes away is not end of input
    }
    uint32_t kept = static_cast<uint32_t>(std::min<ssize_t>(got, room));
    uint32_t wire = static_cast<uint32_t>(got);
    b->append(kept);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA ||
            c->cmsg_len < CMSG_LEN(sizeof(tpacket_auxdata)))
            continue;
        tpacket_auxdata aux;
        std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
        if (!(aux.tp_status & TP_STATUS_VLAN_VALID) || kept < kAddresses) continue;
        uint16_t tpid = (aux.tp_status & TP_STATUS_VLAN_TPID_VALID) ? aux.tp_vlan_tpid : ETH_P_8021Q;
        uint8_t* d = b->data();
        b->append(kVlanTag);
        std::memmove(d + kAddresses + kVlanTag, d + kAddresses, kept - kAddresses);
        put_net16(d + kAddresses, tpid);
        put_net16(d + kAddresses + 2, aux.tp_vlan_tci);
        wire += kVlanTag;
        kept += kVlanTag;
    }
    if (wire > kept) b->trunc_len = wire;
    buffer_stamp_now(b);
    b->direction = from.sll_pkttype == PACKET_OUTGOING ? DIR_TX : DIR_RX;
    return b;
}

int ether_write(MediaPort& port, PacketBuffer* buffer) {
    if (!buffer) return 0;
    std::unique_ptr<PacketBuffer, void (*)(PacketBuffer*)> owned(buffer, buffer_free);
    EtherState* s = state_of(port);
    uint32_t len = buffer->length();
    if (len < kEthernetHeader) {
        report(port.interp, kModule, __LINE__, LOG_WARNING,
               "Attempt to send a frame of %u bytes, shorter than an Ethernet header, failed for %s", len, port.name);
        errno = EINVAL;
        return 1;
    }
    if (!s) {
        errno = EBADF;
    } else if (::send(s->fd, buffer->data(), len, 0) >= 0) {
        return 0;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return 1;  // the netif waits for the socket to drain
    }
    int saved = errno;
    report_os_error(port.interp, kModule, __LINE__, "Failed to send a frame of %u bytes on \"%s\" for %s", len,
                    s ? s->device.c_str() : "", port.name);
    errno = saved;
    return 1;
}

int ether_info(MediaPort& port, Tcl_Interp* interp) {
    EtherState* s = state_of(port);
    if (!s) return TCL_OK;
    media_append_info(interp, "if_device", s->device);
    media_append_info(interp, "if_index", std::to_string(s->ifindex));
    media_append_info(interp, "if_mac", bin2colonhex(s->mac, 6));
    media_append_info(interp, "if_promisc", s->promisc ? "1" : "0");
    return TCL_OK;
}

}  // namespace

void register_ether_media() {
    register_socket_class(kClassName, "Ethernet device (raw packet socket)", ether_open, ether_read, ether_write,
                          ether_info);
}

}  // namespace zm
