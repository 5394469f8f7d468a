// Field text by display code (hex, dotted, IPv6, prefix, decimal, float, string, MAC, OID) and hex dumps.
#include "decode/format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/bits.h"
#include "core/report.h"
#include "core/textconv.h"
#include "decode/decode.h"
#include "pdl/protodb.h"

namespace zm {
namespace {

constexpr const char* kModule = "pktprocess";
constexpr size_t kMaxOidText = 256;

// clang-format off
constexpr uint8_t kEbcdic[256] = {
    0x00,0x01,0x02,0x03,0x00,0x09,0x00,0x7F,0x00,0x00,0x00,0x0B,0x0C,0x0D,0x0E,0x0F,
    0x10,0x11,0x12,0x13,0x00,0x00,0x08,0x00,0x18,0x19,0x00,0x00,0x00,0x1D,0x1E,0x1F,
    0x00,0x00,0x1C,0x00,0x00,0x0A,0x17,0x1B,0x00,0x00,0x00,0x00,0x00,0x05,0x06,0x07,
    0x00,0x00,0x16,0x00,0x00,0x00,0x00,0x04,0x00,0x00,0x00,0x00,0x14,0x15,0x00,0x1A,
    0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x60,0x2E,0x3C,0x28,0x2B,0x7C,
    0x26,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x21,0x24,0x2A,0x29,0x3B,0x5E,
    0x2D,0x2F,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x2C,0x25,0x5F,0x3E,0x3F,
    0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x60,0x3A,0x23,0x40,0x27,0x3D,0x22,
    0x00,0x61,0x62,0x63,0x64,0x65,0x66,0x67,0x68,0x69,0x00,0x7B,0xF3,0x00,0x20,0xC5,
    0x00,0x6A,0x6B,0x6C,0x6D,0x6E,0x6F,0x70,0x71,0x72,0x00,0xAF,0xDB,0x00,0xF1,0xFE,
    0x00,0x7E,0x73,0x74,0x75,0x76,0x77,0x78,0x79,0x7A,0x00,0x1C,0xA9,0x5B,0xF2,0xFA,
    0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,0xD9,0xBF,0x5D,0xBE,0x00,
    0x7B,0x41,0x42,0x43,0x44,0x45,0x46,0x47,0x48,0x49,0x00,0x00,0x00,0x00,0x00,0x00,
    0x7D,0x4A,0x4B,0x4C,0x4D,0x4E,0x4F,0x50,0x51,0x52,0x00,0x00,0x00,0x00,0x00,0x00,
    0x5C,0x00,0x53,0x54,0x55,0x56,0x57,0x58,0x59,0x5A,0x00,0x00,0x00,0x00,0x00,0x00,
    0x30,0x31,0x32,0x33,0x34,0x35,0x36,0x37,0x38,0x39,0x00,0x00,0x00,0x00,0x00,0x00,
};
// clang-format on

// Working copies of field bytes (formatting is single-threaded): one for
// the formats, one for the swapped copy of a bit- or byte-swapped field.
std::vector<uint8_t>& scratch() {
    static std::vector<uint8_t> s;
    return s;
}
std::vector<uint8_t>& swap_scratch() {
    static std::vector<uint8_t> s;
    return s;
}

// `count` bytes from `bytes` (`avail` readable) into `s`, zero beyond avail.
uint8_t* bounded_copy(std::vector<uint8_t>& s, const uint8_t* bytes, size_t avail, size_t count) {
    if (s.size() < count + 1) s.resize(count + 1);
    size_t n = bytes ? std::min(avail, count) : 0;
    if (n) std::memcpy(s.data(), bytes, n);
    std::fill(s.begin() + static_cast<long>(n), s.begin() + static_cast<long>(count) + 1, 0);
    return s.data();
}
uint8_t* bounded_copy(const uint8_t* bytes, size_t avail, size_t count) {
    return bounded_copy(scratch(), bytes, avail, count);
}

void append_dotted(std::string& out, const uint8_t* b, size_t n) {
    char tmp[8];
    for (size_t i = 0; i < n; ++i) {
        int k = std::snprintf(tmp, sizeof tmp, i + 1 < n ? "%d." : "%d", b[i]);
        out.append(tmp, static_cast<size_t>(k));
    }
}

void limit(std::string& text, size_t max) {
    if (text.size() > max) text.resize(max);
}

void append_string(std::string& out, const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n && b[i]; ++i) out.push_back(static_cast<char>(b[i]));
}

// Formats a wide field (more than 32 bits).
void format_wide(const Field* field, int code, uint32_t width, uint32_t bit_offset, const uint8_t* bytes,
                 size_t avail, uint32_t element_offset, std::string& text, size_t max) {
    size_t count = width / 8;
    const uint8_t* src = bytes;
    bool partial = bit_offset % 8 != 0 || width % 8 != 0;
    if (width % 8 != 0) ++count;
    count = std::min(count, max);
    // Sixteen bytes for IPv6 text, whatever the width.
    size_t need = code == DISP_IP6 ? std::max<size_t>(count, 16) : count;
    if (partial || avail < need) {
        uint8_t* copy = bounded_copy(bytes, avail, need);
        if (partial && need) copy[0] &= static_cast<uint8_t>(0xFFu >> (bit_offset % 8));
        src = copy;
    }
    switch (code) {
    case DISP_IP6:
        text = ipv6_text(src);
        break;
    case DISP_STR:
        append_string(text, src, count);
        break;
    case DISP_MAC:
        text = bin2colonhex(src, count);
        break;
    case DISP_OID:
        text = oid_text(src, count);
        break;
    case DISP_IPA:
    case DISP_I4P:
    case DISP_DEC:
    case DISP_FLT:
        report(nullptr, kModule, __LINE__, LOG_DEBUG,
               "Bad format for field width %d in field \"%s\" during receive - offset is %d - Using HEX format",
               static_cast<int>(width), field ? field->name_.c_str() : "", static_cast<int>(element_offset));
        [[fallthrough]];
    default:
        // Only what fits the text is converted: "0x" and two digits per byte.
        count = std::min(count, max > 2 ? (max - 2 + 1) / 2 : 0);
        text = bin2asciihex(src, count, true);
        break;
    }
    limit(text, max);
}

}  // namespace

uint8_t ebcdic_to_char(uint8_t c) { return kEbcdic[c]; }

std::string ipv6_text(const uint8_t b[16]) {
    uint16_t g[8];
    for (int i = 0; i < 8; ++i) g[i] = static_cast<uint16_t>(b[2 * i] << 8 | b[2 * i + 1]);
    int lead = 0;
    while (lead < 8 && g[lead] == 0) ++lead;
    std::string out;
    if (lead >= 6) {
        out = "::";
        append_dotted(out, b + 12, 4);
        return out;
    }
    if (lead == 5 && g[5] == 0xFFFF) {
        out = "::ffff:";
        append_dotted(out, b + 12, 4);
        return out;
    }
    // The longest run of at least two zero groups, the first on a tie.
    int run_start = -1, run_len = 0;
    for (int i = 0; i < 8;) {
        if (g[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && g[j] == 0) ++j;
        if (j - i >= 2 && j - i > run_len) {
            run_start = i;
            run_len = j - i;
        }
        i = j;
    }
    char tmp[8];
    for (int i = 0; i < 8; ++i) {
        if (i == run_start) {
            out += i == 0 ? "::" : ":";
            i += run_len - 1;
            continue;
        }
        int k = std::snprintf(tmp, sizeof tmp, "%x:", g[i]);
        out.append(tmp, static_cast<size_t>(k));
    }
    bool run_at_end = run_start >= 0 && run_start + run_len == 8;
    if (!run_at_end && !out.empty() && out.back() == ':') out.pop_back();
    return out;
}

std::string oid_text(const uint8_t* b, size_t n) {
    std::string out;
    uint64_t sub = 0;
    bool first = true;
    char tmp[48];
    for (size_t i = 0; i < n && out.size() < kMaxOidText; ++i) {
        sub = (sub << 7) | (b[i] & 0x7Fu);
        if (b[i] & 0x80u) continue;
        int k;
        if (first) {
            // The first subidentifier holds the first two arcs (X.690 8.19.4).
            uint64_t x = sub < 40 ? 0 : sub < 80 ? 1 : 2;
            k = std::snprintf(tmp, sizeof tmp, "%llu.%llu", static_cast<unsigned long long>(x),
                              static_cast<unsigned long long>(sub - 40 * x));
            first = false;
        } else {
            k = std::snprintf(tmp, sizeof tmp, ".%llu", static_cast<unsigned long long>(sub));
        }
        out.append(tmp, static_cast<size_t>(k));
        sub = 0;
    }
    limit(out, kMaxOidText);
    return out;
}

void format_value(const Field* field, uint32_t width, uint32_t bit_offset, uint32_t value, const uint8_t* bytes,
                  size_t avail, uint32_t element_offset, std::string& text, size_t max) {
    text.clear();
    if (width == 0) return;
    int code = field ? field->display_format_ : DISP_HEX;
    if (width > 32) {
        format_wide(field, code, width, bit_offset, bytes, avail, element_offset, text, max);
        return;
    }
    char tmp[64];
    if (value == 0 && code != DISP_IPA) {
        text = code == DISP_STR ? "0x0" : "0";
        limit(text, max);
        return;
    }
    size_t nbytes = width / 8;
    switch (code) {
    case DISP_IPA: {
        uint8_t q[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
        append_dotted(text, q, 4);
        break;
    }
    case DISP_IP6:
        text = ipv6_text(bounded_copy(bytes, avail, 16));
        break;
    case DISP_I4P: {
        uint8_t q[4] = {0, 0, 0, 0};
        for (size_t i = 0; i < nbytes && i < 4; ++i) q[i] = static_cast<uint8_t>(value >> (8 * (nbytes - 1 - i)));
        append_dotted(text, q, 4);
        break;
    }
    case DISP_DEC:
        text.append(tmp, static_cast<size_t>(std::snprintf(tmp, sizeof tmp, "%ld",
                                                            static_cast<long>(static_cast<int32_t>(value)))));
        break;
    case DISP_FLT: {
        float f;
        static_assert(sizeof f == sizeof value);
        std::memcpy(&f, &value, sizeof f);
        int k = std::snprintf(nullptr, 0, "%f", static_cast<double>(f));
        text.resize(static_cast<size_t>(k) + 1);
        std::snprintf(text.data(), text.size(), "%f", static_cast<double>(f));
        text.resize(static_cast<size_t>(k));
        break;
    }
    case DISP_STR:
        append_string(text, bounded_copy(bytes, avail, nbytes), nbytes);
        break;
    case DISP_MAC:
        text = bin2colonhex(bounded_copy(bytes, avail, nbytes), nbytes);
        break;
    case DISP_OID:
        text = oid_text(bounded_copy(bytes, avail, nbytes), nbytes);
        break;
    default:
        text.append(tmp, static_cast<size_t>(std::snprintf(tmp, sizeof tmp, "0x%lx", static_cast<unsigned long>(value))));
        break;
    }
    limit(text, max);
}

void format_field_value(const DecodeElement& e, const uint8_t* data, uint32_t length, std::string& text,
                        size_t max) {
    uint32_t byte = e.offset / 8;
    const uint8_t* p = data && byte < length ? data + byte : nullptr;
    size_t avail = p ? length - byte : 0;
    format_value(e.field(), e.width, e.offset % 8, e.value, p, avail, e.offset, text, max);
}

void format_field(const DecodeElement& e, const uint8_t* data, uint32_t length, std::string& text, size_t max) {
    text.clear();
    const Field* f = e.field();
    if (e.width == 0) return;
    uint32_t byte = e.offset / 8;
    const uint8_t* p = data && byte < length ? data + byte : nullptr;
    size_t avail = p ? length - byte : 0;
    uint32_t flags = f ? f->flags_ : 0;
    uint32_t value = e.value;
    if (flags & FLD_BITSWAP) {
        // The swapped copy stands for the field's bytes.
        size_t n = e.width / 8 + 2;
        uint8_t* copy = bounded_copy(swap_scratch(), p, avail, n);
        bitswap(copy, static_cast<int>(e.offset % 8), static_cast<long>(e.width));
        p = copy;
        avail = n;
        if (e.width <= 32) {
            uint32_t r = 0;
            for (uint32_t i = 0; i < e.width; ++i) r |= ((value >> i) & 1u) << (e.width - 1 - i);
            value = r;
        }
    } else if (flags & FLD_BYTESWAP) {
        size_t n = std::max<size_t>(e.width / 8 + 1, 2);
        uint8_t* copy = bounded_copy(swap_scratch(), p, avail, n);
        std::swap(copy[0], copy[1]);
        p = copy;
        avail = n;
        if (e.width <= 32) value = ((value & 0xFFu) << 8) | ((value >> 8) & 0xFFu);
    }
    if (e.width <= 32 && f) {
        for (const Symbol* s = f->legal_values_; s; s = s->next_) {
            if (s->length_ == 0 && s->number() == value && s->name()) {
                text = s->name();
                limit(text, max);
                return;
            }
        }
    }
    format_value(f, e.width, e.offset % 8, value, p, avail, e.offset, text, max);
}

void hex_dump(const uint8_t* b, size_t n, std::string& out, bool crlf, CharSet charset) {
    std::string column;
    char tmp[32];
    for (size_t i = 0; i < n; ++i) {
        size_t pos = i % 16;
        if (pos == 0) {
            if (i > 0) out += column;
            column.assign(4, ' ');
            int k = std::snprintf(tmp, sizeof tmp, crlf ? "\n\r%5lx:  " : "\n%5lx:  ", static_cast<unsigned long>(i));
            out.append(tmp, static_cast<size_t>(k));
        } else if (pos % 4 == 0) {
            out += "  ";
        }
        int k = std::snprintf(tmp, sizeof tmp, "%02x", b[i]);
        out.append(tmp, static_cast<size_t>(k));
        uint8_t c = charset == CHARSET_EBCDIC ? kEbcdic[b[i]] : b[i];
        column.push_back(c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '.');
        if (i + 1 == n) {
            int pad = (3 - static_cast<int>(pos) / 4 - static_cast<int>(pos)) * 2 + 30;
            out.append(static_cast<size_t>(pad), ' ');
            out += column;
        }
    }
    out += "\n";
}

}  // namespace zm
