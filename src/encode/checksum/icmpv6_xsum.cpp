// The ICMPv6 checksum over an IPv6 pseudo-header (RFC 4443, RFC 8200).
#include "encode/checksum/checksum.h"
#include "encode/checksum/checksum_sum.h"
#include "encode/checksum/ipv6_pseudo.h"

namespace zm {
namespace {
constexpr const char* kModule = "CHECKSUM/icmpv6_xsum";
constexpr uint32_t kNextHeaderIcmpv6 = 58;
}  // namespace

// data is the IPv6 header; bits is the bit offset of the part of the message
// after its type byte, so the message starts one byte earlier (rounded down
// to an even byte). The message runs to the end of the packet, so avail also
// gives the upper-layer length. The checksum word (message bytes 2-3) is
// skipped. A routing header before the message supplies the final
// destination of the pseudo-header.
int32_t icmpv6_xsum(uint8_t* data, int, int32_t bits, int32_t* result, int, int, void*, size_t avail) {
    using namespace xsum;
    if (avail < 40) report_short(kModule, __LINE__, "IPv6 header", 40, avail);
    int64_t start = bits >= 16 ? (bits / 8 - 1) & ~int64_t{1} : 0;
    uint64_t ulen = static_cast<uint64_t>(start) < avail ? avail - static_cast<uint64_t>(start) : 0;
    if (static_cast<uint64_t>(start) > avail) report_short(kModule, __LINE__, "ICMPv6 offset", start, avail);

    uint64_t sum = ipv6_pseudo_sum(data, start, ulen, kNextHeaderIcmpv6, avail);
    sum += ones_add_within(data, start, 2, avail);
    sum += ones_add_within(data, start + 4, static_cast<int64_t>(ulen) - 4, avail);
    int32_t value = complement16(sum);
    *result = value;
    return value;
}

}  // namespace zm
