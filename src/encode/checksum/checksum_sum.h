// Shared pieces of the checksum algorithms: ones-complement sums and range clamping.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zm::xsum {

// Sum of the bytes [p, p+n) taken as big-endian 16-bit words; an odd last
// byte is the high half of a final word whose low half is 0. The sum is not
// folded. Four bytes are added at a time: since 2^16 = 1 modulo 0xFFFF, the
// folded result equals that of a word-by-word sum.
inline uint64_t ones_add(const uint8_t* p, size_t n) {
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t w;
        std::memcpy(&w, p + i, 4);
        sum += __builtin_bswap32(w);
    }
    if (i + 2 <= n) {
        sum += static_cast<uint32_t>(p[i]) << 8 | p[i + 1];
        i += 2;
    }
    if (i < n) sum += static_cast<uint32_t>(p[i]) << 8;
    return sum;
}

// Adds the carries above bit 15 back into the low 16 bits until none remain.
inline uint32_t fold16(uint64_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum);
}

// The internet checksum of a folded sum: its 16-bit ones complement.
inline int32_t complement16(uint64_t sum) {
    return static_cast<int32_t>(~fold16(sum) & 0xFFFF);
}

// Number of bytes of [start, start+len) that lie inside [0, avail); negative
// starts and lengths count as empty.
inline size_t bytes_within(int64_t start, int64_t len, size_t avail) {
    if (len <= 0 || start < 0 || static_cast<uint64_t>(start) >= avail) return 0;
    uint64_t room = avail - static_cast<uint64_t>(start);
    return static_cast<uint64_t>(len) < room ? static_cast<size_t>(len) : static_cast<size_t>(room);
}

// Sum of the bytes [start, start+len) that lie inside the packet; bytes
// beyond it count as zero.
inline uint64_t ones_add_within(const uint8_t* data, int64_t start, int64_t len, size_t avail) {
    size_t n = bytes_within(start, len, avail);
    return n ? ones_add(data + start, n) : 0;
}

// Reports a range that had to be cut at the end of the packet.
void report_short(const char* module, int line, const char* what, int64_t wanted, size_t avail);

// The region length in bytes of a plain range algorithm, clamped to the packet.
size_t range_bytes(const char* module, int line, int32_t bits, size_t avail);

}  // namespace zm::xsum
