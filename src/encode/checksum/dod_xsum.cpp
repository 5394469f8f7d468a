// The "dod" checksum: a ones-complement sum of 32-bit words folded to 16 bits.
#include "encode/checksum/checksum.h"
#include "encode/checksum/checksum_sum.h"

namespace zm {

// Bytes after the last whole 32-bit word are ignored. The result keeps the
// complement's high 16 bits (all ones); a 16-bit field takes the low half.
int32_t dod_xsum(uint8_t* data, int, int32_t bits, int32_t* result, int, int, void*, size_t avail) {
    size_t n = xsum::range_bytes("CHECKSUM/dod_xsum", __LINE__, bits, avail) / 4 * 4;
    uint32_t sum = 0;
    for (size_t i = 0; i < n; i += 4) {
        uint32_t word = static_cast<uint32_t>(data[i]) << 24 | static_cast<uint32_t>(data[i + 1]) << 16 |
                        static_cast<uint32_t>(data[i + 2]) << 8 | data[i + 3];
        uint32_t before = sum;
        sum += word;
        if (sum < before) ++sum;  // end-around carry
    }
    int32_t value = static_cast<int32_t>(~xsum::fold16(sum));
    *result = value;
    return value;
}

}  // namespace zm
