// Bit-field access at any bit offset (most significant bit first) and byte order helpers.
//
// Every routine touches only the bytes that hold the bits it is asked for:
// a field at bit offset o of width w occupies ceil((o + w) / 8) bytes.
#pragma once
#include <cstdint>

namespace zm {

constexpr int kBitswapMax = 1024;

int extract_bit(const uint8_t* p, int offset);
void bitset(uint8_t* p, int offset, int value);
void inc_bit_addr(uint8_t** p, int* offset);
void inc_bit_addr(const uint8_t** p, int* offset);

// Runs of bits, bit by bit.
long bitcopy(const uint8_t* src, int src_offset, uint8_t* dst, int dst_offset, long count);
int bitcmp(const uint8_t* a, int a_offset, const uint8_t* b, int b_offset, long count);
// Reverses count bits in place; count above kBitswapMax is refused (returns
// false, nothing changed).
bool bitswap(uint8_t* p, int offset, long count);
void clear_bits(uint8_t* p, int offset, long count);

// Fields of 1..32 bits, right-aligned.
uint32_t get_bits(const uint8_t* p, int offset, int width);
// Writes a field. width <= 32: the source holds the value left-justified in
// a big-endian word (use put_bits_value for a plain number); width > 32: the
// source is right-justified in ceil(width/8) bytes.
void put_bits(const uint8_t* src, uint8_t* dst, int offset, int width);
// Stores the low `width` bits of value (width 1..32) at the bit address.
void put_bits_value(uint32_t value, uint8_t* dst, int offset, int width);
void zero_bits(uint8_t* p, int offset, int width);

uint16_t get_net16(const uint8_t* p);
uint32_t get_net32(const uint8_t* p);
void put_net16(uint8_t* p, uint16_t v);
void put_net32(uint8_t* p, uint32_t v);
uint16_t get_swapped16(const uint8_t* p);
uint16_t get_little16(const uint8_t* p);
uint32_t get_little32(const uint8_t* p);
void put_little16(uint8_t* p, uint16_t v);
void put_little32(uint8_t* p, uint32_t v);

}  // namespace zm
