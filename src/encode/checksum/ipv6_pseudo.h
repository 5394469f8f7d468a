// The pseudo-headers of upper-layer checksums: IPv6's (UDP, TCP, ICMPv6 over
// IPv6), and the IPv4-or-IPv6 one of TCP and UDP.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zm::xsum {

// True when the bytes at `data` start an IPv6 header (version 6). The
// transport algorithms are handed whichever IP header was laid out last, so
// this picks the pseudo-header to use.
inline bool starts_ipv6(const uint8_t* data, size_t avail) { return avail > 0 && (data[0] >> 4) == 6; }

// Sum (not folded) of the IPv6 pseudo-header for an upper-layer packet of
// `length` bytes with next-header value `proto`: source address, final
// destination, length and protocol. `data` is the IPv6 header and `upper`
// the offset of the upper-layer header from it; a routing header with
// segments left between the two supplies the final destination.
uint64_t ipv6_pseudo_sum(const uint8_t* data, int64_t upper, uint64_t length, uint32_t proto, size_t avail);

// The upper-layer length an IPv6 header claims for a header at `upper`:
// 40 + payload length - upper, never negative.
int64_t ipv6_upper_length(const uint8_t* data, int64_t upper, size_t avail);

// The pseudo-header of a TCP or UDP checksum (protocol `proto`) over whichever
// IP header `data` starts; `upper` is the offset of the transport header. An
// IP header cut short by the packet is reported from `module`.
struct TransportPseudo {
    int64_t length;     // the transport length the IP header claims
    int64_t ip_length;  // IPv4: the header length its first byte gives; IPv6: `upper`
    uint64_t sum;       // not folded
};
TransportPseudo transport_pseudo(const uint8_t* data, int64_t upper, uint32_t proto, size_t avail,
                                 const char* module);

}  // namespace zm::xsum
