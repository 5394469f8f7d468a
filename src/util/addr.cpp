// Address text conversions for scripts: MAC and IPv4 addresses to and from hexadecimal, MAC bit-order swap.
#include "util/addr.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdint>
#include <cstdio>

#include "core/textconv.h"

namespace zm {
namespace {

constexpr size_t kMacBytes = 6;
constexpr size_t kMacTextMax = 18;
constexpr size_t kMacColonLength = 17;

bool fail(std::string* out, std::string message) {
    *out = std::move(message);
    return false;
}

bool malformed(std::string* out, std::string_view address) {
    return fail(out, "malformed address " + std::string(address));
}

bool bad_family(std::string* out, int family) {
    return fail(out, "bad address family " + std::to_string(family));
}

bool has_hex_prefix(std::string_view s) {
    return s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
}

bool all_hex(std::string_view s) {
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// MAC text in 0x or colon form to its six bytes. The whole text must be
// hex digits and colons after the optional prefix.
bool mac_bytes(std::string_view text, uint8_t (&bytes)[kMacBytes]) {
    if (text.size() > kMacTextMax) return false;
    std::string_view body = has_hex_prefix(text) ? text.substr(2) : text;
    for (char c : body)
        if (c != ':' && !std::isxdigit(static_cast<unsigned char>(c))) return false;
    std::string s(text);
    uint8_t buf[kMacTextMax];
    size_t n = asciihex2binary(buf, sizeof buf, s.c_str(), false);
    if (n != kMacBytes) return false;
    std::copy(buf, buf + kMacBytes, bytes);
    return true;
}

uint8_t reverse_bits(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1u << i)) r |= uint8_t(0x80u >> i);
    return r;
}

}  // namespace

bool addr_to_bin(std::string_view address, int family, std::string* out) {
    if (family == kAddrFamilyIpv4) {
        std::string s(address);
        in_addr_t a = ::inet_addr(s.c_str());
        if (a == INADDR_NONE) return malformed(out, address);
        char text[16];
        std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(ntohl(a)));
        *out = text;
        return true;
    }
    if (family == kAddrFamilyMac) {
        uint8_t bytes[kMacBytes];
        if (!mac_bytes(address, bytes)) return malformed(out, address);
        *out = bin2asciihex(bytes, kMacBytes, true);
        return true;
    }
    return bad_family(out, family);
}

bool bin_to_addr(std::string_view hex, int family, std::string* out) {
    size_t width;
    if (family == kAddrFamilyMac)
        width = 2 * kMacBytes;
    else if (family == kAddrFamilyIpv4)
        width = 8;
    else
        return bad_family(out, family);
    std::string_view digits = has_hex_prefix(hex) ? hex.substr(2) : hex;
    if (digits.size() > width || !all_hex(digits)) return malformed(out, hex);
    std::string full = std::string(width - digits.size(), '0') + std::string(digits);
    uint8_t bytes[kMacBytes];
    size_t n = asciihex2binary(bytes, sizeof bytes, full.c_str(), family == kAddrFamilyIpv4);
    if (n != width / 2) return malformed(out, hex);
    if (family == kAddrFamilyMac) {
        *out = bin2colonhex(bytes, kMacBytes);
    } else {
        char text[16];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
        *out = text;
    }
    return true;
}

bool canonical_swap(std::string_view mac, bool upper, std::string* out) {
    std::string hex(mac);
    if (mac.size() >= 3 && mac[2] == ':') {
        if (mac.size() != kMacColonLength) return fail(out, "input address must be 6 bytes long");
        if (!addr_to_bin(mac, kAddrFamilyMac, &hex)) return fail(out, hex);
    }
    if (!has_hex_prefix(hex)) return fail(out, "address not in 0x or colon format");
    if (hex.size() != 2 + 2 * kMacBytes) return fail(out, "input address must be 6 bytes long");
    if (!all_hex(std::string_view(hex).substr(2))) return malformed(out, mac);
    std::string result = "0x";
    for (size_t i = 0; i < kMacBytes; ++i) {
        uint8_t b = uint8_t(std::stoul(hex.substr(2 + 2 * i, 2), nullptr, 16));
        char cell[3];
        std::snprintf(cell, sizeof cell, "%02x", reverse_bits(b));
        result += cell;
    }
    if (upper)
        for (auto& c : result) c = char(std::toupper(static_cast<unsigned char>(c)));
    *out = result;
    return true;
}

}  // namespace zm
