// The "ospf" checksum: a 16-bit ones-complement sum over the range.
#include "encode/checksum/checksum.h"
#include "encode/checksum/checksum_sum.h"

namespace zm {

// An odd last byte is the high half of a final word. The result keeps the
// complement's high 16 bits (all ones); a 16-bit field takes the low half.
int32_t ospf_xsum(uint8_t* data, int, int32_t bits, int32_t* result, int, int, void*, size_t avail) {
    size_t n = xsum::range_bytes("CHECKSUM/ospf_xsum", __LINE__, bits, avail);
    int32_t value = static_cast<int32_t>(~xsum::fold16(xsum::ones_add(data, n)));
    *result = value;
    return value;
}

}  // namespace zm
