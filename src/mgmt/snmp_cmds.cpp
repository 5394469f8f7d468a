// SNMP client commands: snmpget, snmpnxt, snmpset, oid2hex and hex2oid.
#include <arpa/inet.h>
#include <netdb.h>
#include <tcl.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/groups.h"
#include "core/options.h"
#include "core/report.h"
#include "core/tcl_entry.h"
#include "core/textconv.h"
#include "mgmt/ber.h"
#include "mgmt/snmp.h"
#include "mgmt/snmp_transport.h"
#include "netif/netif.h"

namespace zm {

namespace {

constexpr const char* kModule = "snmp";
constexpr const char* kDefaultCommunity = "kelmor";
constexpr size_t kOidHexMax = 1024;
constexpr size_t kAddressTextMax = 64;

int fault(Tcl_Interp* interp, int line, const char* fmt, const char* a = "", const char* b = "") {
    report(interp, kModule, line, LOG_FAULT, fmt, a, b);
    return TCL_ERROR;
}

// A decimal number in [lo, hi]; false for anything else.
bool parse_int(const char* text, long lo, long hi, long* out) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// Dotted text of a host name or address; empty when it does not resolve.
std::string dotted_host(const char* name) {
    if (!name || !*name || std::strlen(name) > 255) return {};
    uint32_t a = resolve_host(name);
    if (a == 0xFFFFFFFFu) return {};
    in_addr addr{};
    addr.s_addr = a;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

// MAC text goes into a filter string: hex digits and separators only.
bool mac_text_ok(const char* text) {
    size_t n = std::strlen(text);
    return n > 0 && n <= kAddressTextMax && std::strspn(text, "0123456789abcdefABCDEF:.-x") == n;
}

struct BusyGuard {
    BusyGuard() { ++snmp_client_state().busy; }
    ~BusyGuard() { --snmp_client_state().busy; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
};

Tcl_Obj* result_list(SnmpOp op, const SnmpRequest& req) {
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    if (op != SnmpOp::next) {
        for (const std::string& v : req.values())
            Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(v.data(), static_cast<int>(v.size())));
        return list;
    }
    for (const auto& answer : req.rows()) {
        Tcl_Obj* pairs = Tcl_NewListObj(0, nullptr);
        for (const auto& [oid, value] : answer) {
            Tcl_Obj* pair[2] = {Tcl_NewStringObj(oid.data(), static_cast<int>(oid.size())),
                                Tcl_NewStringObj(value.data(), static_cast<int>(value.size()))};
            Tcl_ListObjAppendElement(nullptr, pairs, Tcl_NewListObj(2, pair));
        }
        Tcl_ListObjAppendElement(nullptr, list, pairs);
    }
    return list;
}

// Sends the request and its retries, and the walk's further steps, until
// the request is done or the retries run out.
int exchange(Tcl_Interp* interp, SnmpTransport& transport, SnmpRequest& req, int retries, int timeout_ms) {
    std::vector<uint8_t> datagram;
    while (true) {
        if (!transport.send(req.message())) return fault(interp, __LINE__, "Error sending snmp request");
        int attempts = 1;
        bool next_step = false;
        while (!req.done() && !next_step) {
            SnmpTransport::Received got = transport.receive(timeout_ms, &datagram);
            if (got == SnmpTransport::Received::failed) return TCL_ERROR;
            if (got == SnmpTransport::Received::timeout) {
                if (attempts >= retries) return kSnmpNoAnswer;
                report(interp, kModule, __LINE__, LOG_DEBUG, "Snmp receive timed out - retrying...");
                ++attempts;
                if (!transport.send(req.message())) return fault(interp, __LINE__, "Error sending snmp request");
                continue;
            }
            req.on_datagram(datagram.data(), datagram.size());
            next_step = req.advanced();
        }
        if (req.done()) return req.code();
    }
}

int snmp_request(SnmpOp op, Tcl_Interp* interp, Words& w) {
    SnmpClientState& state = snmp_client_state();
    if (state.busy) return fault(interp, __LINE__, "snmp command was re-entered (currently unsupported)");
    BusyGuard busy;
    if (!state.started) {
        register_builtin_auth_schemes();
        state.started = true;
    }
    if (w.argc < 2) return fault(interp, __LINE__, "snmp command requires netif name");
    const char* transport_word = w[1];
    Netif* netif = nullptr;
    if (std::strcmp(transport_word, "udp") != 0) {
        netif = find_netif(transport_word);
        if (!netif) return fault(interp, __LINE__, "Interface %s is unknown", transport_word);
    }

    const char *community = nullptr, *host = nullptr, *lhost = nullptr, *destmac = nullptr, *srcmac = nullptr,
               *identify = nullptr, *port = nullptr, *lport = nullptr, *timeout = nullptr, *retries = nullptr;
    const OptSpec table[] = {
        {"-community", OPT_STRING, 0, &community, "Community string"},
        {"-host", OPT_STRING, 0, &host, "Foreigh host"},
        {"-lhost", OPT_STRING, 0, &lhost, "Local host"},
        {"-destmac", OPT_STRING, 0, &destmac, "Dest mac"},
        {"-srcmac", OPT_STRING, 0, &srcmac, "Source mac"},
        {"-identify", OPT_STRING, 0, &identify, "Request ID"},
        {"-port", OPT_STRING, 0, &port, "Foreign port"},
        {"-lport", OPT_STRING, 0, &lport, "Local port"},
        {"-timeout", OPT_STRING, 0, &timeout, "Timeout"},
        {"-retries", OPT_STRING, 0, &retries, "Number of Retries"},
        {nullptr, OPT_END, 0, nullptr, nullptr},
    };
    // The transport word stands in for the command name.
    int count = w.argc - 1;
    const char** words = w.data() + 1;
    if (parse_options(interp, &count, words, table, 0) != TCL_OK) {
        std::string why = Tcl_GetStringResult(interp);
        return fault(interp, __LINE__, "Failed processing arguments: %s", why.c_str());
    }
    (void)identify;  // the request-id always comes from the counter

    if (!host) host = Tcl_GetVar(interp, "DEFAULT_HOST", TCL_GLOBAL_ONLY);
    if (!host) return fault(interp, __LINE__, "Must specify a host address or set DEFAULT_HOST");
    SnmpEndpoints ends;
    long number = 0;
    if (port) {
        if (!parse_int(port, 1, 65535, &number)) return fault(interp, __LINE__, "Bad foreign port: %s", port);
        ends.port = static_cast<int>(number);
    } else {
        const servent* s = getservbyname("snmp", "udp");
        if (!s) return fault(interp, __LINE__, "No such service: %s/%s", "snmp", "udp");
        ends.port = ntohs(static_cast<uint16_t>(s->s_port));
    }
    if (lport) {
        if (parse_int(lport, 1, 65535, &number)) {
            state.local_port = static_cast<int>(number);
        } else {
            report(interp, kModule, __LINE__, LOG_FAULT, "Bad local port: %s; assuming same as host port", lport);
            state.local_port = ends.port;
        }
    }
    ends.local_port = state.local_port ? state.local_port : ends.port;
    if (retries) {
        if (!parse_int(retries, 1, 1000000, &number)) return fault(interp, __LINE__, "Bad retries: %s", retries);
        state.retries = static_cast<int>(number);
    }
    int timeout_ms = 0;
    if (timeout) {
        char* end = nullptr;
        double seconds = std::strtod(timeout, &end);
        if (end == timeout || *end || !(seconds >= 0) || seconds > 2e6)
            return fault(interp, __LINE__, "Bad timeout: %s", timeout);
        timeout_ms = static_cast<int>(std::ceil(seconds * 1000.0));
    }

    std::string error;
    if (!community) community = kDefaultCommunity;
    auto party = create_party(community, "trivial", &error);
    if (!party) return fault(interp, __LINE__, "Bad community \"%s\": %s", community, error.c_str());

    std::vector<std::string> items(words + 1, words + count);
    if (items.empty()) return fault(interp, __LINE__, "No OIDs specified");
    size_t per_item = op == SnmpOp::set ? 3 : 1;
    if (op == SnmpOp::set && items.size() % 3 != 0)
        return fault(interp, __LINE__, "Incorrect number of arguments to snmpset");
    if (items.size() / per_item > kSnmpMaxItems) {
        report(interp, kModule, __LINE__, LOG_FAULT, "Too many mib items specified, max is %d",
               static_cast<int>(kSnmpMaxItems));
        return TCL_ERROR;
    }
    std::vector<BindingOut> bindings;
    std::vector<std::string> oids, failed;
    if (!snmp_encode_items(op, items, &bindings, &oids, &failed)) {
        if (op == SnmpOp::set)
            report(interp, kModule, __LINE__, LOG_FAULT, "Error processing mib item \"%s %s %s\"", failed[0].c_str(),
                   failed[1].c_str(), failed[2].c_str());
        else
            report(interp, kModule, __LINE__, LOG_FAULT, "Error processing mib item \"%s\"", failed[0].c_str());
        return TCL_ERROR;
    }

    // Addresses go into filter strings: resolved to dotted text, MACs checked.
    ends.host = dotted_host(host);
    if (ends.host.empty()) return fault(interp, __LINE__, "Error opening snmp media; unknown host %s", host);
    std::unique_ptr<SnmpTransport> transport;
    if (netif) {
        if (lhost) ends.local_host = dotted_host(lhost);
        if (lhost && ends.local_host.empty())
            return fault(interp, __LINE__, "Error opening snmp media; unknown host %s", lhost);
        for (const char* mac : {srcmac, destmac})
            if (mac && !mac_text_ok(mac)) return fault(interp, __LINE__, "Error opening snmp media; bad MAC address %s", mac);
        if (srcmac) ends.src_mac = srcmac;
        if (destmac) ends.dest_mac = destmac;
        transport = open_netif_transport(interp, netif, ends);
        if (!transport) return TCL_ERROR;
    } else {
        transport = open_udp_transport(interp, ends);
        if (!transport) {
            report_os_error(interp, kModule, __LINE__, "Error opening snmp media");
            return TCL_ERROR;
        }
    }

    SnmpRequest req(op, party, std::move(bindings), std::move(oids));
    int code = exchange(interp, *transport, req, state.retries, timeout_ms);
    if (!req.warning().empty())
        report(interp, kModule, __LINE__, LOG_WARNING, "%s: %s", w[0], req.warning().c_str());
    if (code == TCL_OK) Tcl_SetObjResult(interp, result_list(op, req));
    return code;
}

int cmd_snmpget(ClientData, Tcl_Interp* interp, Words& w) { return snmp_request(SnmpOp::get, interp, w); }
int cmd_snmpnxt(ClientData, Tcl_Interp* interp, Words& w) { return snmp_request(SnmpOp::next, interp, w); }
int cmd_snmpset(ClientData, Tcl_Interp* interp, Words& w) { return snmp_request(SnmpOp::set, interp, w); }

int cmd_oid2hex(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc != 2) return fault(interp, __LINE__, "Usage: %s <oid>", w[0]);
    auto oid = oid_encode(w[1]);
    if (!oid) return fault(interp, __LINE__, "Bogus OID: %s", w[1]);
    if (oid->size() >= kOidHexMax) return fault(interp, __LINE__, "OID too long");
    std::string text = bin2asciihex(oid->data(), oid->size(), true);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_OK;
}

int cmd_hex2oid(ClientData, Tcl_Interp* interp, Words& w) {
    if (w.argc != 2) {
        report(interp, kModule, __LINE__, LOG_WARNING, "Usage: %s <hex>", w[0]);
        return TCL_ERROR;
    }
    const char* text = w[1];
    const char* digits = (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ? text + 2 : text;
    if (std::strspn(digits, "0123456789abcdefABCDEF:") != std::strlen(digits))
        return fault(interp, __LINE__, "Bogus hex OID");
    std::vector<uint8_t> bytes = asciihex2binary(text, false);
    auto oid = oid_decode(bytes.data(), bytes.size());
    if (!oid) return fault(interp, __LINE__, "Bogus hex OID");
    Tcl_SetObjResult(interp, Tcl_NewStringObj(oid->c_str(), -1));
    return TCL_OK;
}

}  // namespace

int register_snmp_group(Tcl_Interp* interp) {
    register_builtin_auth_schemes();
    snmp_client_state().started = true;
    register_snmp_internal_handler();
    create_command<cmd_snmpget>(interp, "snmpget");
    create_command<cmd_snmpnxt>(interp, "snmpnxt");
    create_command<cmd_snmpset>(interp, "snmpset");
    create_command<cmd_oid2hex>(interp, "oid2hex");
    create_command<cmd_hex2oid>(interp, "hex2oid");
    return 0;
}

}  // namespace zm
