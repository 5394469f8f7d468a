// Bit routines at every offset and width, against a bit-by-bit model.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/bits.h"

using namespace zm;

namespace {

uint64_t model_get(const uint8_t* b, int bit, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 1) | ((b[(bit + i) / 8] >> (7 - (bit + i) % 8)) & 1);
    return v;
}

}  // namespace

TEST(Bits, GetBitsEveryOffsetAndWidthMatchesModel) {
    std::mt19937 rng(7);
    std::vector<uint8_t> buf(5);
    for (int trial = 0; trial < 50; ++trial) {
        for (auto& x : buf) x = static_cast<uint8_t>(rng());
        for (int off = 0; off < 8; ++off)
            for (int w = 1; w <= 32; ++w)
                ASSERT_EQ(get_bits(buf.data(), off, w), model_get(buf.data(), off, w)) << off << "/" << w;
    }
    const uint8_t v[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    EXPECT_EQ(get_bits(v, 4, 32), 0x23456789u);  // crosses into the fifth byte
}

TEST(Bits, PutBitsValueTouchesOnlyTheField) {
    std::mt19937 rng(9);
    for (int off = 0; off < 8; ++off) {
        for (int w = 1; w <= 32; ++w) {
            std::vector<uint8_t> buf(8);
            for (auto& x : buf) x = static_cast<uint8_t>(rng());
            std::vector<uint8_t> before = buf;
            uint32_t value = static_cast<uint32_t>(rng());
            put_bits_value(value, buf.data() + 1, off, w);
            uint64_t mask = (w == 32) ? 0xFFFFFFFFull : ((1ull << w) - 1);
            ASSERT_EQ(model_get(buf.data(), 8 + off, w), value & mask);
            for (int bit = 0; bit < 64; ++bit) {
                bool inside = bit >= 8 + off && bit < 8 + off + w;
                if (!inside) {
                    ASSERT_EQ(model_get(buf.data(), bit, 1), model_get(before.data(), bit, 1)) << off << "/" << w;
                }
            }
        }
    }
}

TEST(Bits, PutBitsWideAndLeftJustified) {
    // 40-bit right-justified source at offset 3.
    uint8_t src[5] = {0xAB, 0xCD, 0xEF, 0x01, 0x23};
    uint8_t dst[7] = {};
    put_bits(src, dst, 3, 40);
    EXPECT_EQ(model_get(dst, 3, 40), model_get(src, 0, 40));
    // 36 bits: the first 4 bits of the source are padding.
    uint8_t dst2[6] = {};
    put_bits(src, dst2, 0, 36);
    EXPECT_EQ(model_get(dst2, 0, 36), model_get(src, 4, 36));
    // Left-justified 12-bit value from a word.
    uint8_t word[4] = {0xAB, 0xC0, 0, 0};
    uint8_t out[3] = {0xFF, 0xFF, 0xFF};
    put_bits(word, out, 4, 12);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0xFA, 0xBC, 0xFF}));
}

TEST(Bits, SingleBits) {
    uint8_t b[2] = {0x80, 0x01};
    EXPECT_EQ(extract_bit(b, 0), 1);
    EXPECT_EQ(extract_bit(b + 1, 7), 1);
    EXPECT_EQ(extract_bit(b, 8), 0);  // bad offset yields 0
    bitset(b, 9, 1);                  // bad offset: unchanged
    EXPECT_EQ(b[0], 0x80);
}

TEST(Bits, SwapCompareCopyClear) {
    uint8_t b[2] = {0x0F, 0x00};
    ASSERT_TRUE(bitswap(b, 4, 12));
    EXPECT_EQ(std::vector<uint8_t>(b, b + 2), (std::vector<uint8_t>{0x00, 0x0F}));
    uint8_t big[200] = {};
    EXPECT_FALSE(bitswap(big, 0, 1025));  // longer than the temporary: refused
    EXPECT_TRUE(bitswap(big, 0, 1024));
    uint8_t x[2] = {0xAA, 0x55}, y[2] = {0x54, 0x2A};
    EXPECT_EQ(bitcmp(x, 0, y, 0, 0), 0);
    EXPECT_EQ(bitcmp(x, 1, y, 0, 8), 0);
    EXPECT_EQ(bitcmp(x, 0, y, 0, 1), 1);
    EXPECT_EQ(bitcmp(x, 9, y, 0, 1), 1);
    uint8_t d[3] = {0xFF, 0xFF, 0xFF};
    EXPECT_EQ(bitcopy(x, 0, d, 4, 16), 16);
    EXPECT_EQ(std::vector<uint8_t>(d, d + 3), (std::vector<uint8_t>{0xFA, 0xA5, 0x5F}));
    clear_bits(d, 2, 12);
    EXPECT_EQ(std::vector<uint8_t>(d, d + 2), (std::vector<uint8_t>{0xC0, 0x01}));
    zero_bits(d, 0, 24);
    EXPECT_EQ(d[2], 0);
}
