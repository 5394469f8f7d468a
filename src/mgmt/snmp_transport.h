// The two ways an SNMP request travels: a UDP socket of the host, or a netif
// (a packet built from a filter string and sent with the interface's send,
// the answer caught by the "snmp_internal" packet handler). Both wait for an
// answer inside the script event loop with the blocking wait.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct Tcl_Interp;

namespace zm {

struct Netif;

class SnmpTransport {
public:
    virtual ~SnmpTransport() = default;
    // Sends one whole message; false after a report when it could not go.
    virtual bool send(const std::vector<uint8_t>& message) = 0;
    enum class Received { datagram, timeout, failed };
    // Waits for one datagram from the agent for at most `timeout_ms`
    // (0: no limit). `failed` (after a report) when no wait could be set up.
    virtual Received receive(int timeout_ms, std::vector<uint8_t>* datagram) = 0;
};

// Addresses of one call, as given by the options. `host` is dotted text.
struct SnmpEndpoints {
    std::string host;
    std::string local_host;
    std::string src_mac;
    std::string dest_mac;
    int port = 0;
    int local_port = 0;
};

// A socket bound to any local address and a port the system chooses. Null
// (after the system's error text is printed on standard error) when the
// socket cannot be made.
std::unique_ptr<SnmpTransport> open_udp_transport(Tcl_Interp* interp, const SnmpEndpoints& ends);
// The interface transport; null (after a report) when the interface's base
// node needs addresses the call did not give.
std::unique_ptr<SnmpTransport> open_netif_transport(Tcl_Interp* interp, Netif* netif, const SnmpEndpoints& ends);

// Enters "snmp_internal" in the internal handler registry.
void register_snmp_internal_handler();

}  // namespace zm
