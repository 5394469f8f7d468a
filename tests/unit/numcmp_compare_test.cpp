// Wide-number comparison checked against native 64-bit arithmetic in every base.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <random>
#include <string>

#include "util/numcmp.h"

namespace zm {
namespace {

std::string bin(uint64_t v) {
    std::string s = std::bitset<64>(v).to_string();
    return s.substr(std::min(s.find('1'), s.size() - 1));  // no leading zeros; zero is "0"
}

std::string hex(uint64_t v, bool upper_prefix) {
    char buf[24];
    std::snprintf(buf, sizeof buf, upper_prefix ? "0X%llX" : "0x%llx",
                  static_cast<unsigned long long>(v));
    return buf;
}

TEST(NumCmp, AgreesWithNativeComparisonAcrossBases) {
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 5000; ++i) {
        // Mix full-width values with small ones and exact ties.
        uint64_t a = rng() >> (rng() % 64), b = (i % 7 == 0) ? a : rng() >> (rng() % 64);
        int expected = a < b ? -1 : a > b ? 1 : 0;
        int got = 2;
        std::string err;
        ASSERT_TRUE(numcmp_compare(std::to_string(a), "dec", hex(b, i & 1), "HEX", &got, &err));
        EXPECT_EQ(got, expected) << a << " " << b;
        ASSERT_TRUE(numcmp_compare(bin(a), "bin", "00" + std::to_string(b), "Dec", &got, &err));
        EXPECT_EQ(got, expected) << a << " " << b;

        // Signed decimal: compare as int64.
        int64_t sa = int64_t(a), sb = int64_t(b);
        int sexp = sa < sb ? -1 : sa > sb ? 1 : 0;
        ASSERT_TRUE(numcmp_compare(std::to_string(sa), "DEC", std::to_string(sb), "DEC", &got, &err));
        EXPECT_EQ(got, sexp) << sa << " " << sb;
    }
}

}  // namespace
}  // namespace zm
