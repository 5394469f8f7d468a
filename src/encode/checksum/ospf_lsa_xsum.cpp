// The OSPF link-state advertisement checksum, written into the LSA header.
#include "core/report.h"
#include "encode/checksum/checksum.h"
#include "encode/checksum/checksum_sum.h"
#include "encode/checksum/fletcher.h"

namespace zm {
namespace {
constexpr const char* kModule = "CHECKSUM/ospf_lsa_xsum";
constexpr size_t kLsaHeader = 20;
}  // namespace

// data is the LSA header; the region is the LSA length of the header (bytes
// 18-19), cut at the end of the packet. The age is left out of the sum, the
// check octets are stored at bytes 16-17 and their 16-bit value returned.
// An LSA shorter than its header is left untouched and yields 0.
int32_t ospf_lsa_xsum(uint8_t* data, int, int32_t, int32_t* result, int, int, void*, size_t avail) {
    if (avail < kLsaHeader) {
        report(nullptr, kModule, __LINE__, LOG_WARNING,
               "LSA of %zu bytes is shorter than its %zu-byte header - no checksum computed", avail, kLsaHeader);
        *result = 0;
        return 0;
    }
    size_t len = static_cast<size_t>(data[18]) << 8 | data[19];
    if (len > avail) {
        xsum::report_short(kModule, __LINE__, "LSA", static_cast<int64_t>(len), avail);
        len = avail;
    }
    uint8_t age[2] = {data[0], data[1]};
    data[0] = data[1] = data[16] = data[17] = 0;
    xsum::FletcherOctets o = xsum::fletcher_octets(data, len);
    data[16] = static_cast<uint8_t>(o.x);
    data[17] = static_cast<uint8_t>(o.y);
    data[0] = age[0];
    data[1] = age[1];
    int32_t value = data[16] << 8 | data[17];
    *result = value;
    return value;
}

}  // namespace zm
