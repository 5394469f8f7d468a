// The UDP checksum over an IPv4 (RFC 768) or IPv6 (RFC 8200) pseudo-header.
#include "core/report.h"
#include "encode/checksum/checksum.h"
#include "encode/checksum/checksum_sum.h"
#include "encode/checksum/ipv6_pseudo.h"

namespace zm {
namespace {
constexpr const char* kModule = "CHECKSUM/udp_xsum";
constexpr int64_t kUdpHeader = 8;
}  // namespace

// data is the IP header; bits is the bit offset of the UDP header from it.
// Over IPv4 the UDP length is the total length minus the header length; over
// IPv6 it is what the payload length leaves after the extension headers. Only
// the bytes of it that are in the packet are summed.
int32_t udp_xsum(uint8_t* data, int, int32_t bits, int32_t* result, int, int, void*, size_t avail) {
    using namespace xsum;
    int64_t off = bits / 8;
    TransportPseudo pseudo = transport_pseudo(data, off, 17, avail, kModule);
    int64_t len = pseudo.length;
    uint64_t sum = pseudo.sum;
    sum += ones_add_within(data, off, 6, avail);  // ports and length; the checksum word counts as 0
    int64_t end = off + (len > kUdpHeader ? len : kUdpHeader);
    if (end > static_cast<int64_t>(avail))
        report_short(kModule, __LINE__, "UDP packet", len, off < static_cast<int64_t>(avail) ? avail - off : 0);
    if (len > kUdpHeader) {
        if (len & 1) report(nullptr, kModule, __LINE__, LOG_WARNING, "Length of UDP packet is odd - zero-padding last byte");
        sum += ones_add_within(data, off + kUdpHeader, len - kUdpHeader, avail);
    }
    int32_t value = complement16(sum);
    // A computed zero goes out as all ones: zero on the wire means "no checksum".
    if (value == 0) value = 0xFFFF;
    *result = value;
    return value;
}

}  // namespace zm
