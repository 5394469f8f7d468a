// The TCP checksum over an IPv4 or IPv6 pseudo-header.
#include "core/report.h"
#include "encode/checksum/checksum.h"
#include "encode/checksum/checksum_sum.h"
#include "encode/checksum/ipv6_pseudo.h"

namespace zm {
namespace {
constexpr const char* kModule = "CHECKSUM/tcp_xsum";
constexpr int64_t kTcpHeader = 20;
}  // namespace

// data is the IP header; bits is the bit offset of the TCP header from it.
// Over IPv4 the segment length is the total length minus the header length
// and the options and data are read from 20 bytes past the IPv4 header's
// end; over IPv6 the segment is what the payload length leaves after the
// extension headers, read from the TCP header on. Only bytes inside the
// packet are summed.
int32_t tcp_xsum(uint8_t* data, int, int32_t bits, int32_t* result, int, int, void*, size_t avail) {
    using namespace xsum;
    int64_t off = bits / 8;
    TransportPseudo pseudo = transport_pseudo(data, off, 6, avail, kModule);
    int64_t len = pseudo.length, hlen = pseudo.ip_length;
    uint64_t sum = pseudo.sum;
    // The fixed header, its checksum word (bytes 16-17) taken as 0.
    sum += ones_add_within(data, off, 16, avail);
    sum += ones_add_within(data, off + 18, 2, avail);
    if (off + kTcpHeader > static_cast<int64_t>(avail))
        report_short(kModule, __LINE__, "TCP header", kTcpHeader, off < static_cast<int64_t>(avail) ? avail - off : 0);
    int64_t rest = len - kTcpHeader;
    if (rest > 0) {
        int64_t start = hlen + kTcpHeader;
        if (start + rest > static_cast<int64_t>(avail))
            report_short(kModule, __LINE__, "TCP packet", len,
                         hlen < static_cast<int64_t>(avail) ? avail - hlen : 0);
        if (rest & 1) report(nullptr, kModule, __LINE__, LOG_CODE, "Length of TCP packet is odd - zero-padding last byte");
        sum += ones_add_within(data, start, rest, avail);
    }
    int32_t value = complement16(sum);
    *result = value;
    return value;
}

}  // namespace zm
