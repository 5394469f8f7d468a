// The Fletcher checksum with its check octets at positions 17 and 18.
#include "encode/checksum/checksum.h"
#include "encode/checksum/checksum_sum.h"
#include "encode/checksum/fletcher.h"

namespace zm {
namespace xsum {

FletcherOctets fletcher_octets(const uint8_t* p, size_t len) {
    // 4102 bytes is the longest run whose sums cannot overflow 32 signed bits.
    constexpr size_t kRun = 4102;
    int32_t c0 = 0, c1 = 0;
    for (size_t done = 0; done < len;) {
        size_t stop = len - done < kRun ? len : done + kRun;
        for (; done < stop; ++done) {
            c0 += p[done];
            c1 += c0;
        }
        c0 %= 255;
        c1 %= 255;
    }
    int64_t x = ((static_cast<int64_t>(len) - 17) * c0 - c1) % 255;
    if (x <= 0) x += 255;
    int64_t y = 510 - c0 - x;
    if (y > 255) y -= 255;
    return {static_cast<int32_t>(x), static_cast<int32_t>(y)};
}

}  // namespace xsum

// The result is the two check octets as a 16-bit number (X high, Y low), the
// value a 16-bit checksum field carries; the return value is Y.
int32_t fletch_xsum(uint8_t* data, int, int32_t bits, int32_t* result, int, int, void*, size_t avail) {
    size_t n = xsum::range_bytes("CHECKSUM/fletch_xsum", __LINE__, bits, avail);
    xsum::FletcherOctets o = xsum::fletcher_octets(data, n);
    *result = o.x << 8 | o.y;
    return o.y;
}

}  // namespace zm
