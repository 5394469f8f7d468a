// Hex, colon-hex, number and address text conversions.
#include "core/textconv.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace zm {

char* bin2asciihex(const uint8_t* bytes, size_t count, char* text, bool with_prefix) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (with_prefix) {
        *text++ = '0';
        *text++ = 'x';
    }
    for (size_t i = 0; i < count; ++i) {
        *text++ = kDigits[bytes[i] >> 4];
        *text++ = kDigits[bytes[i] & 15];
    }
    *text = '\0';
    return text;
}

std::string bin2asciihex(const uint8_t* bytes, size_t count, bool with_prefix) {
    std::string out(count * 2 + 3, '\0');
    char* end = bin2asciihex(bytes, count, out.data(), with_prefix);
    out.resize(static_cast<size_t>(end - out.data()));
    return out;
}

size_t asciihex2binary(uint8_t* bytes, size_t capacity, const char* text, bool pad) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    size_t run = 0;
    while (text[run] && (hex_digit_value(text[run]) >= 0 || text[run] == ':')) ++run;
    // Count the digits of the first group to decide the implied leading zero.
    size_t first_group = 0;
    while (first_group < run && text[first_group] != ':') ++first_group;
    bool colons = first_group < run;
    size_t digits = 0;
    for (size_t i = 0; i < run; ++i)
        if (text[i] != ':') ++digits;
    size_t count = 0;
    int half = -1;  // pending high nibble
    auto emit = [&](int v) {
        if (count < capacity) bytes[count] = static_cast<uint8_t>(v);
        ++count;
    };
    bool lone_first = !colons && pad && (digits % 2 == 1);
    for (size_t i = 0; i < run; ++i) {
        char c = text[i];
        if (c == ':') {
            if (half >= 0) emit(half);
            half = -1;
            continue;
        }
        int v = hex_digit_value(c);
        if (lone_first) {
            emit(v);
            lone_first = false;
            continue;
        }
        if (half < 0) {
            half = v;
        } else {
            emit((half << 4) | v);
            half = -1;
        }
    }
    if (half >= 0) emit(half);
    return count;
}

std::vector<uint8_t> asciihex2binary(const char* text, bool pad) {
    std::vector<uint8_t> out(std::strlen(text) / 2 + 2);
    size_t n = asciihex2binary(out.data(), out.size(), text, pad);
    out.resize(n);
    return out;
}

std::string bin2colonhex(const uint8_t* bytes, size_t count) {
    std::string out;
    char cell[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, "%02x:", bytes[i]);
        out += cell;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

int asciinum2binary(const char* text, uint32_t* value, std::vector<uint8_t>* bytes) {
    size_t len = std::strlen(text);
    if (std::strchr(text, '.')) {
        if (len >= 16) return -1;
        uint32_t v = 0;
        const char* p = text;
        for (int i = 0; i < 4; ++i) {
            char* end = nullptr;
            unsigned long part = std::strtoul(p, &end, 0);
            v = (v << 8) | (static_cast<uint32_t>(part) & 0xFF);
            p = (*end == '.') ? end + 1 : end;
        }
        *value = v;
        return 4;
    }
    if (std::strchr(text, ':')) {
        *bytes = asciihex2binary(text, false);
        return static_cast<int>(bytes->size());
    }
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        size_t digits = 0;
        while (hex_digit_value(text[2 + digits]) >= 0) ++digits;
        if (digits <= 8) {
            *value = static_cast<uint32_t>(std::strtoul(text, nullptr, 16));
            return 4;
        }
        *bytes = asciihex2binary(text, true);
        return static_cast<int>(bytes->size());
    }
    if (len >= 11) return -2;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text) return -3;
    *value = static_cast<uint32_t>(v);
    return 4;
}

uint32_t resolve_host(const char* name) {
    in_addr addr{};
    if (inet_pton(AF_INET, name, &addr) == 1) return addr.s_addr;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &res) != 0 || !res) return 0xFFFFFFFFu;
    uint32_t out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(res);
    return out;
}

}  // namespace zm
