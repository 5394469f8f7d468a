// The IPv6 pseudo-header: source, final destination, upper-layer length, next header.
#include "encode/checksum/ipv6_pseudo.h"

#include "encode/checksum/checksum_sum.h"

namespace zm::xsum {
namespace {

constexpr int64_t kIpv6Header = 40;
constexpr uint32_t kHopByHop = 0, kRouting = 43, kFragment = 44, kAuth = 51, kDestOptions = 60;

// Offset of the final destination address: the fixed header's destination
// unless a routing header with segments left names a later one (the last
// address of a type 0 or type 2 header, the first segment of a segment
// routing header). Only headers lying wholly before `upper` are looked at.
int64_t final_destination(const uint8_t* data, int64_t upper, size_t avail) {
    int64_t dest = 24;
    if (avail < kIpv6Header) return dest;
    uint32_t next = data[6];
    int64_t pos = kIpv6Header;
    for (int hops = 0; hops < 64 && pos + 8 <= upper && pos + 8 <= static_cast<int64_t>(avail); ++hops) {
        int64_t len;
        if (next == kFragment)
            len = 8;
        else if (next == kAuth)
            len = (static_cast<int64_t>(data[pos + 1]) + 2) * 4;
        else if (next == kHopByHop || next == kRouting || next == kDestOptions)
            len = (static_cast<int64_t>(data[pos + 1]) + 1) * 8;
        else
            break;
        if (pos + len > upper || pos + len > static_cast<int64_t>(avail)) break;
        if (next == kRouting && data[pos + 3] > 0) {
            uint32_t type = data[pos + 2];
            int64_t addresses = (len - 8) / 16;
            if ((type == 0 || type == 2) && addresses > 0)
                dest = pos + 8 + 16 * (addresses - 1);
            else if (type == 4 && addresses > 0)
                dest = pos + 8;
        }
        next = data[pos];
        pos += len;
    }
    return dest;
}

}  // namespace

uint64_t ipv6_pseudo_sum(const uint8_t* data, int64_t upper, uint64_t length, uint32_t proto, size_t avail) {
    uint64_t sum = ones_add_within(data, 8, 16, avail);
    sum += ones_add_within(data, final_destination(data, upper, avail), 16, avail);
    return sum + (length >> 16) + (length & 0xFFFF) + proto;
}

int64_t ipv6_upper_length(const uint8_t* data, int64_t upper, size_t avail) {
    int64_t plen = avail >= 6 ? (static_cast<int64_t>(data[4]) << 8 | data[5]) : 0;
    int64_t len = kIpv6Header + plen - upper;
    return len > 0 ? len : 0;
}

TransportPseudo transport_pseudo(const uint8_t* data, int64_t upper, uint32_t proto, size_t avail,
                                 const char* module) {
    TransportPseudo p;
    if (starts_ipv6(data, avail)) {
        if (avail < kIpv6Header) report_short(module, __LINE__, "IPv6 header", kIpv6Header, avail);
        p.length = ipv6_upper_length(data, upper, avail);
        p.ip_length = upper;
        p.sum = ipv6_pseudo_sum(data, upper, static_cast<uint64_t>(p.length), proto, avail);
    } else {
        if (avail < 20) report_short(module, __LINE__, "IPv4 header", 20, avail);
        auto byte = [&](size_t i) -> uint32_t { return i < avail ? data[i] : 0; };
        p.ip_length = 4 * (byte(0) & 0x0F);
        p.length = static_cast<int64_t>(byte(2) << 8 | byte(3)) - p.ip_length;
        p.sum = ones_add_within(data, 12, 8, avail) + proto + static_cast<uint16_t>(p.length);
    }
    return p;
}

}  // namespace zm::xsum
