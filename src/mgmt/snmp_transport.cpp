// SNMP transports: a host UDP socket watched in the event loop, and a netif with the "snmp_internal" handler.
#include "mgmt/snmp_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tcl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/block_wait.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "core/textconv.h"
#include "decode/decode.h"
#include "encode/send.h"
#include "mgmt/snmp.h"
#include "netif/netif.h"
#include "pdl/protodb.h"

namespace zm {

namespace {

constexpr const char* kModule = "snmp";
constexpr const char* kHandlerName = "snmp_internal";
// A datagram is there to read (from the socket, or caught by the handler).
constexpr int32_t kSignalData = kSignalMatched;
// Large enough for any UDP datagram, so an oversized one is seen whole and refused.
constexpr size_t kDatagramMax = 65536;

// One wait of the event loop for a signal from a handler or the timer.
class Wait {
public:
    explicit Wait(int timeout_ms) {
        if (timeout_ms > 0) timer_ = Tcl_CreateTimerHandler(timeout_ms, on_timer, this);
    }
    ~Wait() {
        if (timer_) Tcl_DeleteTimerHandler(timer_);
    }
    Wait(const Wait&) = delete;
    Wait& operator=(const Wait&) = delete;
    int32_t run() {
        int32_t result = 0;
        block_wait(&result, nullptr);
        return result;
    }

private:
    static void on_timer(ClientData data) {
        auto* self = static_cast<Wait*>(data);
        self->timer_ = nullptr;
        block_signal(kSignalReceiveTimeout, 0);
    }
    Tcl_TimerToken timer_ = nullptr;
};

// ---- UDP socket -----------------------------------------------------------

class UdpTransport final : public SnmpTransport {
public:
    UdpTransport(Tcl_Interp* interp, uint32_t agent, uint16_t port)
        : interp_(interp), agent_(agent), port_(port), rx_(kDatagramMax) {}
    ~UdpTransport() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool open() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0) {
            std::fprintf(stderr, "socket: %s\n", std::strerror(errno));
            return false;
        }
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
            std::fprintf(stderr, "bind: %s\n", std::strerror(errno));
            return false;
        }
        return true;
    }

    bool send(const std::vector<uint8_t>& message) override {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = agent_;
        to.sin_port = htons(port_);
        size_t sent = 0;
        while (sent < message.size()) {
            ssize_t n = ::sendto(fd_, message.data() + sent, message.size() - sent, 0,
                                 reinterpret_cast<sockaddr*>(&to), sizeof to);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                std::fprintf(stderr, "udpSend: %s\n", std::strerror(errno));
                return false;
            }
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    Received receive(int timeout_ms, std::vector<uint8_t>* datagram) override {
        Wait wait(timeout_ms);
        Tcl_CreateFileHandler(fd_, TCL_READABLE, on_readable, nullptr);
        bool got = false;
        while (!got) {
            if (wait.run() != kSignalData) break;
            got = read_one(datagram);
        }
        Tcl_DeleteFileHandler(fd_);
        return got ? Received::datagram : Received::timeout;
    }

private:
    static void on_readable(ClientData, int) { block_signal(kSignalData, 0); }

    // Reads what is there; true for a datagram from the agent's address and port.
    bool read_one(std::vector<uint8_t>* datagram) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fd_, rx_.data(), rx_.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return false;
        if (from.sin_addr.s_addr != agent_ || ntohs(from.sin_port) != port_) return false;
        if (static_cast<size_t>(n) > kSnmpWorkArea) {
            report(interp_, kModule, __LINE__, LOG_FAULT, "internal buffer overflow");
            return false;
        }
        datagram->assign(rx_.begin(), rx_.begin() + n);
        return true;
    }

    Tcl_Interp* interp_;
    uint32_t agent_;  // network order
    uint16_t port_;
    int fd_ = -1;
    std::vector<uint8_t> rx_;
};

// ---- netif ----------------------------------------------------------------

struct DatagramWait : HandlerWait {
    std::vector<uint8_t> datagram;
};
using WaitRef = std::shared_ptr<DatagramWait>;

int snmp_internal(Handler* h, Netif* n, PacketBuffer* b) {
    if (!h->client_data_) return 0;
    DatagramWait& w = **static_cast<WaitRef*>(h->client_data_);
    netif_decode(n, b);
    if (!h->matched_ || !w.waiting) return 0;
    const DecodeBlock* tree = decode_tree(b);
    const Node* want = find_node("SNMP_HDR");
    uint32_t start = UINT32_MAX;
    if (tree && want)
        for (const DecodeElement& e : *tree)
            if (e.type == DECODE_NODE && e.node() == want) {
                start = e.offset / 8;
                break;
            }
    if (start == UINT32_MAX || start > b->length()) {
        report(n->interp_, kModule, __LINE__, LOG_FAULT, "check pdl; SNMP_HDR not found");
        return 0;
    }
    if (b->length() - start > kSnmpWorkArea) {
        report(n->interp_, kModule, __LINE__, LOG_FAULT, "internal buffer overflow");
        return 0;
    }
    w.datagram.assign(b->data() + start, b->data() + b->length());
    w.waiting = false;
    block_signal(kSignalData, 0);
    unregister_handler(n, kHandlerName);
    return 0;
}

// A wait still pending when the handler goes (its interface deleted) is
// ended, so the command never waits on a freed interface.
int snmp_internal_delete(Handler* h) {
    auto* ref = static_cast<WaitRef*>(h->client_data_);
    if (!ref) return 1;
    (*ref)->handler_deleted();
    delete ref;
    h->client_data_ = nullptr;
    return 1;
}

class NetifTransport final : public SnmpTransport {
public:
    NetifTransport(Tcl_Interp* interp, Netif* netif, std::string send_filter, std::string receive_filter)
        : interp_(interp), netif_(netif), name_(netif->name_), send_filter_(std::move(send_filter)),
          receive_filter_(std::move(receive_filter)) {}

    bool send(const std::vector<uint8_t>& message) override {
        Netif* n = find_netif(name_.c_str());
        if (n != netif_) return false;
        std::string filter = send_filter_ + bin2asciihex(message.data(), message.size(), false);
        const char* argv[] = {name_.c_str(), "send", filter.c_str(), nullptr};
        return cmd_send(n, interp_, 3, argv) == TCL_OK;
    }

    Received receive(int timeout_ms, std::vector<uint8_t>* datagram) override {
        Netif* n = find_netif(name_.c_str());
        if (n != netif_) return Received::failed;
        if (find_handler(n, kHandlerName)) {
            report(interp_, kModule, __LINE__, LOG_FAULT, "Attempt to do snmp while snmp is already pending");
            return Received::failed;
        }
        auto wait = std::make_shared<DatagramWait>();
        auto* ref = new WaitRef(wait);
        if (!internal_register(n, kHandlerName, receive_filter_.c_str(), snmp_internal, snmp_internal_delete, ref)) {
            delete ref;
            return Received::failed;
        }
        Wait timer(timeout_ms);
        int32_t signal = timer.run();
        if (wait->waiting) {
            wait->waiting = false;
            if (!wait->handler_gone && find_netif(name_.c_str()) == netif_) unregister_handler(netif_, kHandlerName);
        }
        if (signal != kSignalData || wait->datagram.empty()) return Received::timeout;
        *datagram = std::move(wait->datagram);
        return Received::datagram;
    }

private:
    Tcl_Interp* interp_;
    Netif* netif_;
    std::string name_;
    std::string send_filter_;  // ends with "RAWDATA 0x": the message's hex follows
    std::string receive_filter_;
};

}  // namespace

std::unique_ptr<SnmpTransport> open_udp_transport(Tcl_Interp* interp, const SnmpEndpoints& ends) {
    in_addr a{};
    if (!::inet_aton(ends.host.c_str(), &a)) return nullptr;
    auto t = std::make_unique<UdpTransport>(interp, a.s_addr, static_cast<uint16_t>(ends.port));
    if (!t->open()) return nullptr;
    return t;
}

std::unique_ptr<SnmpTransport> open_netif_transport(Tcl_Interp* interp, Netif* netif, const SnmpEndpoints& e) {
    const std::string base = netif->base_node_ ? netif->base_node_->name_ : std::string();
    char text[512];
    std::string send, receive;
    if (base == "ZEMKO_UDP_HDR") {
        // The udp media sends the payload to the pseudo-header's destination.
        std::snprintf(text, sizeof text, "ZEMKO_UDP_HDR dest_address=%s dest_port=%d, RAWDATA 0x", e.host.c_str(),
                      e.port);
        send = text;
        std::snprintf(text, sizeof text, "ZEMKO_UDP_HDR src_address=%s src_port=%d", e.host.c_str(), e.port);
        receive = text;
    } else {
        bool link = base == "ENET_HDR";
        if (e.local_host.empty() || (link && (e.src_mac.empty() || e.dest_mac.empty()))) {
            report(interp, kModule, __LINE__, LOG_FAULT, "Interface %s needs %s", netif->name_.c_str(),
                   link ? "-srcmac, -destmac and -lhost" : "-lhost");
            return nullptr;
        }
        if (link) {
            std::snprintf(text, sizeof text, "ENET_HDR src=%s dst=%s, ", e.src_mac.c_str(), e.dest_mac.c_str());
            send = text;
        }
        std::snprintf(text, sizeof text,
                      "IP_HDR ip_src_address=%s ip_dest_address=%s, UDP_HDR udp_src_port=%d udp_dest_port=%d, RAWDATA 0x",
                      e.local_host.c_str(), e.host.c_str(), e.local_port, e.port);
        send += text;
        std::snprintf(text, sizeof text,
                      "IP_HDR ip_src_address=%s ip_dest_address=%s, UDP_HDR udp_src_port=%d udp_dest_port=%d",
                      e.host.c_str(), e.local_host.c_str(), e.port, e.local_port);
        receive = text;
    }
    return std::make_unique<NetifTransport>(interp, netif, send, receive);
}

void register_snmp_internal_handler() { register_internal_handler(kHandlerName, snmp_internal); }

}  // namespace zm
