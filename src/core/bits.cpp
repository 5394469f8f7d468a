// Bit-field routines and byte-order helpers.
#include "core/bits.h"

#include <cstdio>
#include <cstring>

namespace zm {
namespace {

void flush_diag() {
    std::fflush(stderr);
    std::fflush(stdout);
}

// Bytes occupied by a field of `width` bits at bit offset `offset`.
int span(int offset, int width) { return (offset + width + 7) / 8; }

}  // namespace

int extract_bit(const uint8_t* p, int offset) {
    if (offset < 0 || offset > 7) {
        uint32_t word = 0;
        std::memcpy(&word, p, 1);
        std::printf("Error in extract bit. addr= %lx, offset=%d\n", static_cast<unsigned long>(word), offset);
        flush_diag();
        return 0;
    }
    return (*p >> (7 - offset)) & 1;
}

void bitset(uint8_t* p, int offset, int value) {
    if (offset < 0 || offset > 7) {
        std::printf("\n error in bitset. offset = %d\n", offset);
        flush_diag();
        return;
    }
    uint8_t mask = static_cast<uint8_t>(0x80u >> offset);
    if (value)
        *p |= mask;
    else
        *p &= static_cast<uint8_t>(~mask);
}

template <typename P>
static void inc_bit_addr_impl(P** p, int* offset) {
    if (*offset >= 0 && *offset < 7) {
        ++*offset;
    } else if (*offset == 7) {
        *offset = 0;
        ++*p;
    } else {
        std::printf("\n error in inc_bit_addr. offset = %d\n", *offset);
        flush_diag();
    }
}
void inc_bit_addr(uint8_t** p, int* offset) { inc_bit_addr_impl(p, offset); }
void inc_bit_addr(const uint8_t** p, int* offset) { inc_bit_addr_impl(p, offset); }

long bitcopy(const uint8_t* src, int so, uint8_t* dst, int doff, long count) {
    if (so < 0 || so > 7 || doff < 0 || doff > 7) {
        std::printf("Error in bitcopy. offset1= %ld offset2=%ld\n", static_cast<long>(so), static_cast<long>(doff));
        flush_diag();
        return 0;
    }
    for (long i = 0; i < count; ++i) {
        bitset(dst, doff, extract_bit(src, so));
        inc_bit_addr(&src, &so);
        inc_bit_addr(&dst, &doff);
    }
    return count;
}

int bitcmp(const uint8_t* a, int ao, const uint8_t* b, int bo, long count) {
    if (ao < 0 || ao > 7 || bo < 0 || bo > 7) {
        std::printf("Error in bitcmp. offset1= %ld offset2=%ld\n", static_cast<long>(ao), static_cast<long>(bo));
        flush_diag();
        return 1;
    }
    for (long i = 0; i < count; ++i) {
        if (extract_bit(a, ao) != extract_bit(b, bo)) return 1;
        inc_bit_addr(&a, &ao);
        inc_bit_addr(&b, &bo);
    }
    return 0;
}

bool bitswap(uint8_t* p, int offset, long count) {
    if (offset < 0 || offset > 7) {
        std::printf("Error in bitswap. offset= %d\n", offset);
        flush_diag();
        return false;
    }
    if (count < 0 || count > kBitswapMax) return false;
    uint8_t tmp[kBitswapMax / 8] = {};
    bitcopy(p, offset, tmp, 0, count);
    uint8_t* q = p;
    int qo = offset;
    for (long i = count - 1; i >= 0; --i) {
        bitset(q, qo, extract_bit(tmp + i / 8, static_cast<int>(i % 8)));
        inc_bit_addr(&q, &qo);
    }
    return true;
}

void clear_bits(uint8_t* p, int offset, long count) {
    if (offset < 0 || offset > 7) return;
    for (long i = 0; i < count; ++i) {
        bitset(p, offset, 0);
        inc_bit_addr(&p, &offset);
    }
}

uint32_t get_bits(const uint8_t* p, int offset, int width) {
    if (width <= 0 || width > 32 || offset < 0 || offset > 7) return 0;
    uint64_t acc = 0;
    int n = span(offset, width);
    for (int i = 0; i < n; ++i) acc = (acc << 8) | p[i];
    acc >>= (n * 8 - offset - width);
    return static_cast<uint32_t>(acc & ((width == 32) ? 0xFFFFFFFFull : ((1ull << width) - 1)));
}

void put_bits_value(uint32_t value, uint8_t* dst, int offset, int width) {
    if (width <= 0 || width > 32 || offset < 0 || offset > 7) return;
    int n = span(offset, width);
    uint64_t acc = 0;
    for (int i = 0; i < n; ++i) acc = (acc << 8) | dst[i];
    int shift = n * 8 - offset - width;
    uint64_t mask = ((width == 32) ? 0xFFFFFFFFull : ((1ull << width) - 1)) << shift;
    acc = (acc & ~mask) | ((static_cast<uint64_t>(value) << shift) & mask);
    for (int i = n - 1; i >= 0; --i) {
        dst[i] = static_cast<uint8_t>(acc & 0xFF);
        acc >>= 8;
    }
}

void put_bits(const uint8_t* src, uint8_t* dst, int offset, int width) {
    if (width <= 0 || offset < 0 || offset > 7) return;
    if (offset == 0 && width % 8 == 0 && width > 32) {
        std::memcpy(dst, src, static_cast<size_t>(width / 8));
        return;
    }
    if (width > 32) {
        int first = (width % 8) ? 8 - (width % 8) : 0;
        bitcopy(src, first, dst, offset, width);
        return;
    }
    // Source: the value left-justified in a big-endian word.
    uint32_t word = 0;
    int n = (width + 7) / 8;
    for (int i = 0; i < 4; ++i) word = (word << 8) | (i < n ? src[i] : 0u);
    put_bits_value(word >> (32 - width), dst, offset, width);
}

void zero_bits(uint8_t* p, int offset, int width) {
    if (width <= 0) return;
    if (offset == 0 && width % 8 == 0) {
        std::memset(p, 0, static_cast<size_t>(width / 8));
    } else if (width <= 32) {
        put_bits_value(0, p, offset, width);
    } else {
        clear_bits(p, offset, width);
    }
}

uint16_t get_net16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t get_net32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
void put_net16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void put_net32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
uint16_t get_swapped16(const uint8_t* p) { return get_net16(p); }
uint16_t get_little16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get_little32(const uint8_t* p) {
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void put_little16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put_little32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace zm
