// Comparison of integers of any length written in binary, hexadecimal or decimal.
#include "util/numcmp.h"

#include "core/textconv.h"

#include <cctype>
#include <cstdint>

namespace zm {
namespace {

// A signed integer as a magnitude of little-endian 32-bit limbs without
// leading (most significant) zero limbs; zero has no limbs.
struct BigNum {
    bool negative = false;
    std::vector<uint32_t> limbs;
};

void trim(std::vector<uint32_t>& limbs) {
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
}

// Packs digits of a power-of-two base (bits per digit 1 or 4) from the least
// significant end.
std::vector<uint32_t> from_pow2(std::string_view digits, int bits) {
    std::vector<uint32_t> limbs((digits.size() * bits + 31) / 32, 0);
    size_t pos = 0;
    for (size_t i = digits.size(); i-- > 0; pos += bits) {
        char c = digits[i];
        auto v = uint32_t(hex_digit_value(c));  // the digits were checked by the caller
        limbs[pos / 32] |= v << (pos % 32);
    }
    trim(limbs);
    return limbs;
}

// Accumulates decimal digits nine at a time: limbs = limbs * 10^k + chunk.
std::vector<uint32_t> from_decimal(std::string_view digits) {
    std::vector<uint32_t> limbs;
    size_t i = 0;
    while (i < digits.size()) {
        size_t n = std::min<size_t>(9, digits.size() - i);
        uint32_t chunk = 0, scale = 1;
        for (size_t k = 0; k < n; ++k) {
            chunk = chunk * 10 + uint32_t(digits[i + k] - '0');
            scale *= 10;
        }
        uint64_t carry = chunk;
        for (auto& limb : limbs) {
            uint64_t v = uint64_t(limb) * scale + carry;
            limb = uint32_t(v);
            carry = v >> 32;
        }
        if (carry) limbs.push_back(uint32_t(carry));
        i += n;
    }
    trim(limbs);
    return limbs;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool all_of(std::string_view s, int (*pred)(int)) {
    for (char c : s)
        if (!pred(static_cast<unsigned char>(c))) return false;
    return true;
}

int is_bin_digit(int c) { return c == '0' || c == '1'; }

bool has_hex_prefix(std::string_view s) {
    return s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
}

// Validates and converts one number. An empty digit string is not a number in
// any base and is refused rather than read as zero.
bool parse_number(std::string_view text, std::string_view base_word, BigNum* out,
                  std::string* error) {
    std::string base = upper(base_word);
    std::string_view digits = text;
    bool ok;
    if (base == "BIN") {
        ok = !digits.empty() && all_of(digits, is_bin_digit);
        if (ok) out->limbs = from_pow2(digits, 1);
    } else if (base == "HEX") {
        if (has_hex_prefix(digits)) digits.remove_prefix(2);
        ok = !digits.empty() && all_of(digits, isxdigit);
        if (ok) out->limbs = from_pow2(digits, 4);
    } else if (base == "DEC") {
        if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
            out->negative = digits[0] == '-';
            digits.remove_prefix(1);
        }
        ok = !digits.empty() && all_of(digits, isdigit);
        if (ok) out->limbs = from_decimal(digits);
    } else {
        *error = "Error : Base '" + base + "' not supported";
        return false;
    }
    if (!ok) {
        *error = "Error : The number '" + std::string(text) + "' is not in base '" + base + "'";
        return false;
    }
    return true;
}

int compare_magnitude(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

int compare(const BigNum& a, const BigNum& b) {
    if (a.negative == b.negative) {
        int m = compare_magnitude(a.limbs, b.limbs);
        return a.negative ? -m : m;
    }
    if (a.limbs.empty() && b.limbs.empty()) return 0;
    return a.negative ? -1 : 1;
}

std::string_view implied_base(std::string_view number) {
    return has_hex_prefix(number) ? "HEX" : "DEC";
}

bool is_base_word(std::string_view word) {
    if (word.size() < 2) return true;
    char c = word[1];
    return !(std::isdigit(static_cast<unsigned char>(c)) || c == 'x' || c == 'X');
}

}  // namespace

bool numcmp_compare(std::string_view a, std::string_view base_a, std::string_view b,
                    std::string_view base_b, int* result, std::string* error) {
    BigNum na, nb;
    if (!parse_number(a, base_a, &na, error) || !parse_number(b, base_b, &nb, error)) return false;
    *result = compare(na, nb);
    return true;
}

bool numcmp_words(NumRelation rel, const std::vector<std::string_view>& words, bool* holds,
                  std::string* error) {
    if (words.size() < 2) {
        *error = "Error : Too few arguments";
        return false;
    }
    if (words.size() > 4) {
        *error = "Error : Too many arguments";
        return false;
    }
    std::string_view a = words[0], base_a, b, base_b;
    switch (words.size()) {
        case 2:
            b = words[1];
            base_a = implied_base(a);
            base_b = implied_base(b);
            break;
        case 3:
            if (is_base_word(words[1])) {
                base_a = words[1];
                b = words[2];
                base_b = implied_base(b);
            } else {
                base_a = implied_base(a);
                b = words[1];
                base_b = words[2];
            }
            break;
        default:
            base_a = words[1];
            b = words[2];
            base_b = words[3];
            break;
    }
    int c;
    if (!numcmp_compare(a, base_a, b, base_b, &c, error)) return false;
    switch (rel) {
        case NumRelation::eq: *holds = c == 0; break;
        case NumRelation::neq: *holds = c != 0; break;
        case NumRelation::lte: *holds = c <= 0; break;
        case NumRelation::gte: *holds = c >= 0; break;
        case NumRelation::gt: *holds = c > 0; break;
        case NumRelation::lt: *holds = c < 0; break;
    }
    return true;
}

}  // namespace zm
