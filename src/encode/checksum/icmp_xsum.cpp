// The ICMP checksum: the internet checksum of the message with its checksum word skipped.
#include "encode/checksum/checksum.h"
#include "encode/checksum/checksum_sum.h"

namespace zm {

// Word 1 (bytes 2-3) is the checksum field and is left out, so the field
// need not be zero beforehand. An odd last byte is the high half of a word.
int32_t icmp_xsum(uint8_t* data, int, int32_t bits, int32_t* result, int, int, void*, size_t avail) {
    size_t n = xsum::range_bytes("CHECKSUM/icmp_xsum", __LINE__, bits, avail);
    uint64_t sum = xsum::ones_add(data, n < 2 ? n : 2);
    if (n > 4) {
        sum += xsum::ones_add(data + 4, n - 4);
    } else if (n == 3) {
        sum += static_cast<uint32_t>(data[2]) << 8;
    }
    int32_t value = xsum::complement16(sum);
    *result = value;
    return value;
}

}  // namespace zm
