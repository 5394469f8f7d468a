// The wtftp command: a TFTP transfer run from the script event loop over a UDP socket.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <tcl.h>

#include "core/groups.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "mgmt/tftp.h"

namespace zm {
namespace {

constexpr const char* kModule = "tftp";
constexpr const char* kUsage =
    "wrong # args: wtftp [-i] [-timeout <timeout value>] <host> GET <src> <dst>";
constexpr int kDefaultTimeoutMs = 15000;
constexpr uint16_t kDefaultTftpPort = 69;
// Large enough for any UDP datagram, so an oversized reply is seen whole and
// refused instead of being cut to a valid-looking packet.
constexpr size_t kReceiveMax = 65536;

struct TftpError : std::exception {
    explicit TftpError(std::string t) : text(std::move(t)) {}
    const char* what() const noexcept override { return text.c_str(); }
    std::string text;
};

// Socket, channel, timer and file handler of one call. The destructor releases
// whatever the normal end of the transfer did not.
class TclTftpHost final : public TftpHost {
public:
    explicit TclTftpHost(int timeout_ms) : timeout_ms_(timeout_ms), rx_(kReceiveMax) {}
    ~TclTftpHost() override {
        stop_events();
        if (fd_ >= 0) ::close(fd_);
        if (chan_) Tcl_Close(nullptr, chan_);
    }
    TclTftpHost(const TclTftpHost&) = delete;
    TclTftpHost& operator=(const TclTftpHost&) = delete;

    // Creates the socket bound to any address and a system-chosen port.
    void open_socket() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) throw TftpError("Error in socket");
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = 0;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0)
            throw TftpError("Error in bind");
        int flags = ::fcntl(fd_, F_GETFL, 0);
        if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) < 0)
            throw TftpError("Error in ioctlsocket");
        socklen_t len = sizeof local;
        if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) < 0)
            throw TftpError("Error in getsockname");
    }

    void set_channel(Tcl_Channel chan) { chan_ = chan; }

    void run(TftpTransfer& transfer) {
        transfer_ = &transfer;
        Tcl_CreateFileHandler(fd_, TCL_READABLE, on_readable, this);
        watching_ = true;
        transfer.start();
        while (!transfer.finished()) Tcl_DoOneEvent(TCL_ALL_EVENTS);
        stop_events();
    }

    // Closes the socket; false when the system refuses.
    bool close_socket() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

    // Closes the local file; false when buffered data could not be written.
    bool close_channel() {
        Tcl_Channel chan = chan_;
        chan_ = nullptr;
        return !chan || Tcl_Close(nullptr, chan) == TCL_OK;
    }

    bool send_to(const TftpEndpoint& to, const std::vector<uint8_t>& packet) override {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(to.addr);
        addr.sin_port = htons(to.port);
        ssize_t n = ::sendto(fd_, packet.data(), packet.size(), 0,
                             reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        return n == ssize_t(packet.size());
    }

    long read_local(uint8_t* buf, size_t n) override {
        int got = Tcl_Read(chan_, reinterpret_cast<char*>(buf), int(n));
        return got < 0 ? -1 : long(got);
    }

    bool write_local(const uint8_t* data, size_t n) override {
        return Tcl_Write(chan_, reinterpret_cast<const char*>(data), int(n)) == int(n);
    }

    void arm_timer() override {
        if (timer_) Tcl_DeleteTimerHandler(timer_);
        timer_ = Tcl_CreateTimerHandler(timeout_ms_, on_timer, this);
    }

private:
    void stop_events() {
        if (timer_) Tcl_DeleteTimerHandler(timer_);
        timer_ = nullptr;
        if (watching_) Tcl_DeleteFileHandler(fd_);
        watching_ = false;
    }

    // An event that fails (out of memory) ends the transfer, so the command
    // waiting for it does not wait for ever.
    template <typename Body>
    void event(const char* what, Body&& body) {
        if (guard(nullptr, kModule, what, [&] {
                body();
                return TCL_OK;
            }) != TCL_OK)
            transfer_->abort(0, "Tftp: out of memory");
    }

    static void on_timer(ClientData cd) {
        auto* self = static_cast<TclTftpHost*>(cd);
        self->timer_ = nullptr;
        self->event("Tftp timer", [self] { self->transfer_->on_timer(); });
    }

    static void on_readable(ClientData cd, int) {
        auto* self = static_cast<TclTftpHost*>(cd);
        self->event("Tftp receive", [self] { self->receive(); });
    }

    void receive() {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fd_, rx_.data(), rx_.size(), 0, reinterpret_cast<sockaddr*>(&from),
                               &len);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
            transfer_->on_receive_error();
            return;
        }
        TftpEndpoint src{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
        transfer_->on_datagram(src, rx_.data(), size_t(n));
    }

    int timeout_ms_;
    int fd_ = -1;
    bool watching_ = false;
    Tcl_Channel chan_ = nullptr;
    Tcl_TimerToken timer_ = nullptr;
    TftpTransfer* transfer_ = nullptr;
    std::vector<uint8_t> rx_;
};

// The server's address: a dotted address as it is, else the first IPv4
// address of the host name.
uint32_t resolve_server(const std::string& host) {
    in_addr a{};
    if (::inet_aton(host.c_str(), &a)) return ntohl(a.s_addr);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res)
        throw TftpError("Error in gethostbyname");
    uint32_t addr = ntohl(reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(res);
    return addr;
}

uint16_t tftp_service_port() {
    const servent* s = ::getservbyname("tftp", "udp");
    return s ? ntohs(uint16_t(s->s_port)) : kDefaultTftpPort;
}

// The host word is a host name or dotted address, optionally followed by
// ":port" to reach a server that does not listen on the service port.
TftpEndpoint server_endpoint(std::string host) {
    uint16_t port = 0;
    size_t colon = host.rfind(':');
    if (colon != std::string::npos) {
        std::string digits = host.substr(colon + 1);
        unsigned long value = 0;
        bool numeric = !digits.empty() && digits.size() <= 5 &&
                       digits.find_first_not_of("0123456789") == std::string::npos;
        if (numeric) value = std::stoul(digits);
        if (!numeric || value == 0 || value > 65535)
            throw TftpError("Tftp: invalid port \"" + digits + "\" in \"" + host + "\"");
        port = uint16_t(value);
        host.resize(colon);
    }
    uint32_t addr = resolve_server(host);
    return TftpEndpoint{addr, port ? port : tftp_service_port()};
}

int usage(Tcl_Interp* interp) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(kUsage, -1));
    return TCL_ERROR;
}

int run_wtftp(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc < 5 || objc > 8) return usage(interp);
    bool octet = false;
    int timeout_ms = kDefaultTimeoutMs;
    const int first_fixed = objc - 4;
    for (int i = 1; i < first_fixed; ++i) {
        std::string opt = Tcl_GetString(objv[i]);
        if (opt == "-i") {
            octet = true;
        } else if (opt == "-timeout" && i + 1 < first_fixed) {
            if (Tcl_GetIntFromObj(interp, objv[++i], &timeout_ms) != TCL_OK) return TCL_ERROR;
        } else {
            return usage(interp);
        }
    }
    const char* host_name = Tcl_GetString(objv[first_fixed]);
    std::string op = Tcl_GetString(objv[first_fixed + 1]);
    const char* src = Tcl_GetString(objv[first_fixed + 2]);
    const char* dst = Tcl_GetString(objv[first_fixed + 3]);
    TftpDirection dir;
    if (op == "GET")
        dir = TftpDirection::get;
    else if (op == "PUT")
        dir = TftpDirection::put;
    else
        return usage(interp);

    const char* remote = dir == TftpDirection::get ? src : dst;
    const char* mode = octet ? "octet" : "netascii";
    std::vector<uint8_t> request;
    if (!build_tftp_request(dir == TftpDirection::get ? TFTP_RRQ : TFTP_WRQ, remote, mode,
                            &request)) {
        Tcl_SetObjResult(interp,
                         Tcl_NewStringObj("Tftp: remote file name too long for a request packet",
                                          -1));
        return TCL_ERROR;
    }
    TclTftpHost host(timeout_ms);
    TftpEndpoint server;
    try {
        host.open_socket();
        server = server_endpoint(host_name);
    } catch (const TftpError& e) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(e.text.c_str(), -1));
        return TCL_ERROR;
    }
    TftpTransfer transfer(dir, octet, server, host);
    transfer.prepare(remote);

    const char* local = dir == TftpDirection::get ? dst : src;
    Tcl_Channel chan = dir == TftpDirection::get ? Tcl_OpenFileChannel(interp, local, "w", 0644)
                                                 : Tcl_OpenFileChannel(interp, local, "r", 0);
    if (!chan) return TCL_ERROR;
    host.set_channel(chan);
    if (octet && Tcl_SetChannelOption(interp, chan, "-translation", "binary") != TCL_OK)
        return TCL_ERROR;

    auto started = std::chrono::steady_clock::now();
    host.run(transfer);
    bool ok = !transfer.failed();
    std::string error = transfer.error();
    if (!host.close_socket() && ok) {
        ok = false;
        error = "Tftp: Error in closesocket";
    }
    // Data of a GET may still sit in the channel buffer: a failed flush is a
    // failed write, not a successful transfer.
    if (!host.close_channel() && ok && dir == TftpDirection::get) {
        ok = false;
        error = "Error in Tcl_Write";
    }
    if (!ok) {
        if (dir == TftpDirection::get) {
            Tcl_Obj* path = Tcl_NewStringObj(local, -1);
            Tcl_IncrRefCount(path);
            Tcl_FSDeleteFile(path);
            Tcl_DecrRefCount(path);
        }
        Tcl_SetObjResult(interp, Tcl_NewStringObj(error.c_str(), -1));
        return TCL_ERROR;
    }
    long long secs = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::steady_clock::now() - started)
                         .count();
    std::string text = std::string(dir == TftpDirection::get ? "Received " : "Sent ") +
                       std::to_string(transfer.byte_count()) + " bytes in " +
                       std::to_string(secs) + " seconds";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_OK;
}

int cmd_wtftp(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) noexcept {
    return guard(interp, kModule, "wtftp", [&] { return run_wtftp(interp, objc, objv); });
}

}  // namespace
}  // namespace zm

// Also a load entry of its own ("load libzemko.so Tftp"), so it sets up the
// stub table itself rather than relying on Zemko_Init having run.
extern "C" int Tftp_Init(Tcl_Interp* interp) {
    if (!Tcl_InitStubs(interp, "8.6", 0)) return TCL_ERROR;
    Tcl_CreateObjCommand(interp, "wtftp", zm::cmd_wtftp, nullptr, nullptr);
    return TCL_OK;
}
